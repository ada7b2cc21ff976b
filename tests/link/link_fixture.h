#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "sim/simulated_shaker.h"

// A directory of its own for each test program, so parallel tests never share a log.
class CTempDir {
  public:
    CTempDir();
    ~CTempDir();
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

std::string ReadWholeFile(const std::string& path);
std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);

// A channel open on a running simulated shaker with the protocol on it, its log in a temporary
// directory and the byte pause shortened (tests that check pacing set it back to 50 ms).
class ChannelOnSimulator : public ::testing::Test {
  protected:
    explicit ChannelOnSimulator(SimOptions options = {}) : m_shaker(std::move(options)) {}

    void SetUp() override;
    void TearDown() override;

    CSerialChannel& Channel() { return m_channel; }
    CShakerProtocol& Protocol() { return m_protocol; }
    CSimulatedShaker& Shaker() { return m_shaker; }
    std::string Log() const { return ReadWholeFile(m_channel.LogPath()); }
    // Opens the shaker's port again (a new session: the log is emptied).
    int OpenAgain(int baud = CSerialChannel::kDefaultBaudRate) {
        return m_channel.Open(m_shaker.SlavePath(), baud);
    }

  private:
    CTempDir m_logDir;
    CSimulatedShaker m_shaker;
    CSerialChannel m_channel;
    CShakerProtocol m_protocol{m_channel};
};
