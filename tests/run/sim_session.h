#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "sim/simulated_shaker.h"

// A simulated shaker on a fresh pseudo-terminal and a channel with its protocol aimed at it,
// with the byte pause shortened and the traffic log in a directory of its own. The destructor
// closes the channel, then stops the shaker.
class CSimSession {
  public:
    explicit CSimSession(SimOptions options = {});
    ~CSimSession();
    CSimSession(const CSimSession&) = delete;
    CSimSession& operator=(const CSimSession&) = delete;

    CSimulatedShaker& Shaker() { return m_shaker; }
    CShakerProtocol& Protocol() { return m_protocol; }
    bool Started() const { return m_bStarted; }
    // Opens the channel on the shaker's port.
    bool OpenChannel();

  private:
    CSimulatedShaker m_shaker;
    CSerialChannel m_channel;
    CShakerProtocol m_protocol{m_channel};
    bool m_bStarted = false;
    std::string m_logDirectory;
};

// Reply frames with a correct checksum, for CSimulatedShaker::QueueReply.
std::vector<std::uint8_t> StatusReply(int speedSetpoint, int actualSpeed, int timeSetpoint,
                                      int remaining);
std::vector<std::uint8_t> RunStateReply(int runFlag, int secondState);
std::vector<std::uint8_t> AckReply(std::uint8_t code, std::uint8_t status);

// Runs the calling thread's event loop until `done` holds or the limit passes; false then.
bool ProcessEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(20));
