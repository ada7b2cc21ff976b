#include "link/serial_channel.h"

#include <termios.h>

#include <algorithm>

#include "link/port_io.h"
#include "link/port_name.h"
#include "link/serial_line.h"

CSerialChannel::CSerialChannel() = default;

// The descriptor and its lock must not outlive the object, even if Close was skipped.
CSerialChannel::~CSerialChannel() {
    std::lock_guard lock(m_exchangeMutex);
    CloseLocked();
}

std::string CSerialChannel::PortName() const {
    std::lock_guard lock(m_settingsMutex);
    return m_portName;
}

int CSerialChannel::BaudRate() const {
    return m_baudRate;
}

void CSerialChannel::SetBytePause(std::chrono::milliseconds pause) {
    m_bytePauseMs = pause.count() < 0 ? 0 : pause.count();
}

bool CSerialChannel::IsOpen() const {
    return m_fd >= 0;
}

int CSerialChannel::ReceivedCount() const {
    return m_receivedCount;
}

// A failed Open leaves the channel closed: a half-configured descriptor would let later
// sends "succeed" into something that is not the instrument's line.
int CSerialChannel::Open(const std::string& portName, int baud) {
    {
        std::lock_guard lock(m_settingsMutex);
        m_portName = portName;
    }
    m_baudRate = baud;
    return OpenPort(SerialDevicePath(portName), true);
}

int CSerialChannel::Reopen(const std::string& path) {
    return OpenPort(SerialDevicePath(path), false);
}

int CSerialChannel::OpenPort(const std::string& path, bool emptyLog) {
    std::lock_guard lock(m_exchangeMutex);
    CloseLocked();
    const int fd = OpenSerialDevice(path);
    if (fd < 0) {
        return 0;
    }
    if (emptyLog) {
        ResetLog();
    }
    m_savedLine = SaveLineSettings(fd);
    m_fd = fd;
    m_portLost = false;
    if (!Configure(fd)) {
        CloseLocked();
        return 0;
    }
    return 1;
}

int CSerialChannel::Configure(int fd) {
    return ConfigureSerialLine(fd, m_baudRate) ? 1 : 0;
}

int CSerialChannel::Close() {
    std::lock_guard lock(m_exchangeMutex);
    CloseLocked();
    return 1;
}

void CSerialChannel::CloseLocked() {
    const int fd = m_fd.exchange(-1);
    CloseSerialDevice(fd, m_savedLine.get());
    m_savedLine.reset();
}

void CSerialChannel::NoteIo(PortIo result) {
    if (result == PortIo::Failed) {
        m_portLost = true;
    }
}

bool CSerialChannel::PortLost() const {
    return m_portLost.load();
}

void CSerialChannel::ResetLog() {
    m_log.Reset();
}

void CSerialChannel::AppendLog(const std::string& text) {
    m_log.Append(text);
}

std::string CSerialChannel::LogPath() const {
    return m_log.Path();
}

void CSerialChannel::SetLogDirectory(const std::string& directory) {
    m_log.SetDirectory(directory);
}

void CSerialChannel::SetLogCapBytes(std::uint64_t bytes) {
    m_log.SetCapBytes(bytes);
}

int CSerialChannel::Send(const std::uint8_t* bytes, int length, const CExchangeCancel* cancel) {
    std::lock_guard lock(m_exchangeMutex);
    return SendLocked(bytes, length, cancel);
}

int CSerialChannel::Receive(std::uint8_t* buffer, int length, int timeoutMs,
                            const CExchangeCancel* cancel) {
    std::lock_guard lock(m_exchangeMutex);
    return ReceiveLocked(buffer, length, timeoutMs, cancel);
}

int CSerialChannel::Exchange(std::span<const std::uint8_t> request,
                             std::vector<std::uint8_t>& reply, int timeoutMs,
                             const CExchangeCancel* cancel) {
    std::lock_guard lock(m_exchangeMutex);
    if (!SendLocked(request.data(), static_cast<int>(request.size()), cancel)) {
        return 0;
    }
    return ReceiveLocked(reply.data(), static_cast<int>(reply.size()), timeoutMs, cancel);
}

