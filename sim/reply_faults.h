#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/simulated_shaker.h"

struct InjectedFault {
    CSimulatedShaker::Fault fault;
    int detail = 0;
};

// One write to the master, `delay` after the request's last byte arrived.
struct ReplyWrite {
    std::chrono::milliseconds delay{0};
    std::vector<std::uint8_t> bytes;
};

// How a reply goes out with a fault applied: no writes at all, altered bytes, several blocks
// or a late write.
std::vector<ReplyWrite> PlanReply(std::vector<std::uint8_t> reply, const InjectedFault* fault);
