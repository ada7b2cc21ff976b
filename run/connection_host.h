#pragma once

class CSerialChannel;

// What the connection sequence needs from the main window. The window implements it; the
// sequence itself stays free of dialogs and widgets. All calls come on the UI thread.
class IConnectionHost {
  public:
    // Controls disabled for an instrument of no listed type, in this order.
    static constexpr int kTimeEntry = 1002;
    static constexpr int kTimeSpin = 1003;
    static constexpr int kSpeedEntry = 1004;
    static constexpr int kSpeedSpin = 1005;
    static constexpr int kStartButton = 1006;

    // String 102, "Failed to connect the instrument".
    static constexpr int kConnectFailedString = 102;

    // Shows the port setting dialog modally; on OK sets the channel's port name and baud rate,
    // on Cancel leaves them as they are.
    virtual void ChoosePort(CSerialChannel& channel) = 0;
    // Shows the information dialog with a string from the table and returns once it is closed.
    virtual void ShowInformation(int stringId) = 0;
    // Puts the instrument's setpoints on the readouts and leaves the window idle.
    virtual void ShowSettings() = 0;
    virtual void EnableControl(int controlId, bool enable) = 0;

  protected:
    ~IConnectionHost() = default;
};
