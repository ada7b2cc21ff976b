#include "widgets/vex_button.h"

#include <QPainter>
#include <QStyleOptionButton>

#include "resources/fonts.h"

namespace {

QColor Blend(const QColor& a, const QColor& b, qreal t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

}  // namespace

CVexButton::CVexButton(QWidget* parent) : QPushButton(parent) {
    setAttribute(Qt::WA_Hover);
}

CVexButton::CVexButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setAttribute(Qt::WA_Hover);
}

void CVexButton::SetButtonSemiflat(int semiflat) {
    const bool flat = semiflat != 0;
    if (flat == m_bSemiflat)
        return;
    m_bSemiflat = flat;
    update();
}

void CVexButton::SetTextColor(QColor text, QColor hover, QColor pressed) {
    if (text == m_crText && hover == m_crHoverText && pressed == m_crPressedText)
        return;
    m_crText = text;
    m_crHoverText = hover;
    m_crPressedText = pressed;
    update();
}

void CVexButton::SetFontSize(long height, long weight) {
    QFont f = font();
    ApplyWindowsHeight(f, height);
    if (weight > 0)
        ApplyWindowsWeight(f, int(qBound(1L, weight, 1000L)));
    if (f == font())
        return;
    setFont(f);
    updateGeometry();
    update();
}

// QPushButton measures in the widget font, whose unset parts are the machine's.
QSize CVexButton::sizeHint() const {
    const QFontMetrics metrics(ResolveWidgetFont(font()));
    QSize caption =
        metrics.size(Qt::TextShowMnemonic, text().isEmpty() ? QStringLiteral("XXXX") : text());
    if (!icon().isNull())
        caption.rwidth() += iconSize().width() + 4;
    return QSize(caption.width() + 16, std::max(caption.height(), iconSize().height()) + 10);
}

QColor CVexButton::FaceColor() const {
    if (!isEnabled())
        return Blend(m_crBackground, QColor(128, 128, 128), 0.45);
    if (isDown() || isChecked())
        return m_crBackground.darker(135);
    if (underMouse())
        return m_crBackground.lighter(125);
    return m_crBackground;
}

QColor CVexButton::CaptionColor() const {
    // An invalid hover or pressed colour means "the same as the caption".
    if (!isEnabled())
        return Blend(m_crText, FaceColor(), 0.55);
    if ((isDown() || isChecked()) && m_crPressedText.isValid())
        return m_crPressedText;
    if (underMouse() && m_crHoverText.isValid())
        return m_crHoverText;
    return m_crText;
}

QRect CVexButton::FocusRect(const QRect& area, const QFontMetrics& metrics, const QString& text) {
    // Around the caption with a little room, never across it: a short button (large text,
    // a high scale factor) gets its cue at its edge instead.
    const QRect inset = area.adjusted(3, 3, -4, -4);
    const QRect inner = area.adjusted(1, 1, -2, -2);
    QString shown = text;
    shown.remove(u'&');
    const QRect caption = metrics.boundingRect(area, Qt::AlignCenter, shown).adjusted(-4, -2, 3, 1);
    QRect cue = inset;
    if (caption.top() < inset.top() || caption.bottom() > inset.bottom()) {
        cue.setTop(std::max(inner.top(), std::min(inset.top(), caption.top())));
        cue.setBottom(std::min(inner.bottom(), std::max(inset.bottom(), caption.bottom())));
    }
    if (caption.left() < inset.left() || caption.right() > inset.right()) {
        cue.setLeft(std::max(inner.left(), std::min(inset.left(), caption.left())));
        cue.setRight(std::min(inner.right(), std::max(inset.right(), caption.right())));
    }
    return cue;
}

void CVexButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect area = rect();
    const QColor face = FaceColor();
    painter.fillRect(area, face);

    const bool down = isDown() || isChecked();
    const bool hot = underMouse() && isEnabled();
    // A semi-flat button shows its edge only when it is being pointed at or
    // pressed; a raised one always does.
    if (!m_bSemiflat || hot || down) {
        const QColor light = down ? face.darker(150) : face.lighter(160);
        const QColor dark = down ? face.lighter(160) : face.darker(150);
        const QRect edge = area.adjusted(0, 0, -1, -1);
        painter.setPen(light);
        painter.drawLine(edge.topLeft(), edge.topRight());
        painter.drawLine(edge.topLeft(), edge.bottomLeft());
        painter.setPen(dark);
        painter.drawLine(edge.bottomLeft(), edge.bottomRight());
        painter.drawLine(edge.topRight(), edge.bottomRight());
    }

    if (hasFocus()) {
        QPen focusPen(CaptionColor());
        focusPen.setStyle(Qt::DotLine);
        painter.setPen(focusPen);
        painter.drawRect(FocusRect(area, QFontMetrics(ResolveWidgetFont(font())), text()));
    }

    QRect textArea = area.adjusted(4, 2, -4, -2);
    if (down)
        textArea.translate(1, 1);
    if (!icon().isNull()) {
        const QSize size = iconSize();
        const QPixmap pixmap = icon().pixmap(size, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        const int x = text().isEmpty() ? textArea.center().x() - size.width() / 2 : textArea.left();
        painter.drawPixmap(x, textArea.center().y() - size.height() / 2, pixmap);
        if (!text().isEmpty())
            textArea.setLeft(textArea.left() + size.width() + 4);
    }
    painter.setFont(ResolveWidgetFont(font()));
    painter.setPen(CaptionColor());
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextShowMnemonic, text());
}
