#include "framework/text_to_int.h"

#include <climits>
#include <cstdint>

namespace {

// The blanks isspace() knows in the C locale.
bool IsCSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Accumulates digits from text[pos] on into a magnitude that stops growing past
// what an int can hold, so an endless run of digits can't overflow.
std::int64_t ReadMagnitude(const QString& text, qsizetype& pos, bool& anyDigit) {
    constexpr std::int64_t kCap = static_cast<std::int64_t>(INT_MAX) + 1;
    std::int64_t magnitude = 0;
    anyDigit = false;
    while (pos < text.size() && IsAsciiDigit(text[pos])) {
        anyDigit = true;
        if (magnitude <= kCap) {
            magnitude = magnitude * 10 + (text[pos].unicode() - u'0');
        }
        ++pos;
    }
    return magnitude;
}

void SkipSpaces(const QString& text, qsizetype& pos) {
    while (pos < text.size() && IsCSpace(text[pos])) {
        ++pos;
    }
}

// Blanks, an optional sign, then digits, the way strtol starts reading; pos ends after the
// digits. The value is kept within a little more than int's range.
std::int64_t ReadLeadingInt(const QString& text, qsizetype& pos, bool& anyDigit) {
    SkipSpaces(text, pos);
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    const std::int64_t magnitude = ReadMagnitude(text, pos, anyDigit);
    return negative ? -magnitude : magnitude;
}

}  // namespace

bool ParseWholeInt(const QString& text, int& value) {
    qsizetype pos = 0;
    bool anyDigit = false;
    const std::int64_t signedValue = ReadLeadingInt(text, pos, anyDigit);
    SkipSpaces(text, pos);
    if (!anyDigit || pos != text.size() || signedValue < INT_MIN || signedValue > INT_MAX) {
        return false;
    }
    value = static_cast<int>(signedValue);
    return true;
}

int LeadingIntLikeAtol(const QString& text) {
    qsizetype pos = 0;
    bool anyDigit = false;
    const std::int64_t signedValue = ReadLeadingInt(text, pos, anyDigit);
    if (signedValue < INT_MIN) {
        return INT_MIN;
    }
    if (signedValue > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(signedValue);
}
