#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// SIGINT and SIGTERM delivered to the event loop. The handler only writes a byte to a pipe;
// the loop reads it and emits Interrupted(). A second signal never reaches the loop: the
// handler says so on standard error and ends the process at once with 130, so a hung stop
// can always be abandoned.
class CInterruptWatch : public QObject {
    Q_OBJECT
  public:
    explicit CInterruptWatch(QObject* parent = nullptr);
    ~CInterruptWatch() override;
    bool Installed() const { return m_notifier != nullptr; }

  signals:
    void Interrupted();

  private:
    void Drain();
    std::unique_ptr<QSocketNotifier> m_notifier;
};
