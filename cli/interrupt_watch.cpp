#include "cli/interrupt_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "run/stop_signals.h"

namespace {

// Written by the signal handler, read by the event loop.
int g_pipe[2] = {-1, -1};
// Lock-free, so the handler may count with it.
std::atomic<int> g_signals{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kAbandonText[] =
    "\nvelmora-cli: interrupted a third time: exiting now; the instrument was NOT stopped\n";

void OnSignal(int) {
    const int savedErrno = errno;
    if (g_signals.fetch_add(1) >= 2) {
        [[maybe_unused]] const ssize_t ignored =
            write(STDERR_FILENO, kAbandonText, sizeof kAbandonText - 1);
        _exit(130);
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

CInterruptWatch::CInterruptWatch(QObject* parent) : QObject(parent) {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CInterruptWatch::Drain);
    CatchStopSignals(OnSignal);
    // A closed terminal ends the session as Ctrl-C does.
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

CInterruptWatch::~CInterruptWatch() {
    if (m_notifier) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        m_notifier.reset();
        close(g_pipe[0]);
        close(g_pipe[1]);
    }
}

void CInterruptWatch::Drain() {
    char bytes[16];
    while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    // Two signals before the loop saw the first: no stop is begun only to be cut off.
    if (g_signals.load() >= 2) {
        emit Abandoned();
    } else if (!m_interruptEmitted) {
        m_interruptEmitted = true;
        emit Interrupted();
    }
}
