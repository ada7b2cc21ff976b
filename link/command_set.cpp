// The instrument's six commands: one request, one reply of fixed length, judged by its
// checksum and, for acknowledgements, by byte 2. The start byte and the echoed command code
// are never examined.
#include "link/frames.h"
#include "link/serial_channel.h"

namespace {

constexpr int kAckTimeoutMs = 2000;
constexpr int kStatusTimeoutMs = 5000;
constexpr int kIdCharTimeoutMs = 10000;

bool Accepted(const std::vector<std::uint8_t>& ack) {
    return ChecksumMatches(ack) && ack[AckFrame::kStatus] == 0;
}

}  // namespace

int CSerialChannel::Exchange(std::uint8_t code, int param, std::vector<std::uint8_t>& reply,
                             int timeoutMs) {
    const auto request = BuildCommand(code, param);
    std::lock_guard lock(m_exchangeMutex);
    if (!SendLocked(request.data(), static_cast<int>(request.size()))) {
        return 0;
    }
    return ReceiveLocked(reply.data(), static_cast<int>(reply.size()), timeoutMs);
}

int CSerialChannel::Handshake() {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeHandshake, 0, ack, kAckTimeoutMs) && Accepted(ack) ? 1 : 0;
}

int CSerialChannel::QueryRunState(std::vector<std::uint8_t>& block) {
    block.assign(RunStateFrame::kLength, 0);
    return Exchange(kCodeRunState, 0, block, kStatusTimeoutMs) && ChecksumMatches(block) ? 1 : 0;
}

int CSerialChannel::QueryStatus(std::vector<std::uint8_t>& block) {
    block.assign(StatusFrame::kLength, 0);
    return Exchange(kCodeStatus, 0, block, kStatusTimeoutMs) && ChecksumMatches(block) ? 1 : 0;
}

int CSerialChannel::QueryIdChar(int index, char& character) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    character = '\0';
    if (!Exchange(kCodeIdChar, index, ack, kIdCharTimeoutMs) || !ChecksumMatches(ack)) {
        return 0;
    }
    character = static_cast<char>(ack[AckFrame::kCharacter]);
    return 1;
}

int CSerialChannel::SetSpeed(int speed) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeSetSpeed, speed, ack, kAckTimeoutMs) && Accepted(ack) ? 1 : 0;
}

int CSerialChannel::SetTime(int time) {
    std::vector<std::uint8_t> ack(AckFrame::kLength, 0);
    return Exchange(kCodeSetTime, time, ack, kAckTimeoutMs) && Accepted(ack) ? 1 : 0;
}
