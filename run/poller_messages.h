#pragma once

// The poller's notifications to the main window. The numbers are the notifications'
// identities; the window dispatches on them.
inline constexpr unsigned WM_STATUS_UPDATE =
    0x5F5;                                       // wParam displayed speed, lParam remaining time
inline constexpr unsigned WM_RUN_STATE = 0x5F6;  // wParam run flag, lParam second state byte
// A cycle's status query went unanswered (or was judged failed); wParam 1 when the port itself
// went away. The window's handlers ignore it; the run engine watches the link with it.
inline constexpr unsigned WM_POLL_FAILED = 0x5F7;

// The receiver of the poller's notifications (the main window).
class IPollerReceiver {
  public:
    // Crosses threads: called on the receiver's own thread (the thread of the context object
    // handed to the poller with it), also inside a nested modal loop there, while the poller
    // thread waits for the call to return. The result is not used by the poller.
    virtual int OnPollerMessage(unsigned message, long wParam, long lParam) = 0;

  protected:
    ~IPollerReceiver() = default;
};
