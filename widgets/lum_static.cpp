#include "widgets/lum_static.h"

#include <QPainter>

#include "resources/fonts.h"

CLumStatic::CLumStatic(QWidget* parent) : QLabel(parent) {
    setAutoFillBackground(false);
}

CLumStatic::CLumStatic(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAutoFillBackground(false);
}

QFont CLumStatic::EffectiveFont() const {
    return ResolveWidgetFont(m_pFont ? *m_pFont : font());
}

QSize CLumStatic::TextExtent(int wrapWidth) const {
    const QFontMetrics metrics(EffectiveFont());
    int flags = Qt::TextShowMnemonic;
    if (wrapWidth > 0)
        flags |= Qt::TextWordWrap;
    const QRect bounds = metrics.boundingRect(QRect(0, 0, qMax(wrapWidth, 0), 0), flags, text());
    const QMargins margins = contentsMargins();
    return QSize(bounds.width() + margins.left() + margins.right() + qMax(0, indent()),
                 bounds.height() + margins.top() + margins.bottom());
}

// QLabel measures with its widget font, whose unset parts are the machine's; the
// label measures the font it draws in.
QSize CLumStatic::sizeHint() const {
    return TextExtent(0);
}

QSize CLumStatic::minimumSizeHint() const {
    return TextExtent(0);
}

int CLumStatic::heightForWidth(int width) const {
    if (!wordWrap())
        return QLabel::heightForWidth(width);
    const QMargins margins = contentsMargins();
    return TextExtent(qMax(1, width - margins.left() - margins.right() - qMax(0, indent())))
        .height();
}

void CLumStatic::paintEvent(QPaintEvent* /*event*/) {
    // No background: the parent's picture shows through around the characters.
    QPainter painter(this);
    painter.setFont(EffectiveFont());
    painter.setPen(m_crText);
    int flags = int(alignment()) | Qt::TextShowMnemonic;
    if (wordWrap())
        flags |= Qt::TextWordWrap;
    QRect area = contentsRect();
    if (indent() > 0) {
        if (alignment() & Qt::AlignLeft)
            area.setLeft(area.left() + indent());
        else if (alignment() & Qt::AlignRight)
            area.setRight(area.right() - indent());
    }
    painter.drawText(area, flags, text());
}
