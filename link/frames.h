#pragma once

#include <array>
#include <cstdint>
#include <span>

// The instrument's frames. Every frame starts with 0xFE and ends with a checksum: the sum of
// all bytes after the first and before the last, mod 256. 16-bit values are big-endian.
// Pure helpers only: the simulated instrument and the run layer use them without a channel.

inline constexpr std::uint8_t kFrameStartByte = 0xFE;

// Command codes the program sends.
inline constexpr std::uint8_t kCodeHandshake = 0xA0;
inline constexpr std::uint8_t kCodeRunState = 0xA1;
inline constexpr std::uint8_t kCodeStatus = 0xA2;
inline constexpr std::uint8_t kCodeIdChar = 0xA3;
inline constexpr std::uint8_t kCodeSetSpeed = 0xB1;
inline constexpr std::uint8_t kCodeSetTime = 0xB2;

// Request, six bytes; commands without a parameter send 0.
struct CommandFrame {
    static constexpr int kLength = 6;
    static constexpr int kStart = 0;
    static constexpr int kCode = 1;
    static constexpr int kParamHigh = 2;
    static constexpr int kParamLow = 3;
    static constexpr int kReserved = 4;
    static constexpr int kChecksum = 5;
};

// Reply to 0xA0, 0xA3, 0xB1, 0xB2. Byte 2 is 0 for "accepted", or the requested character.
struct AckFrame {
    static constexpr int kLength = 6;
    static constexpr int kEcho = 1;
    static constexpr int kStatus = 2;
    static constexpr int kCharacter = 2;
    static constexpr int kChecksum = 5;
};

// Reply to 0xA2; every value is a 16-bit big-endian pair starting at its offset.
struct StatusFrame {
    static constexpr int kLength = 11;
    static constexpr int kEcho = 1;
    static constexpr int kSpeedSetpoint = 2;  // 1/min
    static constexpr int kActualSpeed = 4;    // 1/min
    static constexpr int kTimeSetpoint = 6;   // the instrument's time units
    static constexpr int kRemaining = 8;      // same units
    static constexpr int kChecksum = 10;
};

// Reply to 0xA1.
struct RunStateFrame {
    static constexpr int kLength = 8;
    static constexpr int kEcho = 1;
    static constexpr int kRunFlag = 3;  // 0: not running
    static constexpr int kSecondState = 4;
    static constexpr int kChecksum = 7;
};

// Sum of bytes 1 .. size-2, mod 256; 0 for a frame too short to carry one.
constexpr std::uint8_t FrameChecksum(std::span<const std::uint8_t> frame) {
    unsigned sum = 0;
    for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
        sum += frame[i];
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

// A frame of fewer than two bytes has no checksum to match.
constexpr bool ChecksumMatches(std::span<const std::uint8_t> frame) {
    return frame.size() >= 2 && FrameChecksum(frame) == frame[frame.size() - 1];
}

// Writes the checksum into the last byte.
constexpr void SealFrame(std::span<std::uint8_t> frame) {
    if (frame.size() >= 2) {
        frame[frame.size() - 1] = FrameChecksum(frame);
    }
}

// Only the low 16 bits of the parameter travel.
constexpr std::array<std::uint8_t, CommandFrame::kLength> BuildCommand(std::uint8_t code,
                                                                       int param = 0) {
    const auto bits = static_cast<unsigned>(param) & 0xFFFFu;
    std::array<std::uint8_t, CommandFrame::kLength> frame{};
    frame[CommandFrame::kStart] = kFrameStartByte;
    frame[CommandFrame::kCode] = code;
    frame[CommandFrame::kParamHigh] = static_cast<std::uint8_t>(bits >> 8);
    frame[CommandFrame::kParamLow] = static_cast<std::uint8_t>(bits & 0xFF);
    frame[CommandFrame::kReserved] = 0;
    SealFrame(frame);
    return frame;
}

// The big-endian 16-bit value at offset; 0 when the frame is too short to hold it.
constexpr int ReadU16(std::span<const std::uint8_t> frame, int offset) {
    if (offset < 0 || static_cast<std::size_t>(offset) + 2 > frame.size()) {
        return 0;
    }
    return (frame[offset] << 8) | frame[offset + 1];
}

constexpr void WriteU16(std::span<std::uint8_t> frame, int offset, int value) {
    if (offset < 0 || static_cast<std::size_t>(offset) + 2 > frame.size()) {
        return;
    }
    const auto bits = static_cast<unsigned>(value) & 0xFFFFu;
    frame[offset] = static_cast<std::uint8_t>(bits >> 8);
    frame[offset + 1] = static_cast<std::uint8_t>(bits & 0xFF);
}

// The parameter a request carries.
constexpr int CommandParam(std::span<const std::uint8_t> request) {
    return ReadU16(request, CommandFrame::kParamHigh);
}
