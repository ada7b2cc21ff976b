#include "widgets/text_advances.h"

#include <QFontMetricsF>
#include <QTextLayout>

namespace {

// Latin letters, digits and common punctuation are laid out as their advances plus what
// each adjacent pair kerns; other scripts may join or reorder characters.
bool PairwiseLaidOut(const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x2000 || ch.category() == QChar::Mark_NonSpacing ||
            (ch.script() != QChar::Script_Common && ch.script() != QChar::Script_Latin)) {
            return false;
        }
    }
    return true;
}

quint32 PairKey(QChar first, QChar second) {
    return (quint32(first.unicode()) << 16) | second.unicode();
}

}  // namespace

void CTextAdvances::UseFont(const QFont& font) {
    if (!m_hasFont || font != m_font) {
        m_font = font;
        m_hasFont = true;
        m_advances.clear();
        m_charAdvances.clear();
        m_kerning.clear();
        m_glyphIndexes.clear();
        m_rawFont = QRawFont::fromFont(font);
        MeasureClockPairs();
    }
}

qreal CTextAdvances::RememberedAdvance(const QString& part) {
    // A part a second: a few dozen are plenty.
    constexpr qsizetype kKept = 64;
    auto known = m_advances.constFind(part);
    if (known == m_advances.constEnd()) {
        if (m_advances.size() >= kKept) {
            m_advances.clear();
        }
        known = m_advances.insert(part, PartAdvance(part));
    }
    return *known;
}

QList<CTextAdvances::Part> CTextAdvances::Parts(const QFont& font, const QString& text) {
    UseFont(font);
    QList<Part> parts;
    for (qsizetype from = 0; from < text.size();) {
        const qsizetype next = text.indexOf(m_separator, from + 1);
        const qsizetype end = next < 0 ? text.size() : next;
        QString part = text.sliced(from, end - from);
        const qreal advance = RememberedAdvance(part);
        parts.append({std::move(part), advance});
        from = end;
    }
    return parts;
}

qreal CTextAdvances::Total(const QList<Part>& parts) {
    qreal total = 0;
    for (const Part& part : parts) {
        total += part.advance;
    }
    return total;
}

int CTextAdvances::Advance(const QFont& font, const QString& text) {
    return qRound(Total(Parts(font, text)));
}

// Shaping a text costs far more than looking up its characters: a part the clock changed is
// added up from characters and pairs already measured.
qreal CTextAdvances::PartAdvance(const QString& part) {
    if (!PairwiseLaidOut(part)) {
        return QFontMetricsF(m_font).horizontalAdvance(part);
    }
    qreal total = 0;
    for (qsizetype i = 0; i < part.size(); ++i) {
        total += CharAdvance(part[i]);
        if (i + 1 < part.size()) {
            total += Kerning(part[i], part[i + 1]);
        }
    }
    return total;
}

qreal CTextAdvances::CharAdvance(QChar ch) {
    auto known = m_charAdvances.constFind(ch.unicode());
    if (known == m_charAdvances.constEnd()) {
        known = m_charAdvances.insert(ch.unicode(), QFontMetricsF(m_font).horizontalAdvance(ch));
    }
    return *known;
}

qreal CTextAdvances::Kerning(QChar first, QChar second) {
    const quint32 key = PairKey(first, second);
    auto known = m_kerning.constFind(key);
    if (known == m_kerning.constEnd()) {
        const qreal pair = QFontMetricsF(m_font).horizontalAdvance(QString(first) + second);
        known = m_kerning.insert(key, pair - CharAdvance(first) - CharAdvance(second));
    }
    return *known;
}

// A clock's text brings new pairs of digits every few seconds for minutes: they are all laid
// out at once, in one text, each pair followed by a blank.
void CTextAdvances::MeasureClockPairs() {
    const QString clock = QStringLiteral("0123456789: ");
    QString text;
    for (const QChar first : clock) {
        for (const QChar second : clock) {
            text += first;
            text += second;
            text += u' ';
        }
    }
    QTextLayout layout(text, m_font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    for (int i = 0; i + 1 < text.size(); i += 3) {
        const qreal pair = line.cursorToX(i + 2) - line.cursorToX(i);
        m_kerning.insert(PairKey(text[i], text[i + 1]),
                         pair - CharAdvance(text[i]) - CharAdvance(text[i + 1]));
    }
}

std::optional<QGlyphRun> CTextAdvances::Glyphs(const QFont& font, const QString& part) {
    UseFont(font);
    if (!m_rawFont.isValid() || !PairwiseLaidOut(part))
        return std::nullopt;
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(part.size());
    positions.reserve(part.size());
    qreal x = 0;
    for (qsizetype i = 0; i < part.size(); ++i) {
        auto known = m_glyphIndexes.constFind(part[i].unicode());
        if (known == m_glyphIndexes.constEnd()) {
            const QList<quint32> found = m_rawFont.glyphIndexesForString(QString(part[i]));
            known = m_glyphIndexes.insert(part[i].unicode(), found.size() == 1 ? found[0] : 0);
        }
        // Glyph 0 stands for a character the font lacks: another font would draw it.
        if (*known == 0)
            return std::nullopt;
        indexes.append(*known);
        positions.append(QPointF(x, 0));
        x += CharAdvance(part[i]);
        if (i + 1 < part.size())
            x += Kerning(part[i], part[i + 1]);
    }
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    return run;
}
