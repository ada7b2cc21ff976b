#include "run/printable_text.h"

#include <cstdint>
#include <cstdio>

namespace {

void Escape(std::string& out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    out += text;
}

// The length of the valid UTF-8 sequence at `at` (overlong forms, surrogates and code points
// beyond U+10FFFF are not valid), or 0.
std::size_t Utf8Length(std::string_view text, std::size_t at, std::uint32_t& codePoint) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (byte < 0x80) {
        codePoint = byte;
        return 1;
    }
    if ((byte & 0xE0) == 0xC0) {
        length = 2, codePoint = byte & 0x1F, lowest = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
        length = 3, codePoint = byte & 0x0F, lowest = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
        length = 4, codePoint = byte & 0x07, lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < lowest || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

}  // namespace

std::string PrintableText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t at = 0; at < raw.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = Utf8Length(raw, at, codePoint);
        const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0);
        if (length == 0 || control) {
            Escape(out, static_cast<unsigned char>(raw[at]));
            ++at;
            continue;
        }
        if (codePoint == '\\') {
            out += "\\\\";
        } else {
            out.append(raw.substr(at, length));
        }
        at += length;
    }
    return out;
}
