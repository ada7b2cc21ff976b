#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "link/frames.h"

// Cuts the byte stream from the program into six-byte requests. A request starts with 0xFE;
// a six-byte run whose checksum fails is not a request, and the search for one starts again
// at its next 0xFE, so a request cut short by a failed send does not shift every later one.
class CRequestAssembler {
  public:
    using Frame = std::array<std::uint8_t, CommandFrame::kLength>;

    // True when `byte` completes a request, which is then in `frame`.
    bool Push(std::uint8_t byte, Frame& frame);

    // Bytes that were part of no request: strays before a start byte, and the bytes given up
    // when six in a row failed their checksum (a frame cut short, or two run together).
    long long MalformedBytes() const { return m_malformed; }

  private:
    void Resynchronise();

    std::vector<std::uint8_t> m_partial;
    long long m_malformed = 0;
};
