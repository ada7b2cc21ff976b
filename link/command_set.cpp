// The instrument's six commands: one request, one reply of fixed length, judged by its
// checksum and, for acknowledgements, by byte 2, for status replies also by the speeds. The
// start byte and the echoed command code are never examined.
#include "link/frames.h"
#include "link/serial_channel.h"

namespace {

constexpr int kAckTimeoutMs = 2000;
constexpr int kStatusTimeoutMs = 5000;
constexpr int kIdCharTimeoutMs = 10000;

bool Accepted(const std::vector<std::uint8_t>& ack) {
    return ChecksumMatches(ack) && ack[AckFrame::kStatus] == 0;
}

// One reply in 256 of random bytes passes the checksum; an instrument never runs this fast.
bool PlausibleStatus(const std::vector<std::uint8_t>& status) {
    return ReadU16(status, StatusFrame::kSpeedSetpoint) <= CSerialChannel::kHighestPlausibleSpeed &&
           ReadU16(status, StatusFrame::kActualSpeed) <= CSerialChannel::kHighestPlausibleSpeed;
}

}  // namespace

int CSerialChannel::Exchange(std::uint8_t code, int param, std::vector<std::uint8_t>& reply,
                             int timeoutMs, const CExchangeCancel* cancel) {
    const auto request = BuildCommand(code, param);
    std::lock_guard lock(m_exchangeMutex);
    if (!SendLocked(request.data(), static_cast<int>(request.size()), cancel)) {
        return 0;
    }
    return ReceiveLocked(reply.data(), static_cast<int>(reply.size()), timeoutMs, cancel);
}

int CSerialChannel::Handshake(const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeHandshake, 0, ack, kAckTimeoutMs, cancel) && Accepted(ack) ? 1 : 0;
}

int CSerialChannel::QueryRunState(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel) {
    block.assign(RunStateFrame::kLength, 0);
    const bool good =
        Exchange(kCodeRunState, 0, block, kStatusTimeoutMs, cancel) && ChecksumMatches(block);
    return good ? 1 : 0;
}

int CSerialChannel::QueryStatus(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel) {
    block.assign(StatusFrame::kLength, 0);
    const bool good = Exchange(kCodeStatus, 0, block, kStatusTimeoutMs, cancel) &&
                      ChecksumMatches(block) && PlausibleStatus(block);
    return good ? 1 : 0;
}

int CSerialChannel::QueryIdChar(int index, char& character, const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    character = '\0';
    if (!Exchange(kCodeIdChar, index, ack, kIdCharTimeoutMs, cancel) || !ChecksumMatches(ack)) {
        return 0;
    }
    character = static_cast<char>(ack[AckFrame::kCharacter]);
    return 1;
}

int CSerialChannel::SetSpeed(int speed, const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeSetSpeed, speed, ack, kAckTimeoutMs, cancel) && Accepted(ack) ? 1 : 0;
}

int CSerialChannel::SetTime(int time, const CExchangeCancel* cancel) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeSetTime, time, ack, kAckTimeoutMs, cancel) && Accepted(ack) ? 1 : 0;
}
