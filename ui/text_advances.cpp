#include "ui/text_advances.h"

#include <QFontMetricsF>

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

}  // namespace

int CTextAdvances::Advance(const QFont& font, const QString& text) {
    if (!m_hasFont || font != m_font) {
        m_font = font;
        m_hasFont = true;
        m_advances.clear();
        m_charAdvances.clear();
        m_kerning.clear();
    }
    // A part a second: a few dozen are plenty.
    constexpr qsizetype kKept = 64;
    qreal total = 0;
    for (qsizetype from = 0; from < text.size();) {
        const qsizetype next = text.indexOf(m_separator, from + 1);
        const qsizetype end = next < 0 ? text.size() : next;
        const QString part = text.sliced(from, end - from);
        auto known = m_advances.constFind(part);
        if (known == m_advances.constEnd()) {
            if (m_advances.size() >= kKept) {
                m_advances.clear();
            }
            known = m_advances.insert(part, PartAdvance(part));
        }
        total += *known;
        from = end;
    }
    return qRound(total);
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
    const quint32 key = (quint32(first.unicode()) << 16) | second.unicode();
    auto known = m_kerning.constFind(key);
    if (known == m_kerning.constEnd()) {
        const qreal pair = QFontMetricsF(m_font).horizontalAdvance(QString(first) + second);
        known = m_kerning.insert(key, pair - CharAdvance(first) - CharAdvance(second));
    }
    return *known;
}
