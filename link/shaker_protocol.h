#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CExchangeCancel;
class CSerialChannel;

// The shaker's six commands over a channel: one six-byte request, one reply of fixed length,
// judged by its checksum and, for acknowledgements, by byte 2, for status replies also by the
// speeds. The start byte and the echoed command code are never examined. Each operation
// returns 1 for a good reply and 0 otherwise; an exchange handed a `cancel` that is or gets
// cancelled ends at the next frame boundary with 0.
class CShakerProtocol {
  public:
    // The instrument numbers the characters of its device ID 16 to 31.
    static constexpr int kFirstIdIndex = 16;
    static constexpr int kLastIdIndex = 31;
    static constexpr int kIdLength = kLastIdIndex - kFirstIdIndex + 1;
    // Twice the highest speed any entry accepts, 1/min: the bound until the instrument's type
    // is known.
    static constexpr int kHighestPlausibleSpeed = 1600;

    explicit CShakerProtocol(CSerialChannel& channel) : m_channel(channel) {}

    int Handshake(const CExchangeCancel* cancel = nullptr);
    // The reply blocks are sized by the command (8 and 11 bytes) and hold whatever arrived,
    // whatever the outcome.
    int QueryRunState(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel = nullptr);
    // A reply that contradicts itself fails like a bad checksum: a speed above the plausible
    // bound, or more time remaining than the time setpoint of the same reply. It is line noise
    // that happened to match, not anything an instrument could report.
    int QueryStatus(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel = nullptr);
    // On failure `character` is set to '\0'.
    int QueryIdChar(int index, char& character, const CExchangeCancel* cancel = nullptr);
    int SetSpeed(int speed, const CExchangeCancel* cancel = nullptr);
    int SetTime(int time, const CExchangeCancel* cancel = nullptr);

    // The device ID, one character per request, indices 16 to 31. A failed read ends the ID
    // and keeps what was read; a zero byte ends it too, though the remaining characters are
    // still asked for so the instrument sees the usual requests. `progress` hears (n, 16)
    // before the n-th request, on the calling thread.
    std::string ReadDeviceId(const CExchangeCancel* cancel = nullptr,
                             const std::function<void(int, int)>& progress = {});

    CSerialChannel& Channel() { return m_channel; }
    // The fastest speed a status reply may report for the connected type (read from more than
    // one thread).
    void SetHighestPlausibleSpeed(int speed) { m_highestPlausibleSpeed = speed; }

  private:
    int Exchange(std::uint8_t code, int param, std::vector<std::uint8_t>& reply, int timeoutMs,
                 const CExchangeCancel* cancel);

    CSerialChannel& m_channel;
    std::atomic<int> m_highestPlausibleSpeed{kHighestPlausibleSpeed};
};
