#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// Byte-level I/O on a non-blocking serial descriptor, with waits bounded by monotonic
// deadlines. A port that has gone away (hang-up, error, end of file, EIO/ENXIO/ENODEV)
// fails at once instead of being waited on. Every wait also watches `wakeFd` (an eventfd,
// or -1 for none): once it is readable the wait ends at once with Cancelled.

enum class PortIo { Ok, TimedOut, Failed, Cancelled };

using PortDeadline = std::chrono::steady_clock::time_point;

// Writes one byte and waits until it has left the driver's output queue, all by the deadline.
// `wakeFd` ends only the wait for room to write it: a byte once written is waited for.
PortIo WriteByte(int fd, std::uint8_t byte, PortDeadline deadline, int wakeFd = -1);

// Waits until bytes are queued, then reads every queued byte as one block.
PortIo ReadBlock(int fd, std::vector<std::uint8_t>& block, PortDeadline deadline, int wakeFd = -1);

// Reads whatever has arrived by now, without waiting, up to `limit` bytes (appended to
// `bytes`). `more` tells whether input was still waiting when the limit was reached.
PortIo ReadQueued(int fd, std::vector<std::uint8_t>& bytes, std::size_t limit, bool& more);

// Sleeps until `until`; Cancelled as soon as `wakeFd` is readable.
PortIo PauseUntil(PortDeadline until, int wakeFd);
