#pragma once

#include <functional>
#include <string>

#include "run/device_type.h"

class CExchangeCancel;
class IConnectionHost;

// The start-up connection: port choice, open, handshake, device ID and type. Runs once, on
// the UI thread, while the main window initialises.
class CInstrumentConnection {
  public:
    // The instrument numbers the characters of its device ID 16 to 31.
    static constexpr int kFirstIdIndex = 16;
    static constexpr int kLastIdIndex = 31;

    explicit CInstrumentConnection(IConnectionHost& host);

    // Chooses the port, opens the channel, shakes hands and identifies the instrument. On
    // failure shows string 102 and sets the connection-failed flag; the device type then
    // keeps its initial value.
    void ConnectInstrument();

    // Reads the device ID one character at a time and classifies it. A failed read ends
    // the ID; a zero byte ends it too, though the remaining characters are still read.
    // Progress (characters read so far, of all) is reported from the thread that reads; a
    // cancelled `cancel` ends the reading at once, as a failed read does.
    DeviceType Identify(const CExchangeCancel* cancel = nullptr,
                        const std::function<void(int, int)>& progress = {});
    // For a connection run step by step (the run engine's): forget the last one, or record how
    // this one came out.
    void Reset();
    void SetOutcome(bool failed, DeviceType type);

    // For an instrument of no listed type disables the time and speed entries, their spin
    // buttons and Start.
    void DisableIfUnknown(DeviceType type);

    int ConnectionFailed() const { return m_nConnectionFailed; }
    DeviceType GetDeviceType() const { return m_eDeviceType; }
    // The ID as read by the last Identify(), before upper-casing.
    const std::string& LastDeviceId() const { return m_strDeviceId; }

  private:
    IConnectionHost& m_host;
    int m_nConnectionFailed = 0;
    // Left as is by a failed connection. Any of types 0..3 keeps the entries and Start
    // enabled, so Start can still tell the operator (string 103) to restart.
    DeviceType m_eDeviceType = DeviceKV41;
    std::string m_strDeviceId;
};
