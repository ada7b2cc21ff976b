#pragma once

#include <QString>

// Reads an entry field's text as a whole decimal int: blanks around the number are
// allowed, one optional sign, then digits only. Empty text, other characters
// ("12abc") and values outside the int range are not integers. Returns false and
// leaves value alone when the text is not one.
bool ParseWholeInt(const QString& text, int& value);

// The C library's atol reading: leading white space skipped, an optional sign, then
// decimal digits up to the first other character; text without digits gives 0. A
// value beyond the int range gives the nearest bound instead of overflowing.
int LeadingIntLikeAtol(const QString& text);
