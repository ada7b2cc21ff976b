#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_channel.h"
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

// The channel open on a running simulated shaker, its log in a temporary directory and the
// byte pause shortened (tests that check pacing set it back to 50 ms).
class ChannelOnSimulator : public ::testing::Test {
  protected:
    explicit ChannelOnSimulator(SimOptions options = {}) : m_shaker(std::move(options)) {}

    void SetUp() override;
    void TearDown() override;

    CSerialChannel& Channel() { return *CSerialChannel::Instance(); }
    CSimulatedShaker& Shaker() { return m_shaker; }
    std::string Log() const { return ReadWholeFile(CSerialChannel::Instance()->LogPath()); }

  private:
    CTempDir m_logDir;
    CSimulatedShaker m_shaker;
};
