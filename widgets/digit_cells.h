#pragma once

#include <QString>
#include <vector>

// Which glyph each cell of a seven-segment readout shows for a text.
namespace DigitCells {

// A leading blank shown as a digit with every segment dark.
constexpr int kUnlitDigit = -1;

// The glyph strip cell for a character; characters without a glyph are blank.
int GlyphFor(QChar character);

// One glyph per cell, right-aligned (blank cells in front of a shorter text); a text
// longer than `cells` gets one cell per character, none dropped. With zero padding
// the blanks in front of the first non-blank glyph are shown as unlit digits.
std::vector<int> Layout(const QString& text, int cells, bool zeroPadding);

}  // namespace DigitCells
