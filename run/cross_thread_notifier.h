#pragma once

#include <QMetaObject>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class IPollerReceiver;
class QObject;
class QThread;

// Carries notifications from a worker thread to the receiver's thread and makes the worker
// wait until each has been handled there, as a synchronously sent window message would.
// One notifier serves one worker thread run; the worker and the queued calls share it.
class CCrossThreadNotifier : public std::enable_shared_from_this<CCrossThreadNotifier> {
  public:
    // `context` is a QObject living on the receiver's thread, whose event loop (nested modal
    // loops included) runs the handler. Call on that thread. The notifier cancels itself when
    // the context is destroyed.
    static std::shared_ptr<CCrossThreadNotifier> Create(IPollerReceiver* receiver,
                                                        QObject* context);
    ~CCrossThreadNotifier();
    CCrossThreadNotifier(const CCrossThreadNotifier&) = delete;
    CCrossThreadNotifier& operator=(const CCrossThreadNotifier&) = delete;

    // Worker thread: hands one notification over and waits until it has been handled. False
    // at once when there is no receiver, and when the notifier is or gets cancelled.
    bool Deliver(unsigned message, long wParam, long lParam);

    // Any thread: drops the notification being waited on and every later one, and releases
    // the waiting worker at once. For a receiver that is going away, or a thread joining the
    // worker from the receiver's own thread, which could otherwise never handle it.
    void Cancel();
    bool IsCancelled() const;

    // True when called on the thread that handles the notifications.
    bool OnReceiverThread() const;

  private:
    struct TicketGuard;
    CCrossThreadNotifier(IPollerReceiver* receiver, QObject* context);
    void HandleOnReceiverThread(std::uint64_t ticket, unsigned message, long wParam, long lParam);
    void Finish(std::uint64_t ticket);

    IPollerReceiver* const m_pReceiver;
    QObject* const m_pContext;
    QThread* const m_pReceiverThread;
    QMetaObject::Connection m_contextDestroyed;

    // Protects m_bCancelled and both tickets, and is held while a call is posted, so a
    // context being destroyed (which cancels) never gets a call posted after that.
    // m_finishedCv signals a change of m_bCancelled or m_nFinishedTicket.
    mutable std::mutex m_mutex;
    std::condition_variable m_finishedCv;
    bool m_bCancelled = false;
    std::uint64_t m_nPostedTicket = 0;
    std::uint64_t m_nFinishedTicket = 0;  // the latest notification handled or discarded
};
