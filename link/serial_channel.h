#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "link/exchange_cancel.h"
#include "link/port_io.h"
#include "link/traffic_log.h"

struct termios;

// One serial connection to an instrument, with its traffic log: the transport. It knows
// nothing of the instrument's frames beyond their length (CShakerProtocol speaks them). Each
// instrument's engine owns one; every operation returns 1 on success and 0 on failure.
class CSerialChannel {
  public:
    static constexpr const char* kDefaultPortName = "com1";
    static constexpr int kDefaultBaudRate = 9600;

    CSerialChannel();
    ~CSerialChannel();
    CSerialChannel(const CSerialChannel&) = delete;
    CSerialChannel& operator=(const CSerialChannel&) = delete;

    // The port last handed to Open (COMn, a /dev name or a path), and its line speed.
    std::string PortName() const;
    int BaudRate() const;

    // Opens the port at `baud` and, once it is ours (opened and locked), empties the traffic
    // log: a program that can't get the port leaves the log of the one that has it alone.
    // The line's settings as they were are put back when the port is closed again.
    int Open(const std::string& portName, int baud);
    // Opens `path` after the port went away (a reconnection), at the same line speed and
    // keeping the traffic log of the session. The port name Open was given stays as it was.
    int Reopen(const std::string& path);
    int Configure(int fd);
    int Close();
    bool IsOpen() const;
    // The port went away (hang-up, its device gone) during an exchange since it was opened:
    // it won't answer again until it is opened anew.
    bool PortLost() const;

    // Raw halves of an exchange, for callers that speak a protocol of their own.
    // A cancelled `cancel` ends a wait at once with 0, but never inside a request: once its
    // first byte has left, the rest of the frame follows at the usual pace (the instrument
    // would take a cut frame and the next request together as one garbled frame).
    int Send(const std::uint8_t* bytes, int length, const CExchangeCancel* cancel = nullptr);
    int Receive(std::uint8_t* buffer, int length, int timeoutMs,
                const CExchangeCancel* cancel = nullptr);
    // Bytes taken by the last Receive, including any beyond the length it asked for.
    int ReceivedCount() const;

    // A request and a reply of reply.size() bytes as one exchange, under the channel's lock:
    // no other exchange can read this one's reply. The reply holds whatever arrived. A cancel
    // before the first byte sends nothing; a cancel after it completes the request and stops
    // waiting for the reply, which the next exchange then discards as stale.
    int Exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>& reply,
                 int timeoutMs, const CExchangeCancel* cancel = nullptr);

    // Stale input read and logged before one request; whatever is beyond is flushed unread.
    static constexpr int kStaleInputLimit = 64 * 1024;

    void ResetLog();
    void AppendLog(const std::string& text);
    std::string LogPath() const;
    // Test seam: where the traffic log is written (the executable's directory by default).
    void SetLogDirectory(const std::string& directory);
    // Test seam: the most the traffic log's two halves hold (CTrafficLog::kDefaultCapBytes).
    void SetLogCapBytes(std::uint64_t bytes);

    // Test seam: the pause after every request byte (50 ms on a real line).
    void SetBytePause(std::chrono::milliseconds pause);

  private:
    // Both take m_exchangeMutex as held by the caller.
    int SendLocked(const std::uint8_t* bytes, int length, const CExchangeCancel* cancel);
    int ReceiveLocked(std::uint8_t* buffer, int length, int timeoutMs,
                      const CExchangeCancel* cancel);
    // Reads and logs whatever is waiting before a request's last byte goes out: nothing the
    // instrument sent before then can be the reply to it. At most kStaleInputLimit bytes are
    // read; a flood beyond that is flushed unread.
    bool DiscardStaleInput();
    void CloseLocked();
    int OpenPort(const std::string& path, bool emptyLog);
    void NoteIo(PortIo result);

    // Held for a whole exchange, from a request's first byte until its reply is judged, and
    // by Open and Close; protects the use of the port descriptor (m_fd is written only under it).
    mutable std::mutex m_exchangeMutex;
    std::atomic<int> m_fd{-1};
    // The line's settings before Configure changed them, for Close to put back.
    std::unique_ptr<termios> m_savedLine;
    std::atomic<int> m_receivedCount{0};
    std::atomic<bool> m_portLost{false};

    // Protects m_portName; the other settings are atomics of their own.
    mutable std::mutex m_settingsMutex;
    std::string m_portName = kDefaultPortName;
    std::atomic<int> m_baudRate{kDefaultBaudRate};
    std::atomic<int> m_writeTimeoutMs{2000};
    std::atomic<long long> m_bytePauseMs{50};

    CTrafficLog m_log;
};