bool CSerialChannel::DiscardStaleInput() {
    const int fd = m_fd;
    std::vector<std::uint8_t> stale;
    bool more = false;
    if (const PortIo result = ReadQueued(fd, stale, kStaleInputLimit, more); result != PortIo::Ok) {
        NoteIo(result);
        return false;
    }
    if (!stale.empty()) {
        AppendLog("Discard:" + CTrafficLog::Hex(stale.data(), static_cast<int>(stale.size())) +
                  "\r\n");
    }
    if (more) {
        // Reading a flood under the exchange lock would hold everyone up for as long as it
        // lasts; none of it can be a reply to the request still being sent.
        tcflush(fd, TCIFLUSH);
    }
    return true;
}

namespace {

int WakeFdOf(const CExchangeCancel* cancel) {
    return cancel != nullptr ? cancel->WakeFd() : -1;
}

bool Cancelled(const CExchangeCancel* cancel) {
    return cancel != nullptr && cancel->IsCancelled();
}

}  // namespace

int CSerialChannel::SendLocked(const std::uint8_t* bytes, int length,
                               const CExchangeCancel* cancel) {
    const int fd = m_fd;
    if (fd < 0 || length < 0 || (bytes == nullptr && length > 0) || Cancelled(cancel)) {
        return 0;
    }
    AppendLog("Send:" + CTrafficLog::Hex(bytes, length) + "\r\n");
    if (length == 0) {
        return 0;
    }
    const std::chrono::milliseconds pause{m_bytePauseMs.load()};
    const std::chrono::milliseconds writeTimeout{m_writeTimeoutMs.load()};
    for (int i = 0; i < length; ++i) {
        if (i == length - 1 && !DiscardStaleInput()) {
            return 0;
        }
        // Once the first byte is out, the frame is finished whatever happens: a cancel waits
        // for it (at most five bytes and their pauses), so the line never carries half a frame.
        if (i == 0 && Cancelled(cancel)) {
            return 0;
        }
        if (const PortIo result =
                WriteByte(fd, bytes[i], std::chrono::steady_clock::now() + writeTimeout,
                          i == 0 ? WakeFdOf(cancel) : -1);
            result != PortIo::Ok) {
            NoteIo(result);
            return 0;
        }
        // The pause counts from the byte having left, so no two bytes are closer than it. Only
        // the pause after the last byte may be cut short.
        const int pauseWakeFd = i == length - 1 ? WakeFdOf(cancel) : -1;
        if (PauseUntil(std::chrono::steady_clock::now() + pause, pauseWakeFd) != PortIo::Ok) {
            return 0;
        }
    }
    return Cancelled(cancel) ? 0 : 1;
}

int CSerialChannel::ReceiveLocked(std::uint8_t* buffer, int length, int timeoutMs,
                                  const CExchangeCancel* cancel) {
    if (length < 0 || (buffer == nullptr && length > 0)) {
        return 0;
    }
    // The line is written whole once the receive ends: one write instead of one per block.
    std::string line = "Receive:";
    m_receivedCount = 0;
    const int fd = m_fd;
    const int wakeFd = WakeFdOf(cancel);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int received = 0;
    std::vector<std::uint8_t> block;
    while (fd >= 0 && received < length && !Cancelled(cancel)) {
        if (const PortIo result = ReadBlock(fd, block, deadline, wakeFd); result != PortIo::Ok) {
            NoteIo(result);
            break;
        }
        const int delivered = static_cast<int>(block.size());
        line += CTrafficLog::Hex(block.data(), delivered);
        const int wanted = std::min(delivered, length - received);
        std::copy(block.begin(), block.begin() + wanted, buffer + received);
        received += delivered;
        m_receivedCount = received;
    }
    AppendLog(line + "\r\n");
    return received >= length ? 1 : 0;
}
