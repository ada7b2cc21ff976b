#include "ui/text_advances.h"

#include <QFontMetricsF>

int CTextAdvances::Advance(const QFont& font, const QString& text) {
    if (!m_hasFont || font != m_font) {
        m_font = font;
        m_hasFont = true;
        m_advances.clear();
    }
    // A part a second: a few dozen are plenty.
    constexpr qsizetype kKept = 64;
    const QFontMetricsF metrics(m_font);
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
            known = m_advances.insert(part, metrics.horizontalAdvance(part));
        }
        total += *known;
        from = end;
    }
    return qRound(total);
}
