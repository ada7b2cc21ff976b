#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/frames.h"
#include "sim/shaker_model.h"

// The shaker's own reply to a request, with start byte 0xFE, byte 1 echoing the command code
// and a right checksum; nothing for a code it does not know. Requests change the model.
std::optional<std::vector<std::uint8_t>> ShakerReply(
    const std::array<std::uint8_t, CommandFrame::kLength>& request, CShakerModel& model,
    const std::string& deviceId, std::chrono::steady_clock::time_point now);
