#include "run/cross_thread_notifier.h"

#include <QObject>
#include <QThread>

#include "run/poller_messages.h"

// Finishes its ticket when the queued call is destroyed, whether it ran or not: Qt discards
// the calls still queued when the application goes down, and the worker must not wait on
// those for ever.
struct CCrossThreadNotifier::TicketGuard {
    TicketGuard(std::shared_ptr<CCrossThreadNotifier> owner, std::uint64_t number)
        : notifier(std::move(owner)), ticket(number) {}
    ~TicketGuard() { notifier->Finish(ticket); }
    TicketGuard(const TicketGuard&) = delete;
    TicketGuard& operator=(const TicketGuard&) = delete;

    const std::shared_ptr<CCrossThreadNotifier> notifier;
    const std::uint64_t ticket;
};

std::shared_ptr<CCrossThreadNotifier> CCrossThreadNotifier::Create(IPollerReceiver* receiver,
                                                                   QObject* context) {
    std::shared_ptr<CCrossThreadNotifier> notifier(new CCrossThreadNotifier(receiver, context));
    if (context != nullptr) {
        // Direct connection: runs on the context's thread while it is being destroyed, before
        // its queued calls are discarded.
        std::weak_ptr<CCrossThreadNotifier> weak = notifier;
        notifier->m_contextDestroyed = QObject::connect(context, &QObject::destroyed, [weak] {
            if (auto alive = weak.lock()) {
                alive->Cancel();
            }
        });
    }
    return notifier;
}

CCrossThreadNotifier::CCrossThreadNotifier(IPollerReceiver* receiver, QObject* context)
    : m_pReceiver(receiver),
      m_pContext(context),
      m_pReceiverThread(context != nullptr ? context->thread() : nullptr) {}

CCrossThreadNotifier::~CCrossThreadNotifier() {
    QObject::disconnect(m_contextDestroyed);
}

bool CCrossThreadNotifier::Deliver(unsigned message, long wParam, long lParam) {
    if (m_pReceiver == nullptr || m_pContext == nullptr) {
        return false;
    }
    // Destroyed only once the lock is released: its destructor takes the lock.
    std::shared_ptr<TicketGuard> guard;
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_bCancelled) {
            return false;
        }
        ticket = ++m_nPostedTicket;
        guard = std::make_shared<TicketGuard>(shared_from_this(), ticket);
        QMetaObject::invokeMethod(
            m_pContext,
            [guard, message, wParam, lParam] {
                guard->notifier->HandleOnReceiverThread(guard->ticket, message, wParam, lParam);
            },
            Qt::QueuedConnection);
    }
    guard.reset();

    std::unique_lock lock(m_mutex);
    m_finishedCv.wait(lock, [&] { return m_bCancelled || m_nFinishedTicket >= ticket; });
    return !m_bCancelled;
}

void CCrossThreadNotifier::HandleOnReceiverThread(std::uint64_t ticket, unsigned message,
                                                  long wParam, long lParam) {
    // A cancelled receiver may already be gone: it must not be touched.
    if (IsCancelled()) {
        return;
    }
    m_pReceiver->OnPollerMessage(message, wParam, lParam);
    Finish(ticket);
}

void CCrossThreadNotifier::Finish(std::uint64_t ticket) {
    {
        std::lock_guard lock(m_mutex);
        if (ticket <= m_nFinishedTicket) {
            return;
        }
        m_nFinishedTicket = ticket;
    }
    m_finishedCv.notify_all();
}

void CCrossThreadNotifier::Cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_bCancelled = true;
    }
    m_finishedCv.notify_all();
}

bool CCrossThreadNotifier::IsCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_bCancelled;
}

bool CCrossThreadNotifier::OnReceiverThread() const {
    return m_pReceiverThread != nullptr && QThread::currentThread() == m_pReceiverThread;
}
