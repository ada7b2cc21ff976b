#include "run/instrument_connection.h"

#include "link/serial_channel.h"
#include "run/connection_host.h"

CInstrumentConnection::CInstrumentConnection(IConnectionHost& host) : m_host(host) {}

void CInstrumentConnection::ConnectInstrument() {
    CSerialChannel& channel = *CSerialChannel::Instance();
    m_host.ChoosePort(channel);

    const bool connected = channel.Open() != 0 && channel.Handshake() != 0;
    if (connected) {
        m_eDeviceType = Identify();
        m_host.ShowSettings();
        return;
    }
    m_host.ShowInformation(IConnectionHost::kConnectFailedString);
    m_nConnectionFailed = 1;
}

void CInstrumentConnection::Reset() {
    m_nConnectionFailed = 0;
    m_eDeviceType = DeviceKV41;
    m_strDeviceId.clear();
}

void CInstrumentConnection::SetOutcome(bool failed, DeviceType type) {
    m_nConnectionFailed = failed ? 1 : 0;
    if (!failed) {
        m_eDeviceType = type;
    }
}

DeviceType CInstrumentConnection::Identify(const CExchangeCancel* cancel,
                                           const std::function<void(int, int)>& progress) {
    CSerialChannel& channel = *CSerialChannel::Instance();
    std::string id;
    bool ended = false;
    constexpr int kCount = kLastIdIndex - kFirstIdIndex + 1;
    for (int index = kFirstIdIndex; index <= kLastIdIndex; ++index) {
        if (progress) {
            progress(index - kFirstIdIndex + 1, kCount);
        }
        char character = 0;
        if (channel.QueryIdChar(index, character, cancel) == 0) {
            break;
        }
        // An instrument pads a short ID with zero bytes. Whatever follows the first one is
        // not part of the ID; the rest is still read so the instrument sees the usual requests.
        if (character == '\0') {
            ended = true;
        }
        if (!ended) {
            id.push_back(character);
        }
    }
    m_strDeviceId = id;
    return ClassifyDeviceId(id);
}

void CInstrumentConnection::DisableIfUnknown(DeviceType type) {
    if (type != DeviceUnlisted) {
        return;
    }
    for (int controlId :
         {IConnectionHost::kTimeEntry, IConnectionHost::kTimeSpin, IConnectionHost::kSpeedEntry,
          IConnectionHost::kSpeedSpin, IConnectionHost::kStartButton}) {
        m_host.EnableControl(controlId, false);
    }
}
