#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/exchange_cancel.h"
#include "link/port_io.h"
#include "link/traffic_log.h"

// The program's one serial connection to the instrument, with its traffic log.
// Every operation returns 1 on success and 0 on failure; nothing throws.
class CSerialChannel {
  public:
    static CSerialChannel* Instance();
    static void DestroyInstance();

    void SetPortName(const std::string& name);
    void SetBaudRate(int baud);
    std::string PortName() const;
    int BaudRate() const;

    int Open();
    // Opens the port again after it went away, keeping the traffic log of the session.
    int Reopen();
    int Configure(int fd);
    int Close();
    bool IsOpen() const;
    // The port went away (hang-up, its device gone) during an exchange since it was opened:
    // it won't answer again until it is opened anew.
    bool PortLost() const;

    // Raw halves of an exchange. The command set below runs both halves under the
    // channel lock; these are public for callers that speak a protocol of their own.
    // A cancelled `cancel` ends any wait at once with 0; see CExchangeCancel.
    int Send(const std::uint8_t* bytes, int length, const CExchangeCancel* cancel = nullptr);
    int Receive(std::uint8_t* buffer, int length, int timeoutMs,
                const CExchangeCancel* cancel = nullptr);
    // Bytes taken by the last Receive, including any beyond the length it asked for.
    int ReceivedCount() const;

    // The instrument's command set. The reply blocks are sized by the command
    // (8 and 11 bytes) and hold whatever arrived, whatever the outcome. An exchange handed a
    // `cancel` that is or gets cancelled fails at once: it sends nothing more and stops
    // waiting for its reply, which the next exchange then discards as stale.
    int Handshake(const CExchangeCancel* cancel = nullptr);
    int QueryRunState(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel = nullptr);
    // A reply with a speed above kHighestPlausibleSpeed fails like a bad checksum: it is line
    // noise that happened to match, not anything an instrument could report.
    int QueryStatus(std::vector<std::uint8_t>& block, const CExchangeCancel* cancel = nullptr);
    // On failure `character` is set to '\0'.
    int QueryIdChar(int index, char& character, const CExchangeCancel* cancel = nullptr);
    int SetSpeed(int speed, const CExchangeCancel* cancel = nullptr);
    int SetTime(int time, const CExchangeCancel* cancel = nullptr);

    // Twice the highest speed any entry accepts, 1/min.
    static constexpr int kHighestPlausibleSpeed = 1600;
    // Stale input read and logged before one request; whatever is beyond is flushed unread.
    static constexpr int kStaleInputLimit = 64 * 1024;

    void ResetLog();
    void AppendLog(const std::string& text);
    std::string LogPath() const;
    // Test seam: where the traffic log is written (the executable's directory by default).
    void SetLogDirectory(const std::string& directory);

    // Test seam: the pause after every request byte (50 ms on a real line).
    void SetBytePause(std::chrono::milliseconds pause);

    ~CSerialChannel();

  private:
    CSerialChannel();

    // Both take m_exchangeMutex as held by the caller.
    int SendLocked(const std::uint8_t* bytes, int length, const CExchangeCancel* cancel);
    int ReceiveLocked(std::uint8_t* buffer, int length, int timeoutMs,
                      const CExchangeCancel* cancel);
    // Sends a request and collects a reply of reply.size() bytes as one exchange.
    int Exchange(std::uint8_t code, int param, std::vector<std::uint8_t>& reply, int timeoutMs,
                 const CExchangeCancel* cancel);
    // Reads and logs whatever is waiting before a request's last byte goes out: nothing the
    // instrument sent before then can be the reply to it. At most kStaleInputLimit bytes are
    // read; a flood beyond that is flushed unread.
    bool DiscardStaleInput();
    void CloseLocked();
    int OpenPort(bool emptyLog);
    void NoteIo(PortIo result);

    // Held for a whole exchange, from a request's first byte until its reply is judged, and
    // by Open and Close; protects the use of the port descriptor (m_fd is written only under it).
    mutable std::mutex m_exchangeMutex;
    std::atomic<int> m_fd{-1};
    std::atomic<int> m_receivedCount{0};
    std::atomic<bool> m_portLost{false};

    // Protects m_portName; the other settings are atomics of their own.
    mutable std::mutex m_settingsMutex;
    std::string m_portName = "com1";
    std::atomic<int> m_baudRate{9600};
    std::atomic<int> m_writeTimeoutMs{2000};
    std::atomic<long long> m_bytePauseMs{50};

    CTrafficLog m_log;
};
