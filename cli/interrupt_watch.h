#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// SIGINT, SIGTERM and SIGHUP delivered to the event loop. The handler only writes a byte to a
// pipe; the loop reads it and emits Interrupted(), or Abandoned() once a second signal has
// come, so the port is still closed (and its line settings given back) on the way out. A third
// signal never reaches the loop: the handler says so on standard error and ends the process at
// once with 130, so even a loop that no longer turns can be abandoned.
// SIGPIPE is ignored: a reader that went away must not end a run without its stop.
class CInterruptWatch : public QObject {
    Q_OBJECT
  public:
    explicit CInterruptWatch(QObject* parent = nullptr);
    ~CInterruptWatch() override;
    bool Installed() const { return m_notifier != nullptr; }

  signals:
    void Interrupted();
    void Abandoned();

  private:
    void Drain();
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_interruptEmitted = false;
};
