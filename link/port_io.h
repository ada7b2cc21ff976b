#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

// Byte-level I/O on a non-blocking serial descriptor, with waits bounded by monotonic
// deadlines. A port that has gone away (hang-up, error, end of file, EIO/ENXIO/ENODEV)
// fails at once instead of being waited on.

enum class PortIo { Ok, TimedOut, Failed };

using PortDeadline = std::chrono::steady_clock::time_point;

// Writes one byte and waits until it has left the driver.
PortIo WriteByte(int fd, std::uint8_t byte, PortDeadline deadline);

// Waits until bytes are queued, then reads every queued byte as one block.
PortIo ReadBlock(int fd, std::vector<std::uint8_t>& block, PortDeadline deadline);

// Reads whatever is queued right now, without waiting; Ok with an empty result when nothing is.
PortIo ReadQueued(int fd, std::vector<std::uint8_t>& bytes);
