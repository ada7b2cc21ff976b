#include "ui/status_line.h"

#include <QPainter>

#include "resources/fonts.h"
#include "resources/palette.h"

CStatusLine::CStatusLine(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setFont(MakeTemplateFont(QStringLiteral("MS Shell Dlg"), 8));
    setFixedHeight(kHeight);
}

void CStatusLine::SetTexts(const QString& left, const QString& right) {
    if (left == m_left && right == m_right) {
        return;
    }
    m_left = left;
    m_right = right;
    setToolTip(m_left + QStringLiteral("\n") + m_right);
    update();
}

void CStatusLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::kBackground.darker(130));
    painter.setPen(Palette::kLightText.darker(115));
    painter.drawLine(0, 0, width(), 0);
    painter.setPen(Palette::kLightText);
    const QRect area = rect().adjusted(8, 1, -8, 0);
    const QFontMetrics metrics(font());
    const int leftWidth = std::min(metrics.horizontalAdvance(m_left), area.width() / 2);
    painter.drawText(QRect(area.left(), area.top(), leftWidth, area.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(m_left, Qt::ElideRight, leftWidth));
    const QRect rightArea = area.adjusted(leftWidth + 16, 0, 0, 0);
    painter.drawText(rightArea, Qt::AlignRight | Qt::AlignVCenter,
                     metrics.elidedText(m_right, Qt::ElideMiddle, rightArea.width()));
}
