#include "sim/request_assembler.h"

#include <algorithm>

bool CRequestAssembler::Push(std::uint8_t byte, Frame& frame) {
    if (m_partial.empty() && byte != kFrameStartByte) {
        ++m_malformed;
        return false;
    }
    m_partial.push_back(byte);
    if (m_partial.size() < frame.size()) {
        return false;
    }
    if (ChecksumMatches(m_partial)) {
        std::copy(m_partial.begin(), m_partial.end(), frame.begin());
        m_partial.clear();
        return true;
    }
    Resynchronise();
    return false;
}

void CRequestAssembler::Resynchronise() {
    const auto next = std::find(m_partial.begin() + 1, m_partial.end(), kFrameStartByte);
    m_malformed += next - m_partial.begin();
    m_partial.erase(m_partial.begin(), next);
}
