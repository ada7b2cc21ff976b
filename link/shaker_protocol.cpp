#include "link/shaker_protocol.h"

#include "link/frames.h"
#include "link/serial_channel.h"

namespace {

constexpr int kAckTimeoutMs = 2000;
constexpr int kStatusTimeoutMs = 5000;
constexpr int kIdCharTimeoutMs = 10000;

bool Accepted(const std::vector<std::uint8_t>& ack) {
    return ChecksumMatches(ack) && ack[AckFrame::kStatus] == 0;
}

// One reply in 256 of random bytes passes the checksum; an instrument never runs this fast,
// nor has more time left than it was set to.
bool PlausibleStatus(const std::vector<std::uint8_t>& status, int highestSpeed) {
    return ReadU16(status, StatusFrame::kSpeedSetpoint) <= highestSpeed &&
           ReadU16(status, StatusFrame::kActualSpeed) <= highestSpeed &&
           ReadU16(status, StatusFrame::kRemaining) <= ReadU16(status, StatusFrame::kTimeSetpoint);
}

}  // namespace

int CShakerProtocol::Exchange(std::uint8_t code, int param, std::vector<std::uint8_t>& reply,
                              int timeoutMs, const CExchangeCancel* cancel) {
    const auto request = BuildCommand(code, param);
    return m_channel.Exchange(request, reply, timeoutMs, cancel);
}

int CShakerProtocol::Handshake(const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeHandshake, 0, ack, kAckTimeoutMs, cancel) && Accepted(ack) ? 1 : 0;
}

int CShakerProtocol::QueryRunState(std::vector<std::uint8_t>& block,
                                   const CExchangeCancel* cancel) {
    block.assign(RunStateFrame::kLength, 0);
    const bool good =
        Exchange(kCodeRunState, 0, block, kStatusTimeoutMs, cancel) && ChecksumMatches(block);
    return good ? 1 : 0;
}

int CShakerProtocol::QueryStatus(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel) {
    block.assign(StatusFrame::kLength, 0);
    const bool good = Exchange(kCodeStatus, 0, block, kStatusTimeoutMs, cancel) &&
                      ChecksumMatches(block) &&
                      PlausibleStatus(block, m_highestPlausibleSpeed.load());
    return good ? 1 : 0;
}

int CShakerProtocol::QueryIdChar(int index, char& character, const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    character = '\0';
    if (!Exchange(kCodeIdChar, index, ack, kIdCharTimeoutMs, cancel) || !ChecksumMatches(ack)) {
        return 0;
    }
    character = static_cast<char>(ack[AckFrame::kCharacter]);
    return 1;
}

int CShakerProtocol::SetSpeed(int speed, const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeSetSpeed, speed, ack, kAckTimeoutMs, cancel) && Accepted(ack) ? 1 : 0;
}

int CShakerProtocol::SetTime(int time, const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeSetTime, time, ack, kAckTimeoutMs, cancel) && Accepted(ack) ? 1 : 0;
}

std::string CShakerProtocol::ReadDeviceId(const CExchangeCancel* cancel,
                                          const std::function<void(int, int)>& progress) {
    std::string id;
    bool ended = false;
    for (int index = kFirstIdIndex; index <= kLastIdIndex; ++index) {
        if (progress) {
            progress(index - kFirstIdIndex + 1, kIdLength);
        }
        char character = 0;
        if (QueryIdChar(index, character, cancel) == 0) {
            break;
        }
        // An instrument pads a short ID with zero bytes: whatever follows the first one is
        // not part of the ID.
        ended = ended || character == '\0';
        if (!ended) {
            id.push_back(character);
        }
    }
    return id;
}
