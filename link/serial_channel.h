#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

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
    int Configure(int fd);
    int Close();
    bool IsOpen() const;

    // Raw halves of an exchange. The command set below runs both halves under the
    // channel lock; these are public for callers that speak a protocol of their own.
    int Send(const std::uint8_t* bytes, int length);
    int Receive(std::uint8_t* buffer, int length, int timeoutMs);

    // The instrument's command set. The reply blocks are sized by the command
    // (8 and 11 bytes) and hold whatever arrived, whatever the outcome.
    int Handshake();
    int QueryRunState(std::vector<std::uint8_t>& block);
    int QueryStatus(std::vector<std::uint8_t>& block);
    int QueryIdChar(int index, char& character);
    int SetSpeed(int speed);
    int SetTime(int time);

    void ResetLog();
    void AppendLog(const std::string& text);
    std::string LogPath() const;

    // Test seam: the pause after every request byte (50 ms on a real line).
    void SetBytePause(std::chrono::milliseconds pause);

    ~CSerialChannel();

private:
    CSerialChannel();
};
