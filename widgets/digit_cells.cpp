#include "widgets/digit_cells.h"

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
    std::vector<int> glyphs(std::size_t(cells), GlyphGeometry::kGlyphBlank);
    const int shown = std::min<int>(cells, int(text.size()));
    const int firstChar = int(text.size()) - shown;
    const int firstCell = cells - shown;
    for (int i = 0; i < shown; ++i)
        glyphs[std::size_t(firstCell + i)] = GlyphFor(text[firstChar + i]);
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
