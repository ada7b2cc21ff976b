#include "widgets/digit_cells.h"

#include <algorithm>

#include "resources/glyph_geometry.h"

namespace DigitCells {

int GlyphFor(QChar character) {
    using namespace GlyphGeometry;
    const char16_t c = character.unicode();
    if (c >= u'0' && c <= u'9')
        return kGlyphDigit0 + (c - u'0');
    switch (c) {
        case u'.':
            return kGlyphPoint;
        case u'-':
            return kGlyphMinus;
        case u':':
            return kGlyphColon;
        default:
            return kGlyphBlank;
    }
}

std::vector<int> Layout(const QString& text, int cells, bool zeroPadding) {
    if (cells <= 0)
        return {};
    // A longer text takes a cell per character: dropping its front would show a
    // different number ("100:00" as "00:00").
    const int count = std::max<int>(cells, int(text.size()));
    std::vector<int> glyphs(std::size_t(count), GlyphGeometry::kGlyphBlank);
    const int firstCell = count - int(text.size());
    for (int i = 0; i < int(text.size()); ++i)
        glyphs[std::size_t(firstCell + i)] = GlyphFor(text[i]);
    if (zeroPadding) {
        for (int& glyph : glyphs) {
            if (glyph != GlyphGeometry::kGlyphBlank)
                break;
            glyph = kUnlitDigit;
        }
    }
    return glyphs;
}

}  // namespace DigitCells
