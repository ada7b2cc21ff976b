#include "server/client_text.h"

#include <algorithm>

#include "run/printable_text.h"

namespace {

constexpr std::size_t kLogLimit = 200;
constexpr std::size_t kEchoLimit = 256;
constexpr std::string_view kEllipsis = "\u2026";

// The bytes of the character or escape at the start of `clean`, text PrintableText made: a
// backslash there always starts "\\" or "\xHH", anything else is one valid UTF-8 character.
std::size_t UnitLength(std::string_view clean) {
    if (clean[0] == '\\')
        return clean.size() > 1 && clean[1] == 'x' ? 4 : 2;
    const auto lead = static_cast<unsigned char>(clean[0]);
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Escapes are cut whole or not at all, so what is left still reads back to the bytes sent.
std::string Limited(std::string_view text, std::size_t limit) {
    // Every character of the clean text comes from one to four bytes, so this much of the text
    // decides both whether it is cut and where.
    const std::string clean = PrintableText(text.substr(0, 4 * (limit + 1)));
    std::size_t characters = 0;
    std::size_t fits = 0;  // the bytes of the characters that fit beside the ellipsis
    for (std::size_t at = 0; at < clean.size();) {
        const std::size_t length =
            std::min(UnitLength(std::string_view(clean).substr(at)), clean.size() - at);
        const std::size_t unitCharacters = clean[at] == '\\' ? length : 1;
        if (characters + unitCharacters <= limit - 1)
            fits = at + length;
        characters += unitCharacters;
        if (characters > limit)
            return clean.substr(0, fits) + std::string(kEllipsis);
        at += length;
    }
    return clean;
}

}  // namespace

std::string CleanForLog(std::string_view text) {
    return Limited(text, kLogLimit);
}

std::string EchoLimit(std::string_view text) {
    return Limited(text, kEchoLimit);
}

std::optional<std::size_t> PlainTextLength(std::string_view text) {
    // PrintableText leaves plain text as it is but for doubling its backslashes: anything
    // longer means it escaped a control character or a byte that is no UTF-8.
    const auto backslashes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\\'));
    if (PrintableText(text).size() != text.size() + backslashes)
        return std::nullopt;
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
        return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    }));
}
