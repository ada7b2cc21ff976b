#include "ui/status_line.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "resources/fonts.h"
#include "resources/palette.h"

CStatusLine::CStatusLine(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setFont(MakeTemplateFont(QStringLiteral("MS Shell Dlg"), 8));
    setFixedHeight(kHeight);
    // It paints every pixel it has: the window's picture under it is never needed.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CStatusLine::SetZoom(double zoom) {
    QFont smaller = font();
    smaller.setPixelSize(std::max(1, static_cast<int>(std::lround(smaller.pixelSize() * zoom))));
    setFont(smaller);
    setFixedHeight(static_cast<int>(std::lround(kHeight * zoom)));
}

namespace {

// Room around a changed run of characters: a glyph may reach a pixel or two beyond its advance.
constexpr int kGlyphBleed = 2;

}  // namespace

CStatusLine::Layout CStatusLine::LayOut(const QFontMetrics& metrics, const QRect& rect,
                                        const QString& left, const QString& right,
                                        const std::function<int(const QString&)>& advance) {
    Layout layout;
    const QRect area = rect.adjusted(8, 1, -8, 0);
    // A pixel to spare: eliding measures glyph by glyph and may cut a text exactly as wide as
    // its box.
    const int leftNeeds = left.isEmpty() ? 0 : advance(left) + 2;
    const int rightNeeds = right.isEmpty() ? 0 : advance(right) + 2;
    const Widths widths = ShareWidth(leftNeeds, rightNeeds, area.width() - kGap);
    layout.leftBox = QRect(area.left(), area.top(), widths.left, area.height());
    layout.rightBox = area.adjusted(widths.left + kGap, 0, 0, 0);
    // A text that fits is shown as it is, without measuring it again.
    layout.leftShown =
        leftNeeds <= widths.left ? left : metrics.elidedText(left, Qt::ElideMiddle, widths.left);
    if (rightNeeds <= layout.rightBox.width()) {
        layout.rightShown = right;
        layout.rightAdvance = std::max(0, rightNeeds - 2);
    } else {
        layout.rightShown = metrics.elidedText(right, Qt::ElideMiddle, layout.rightBox.width());
        layout.rightAdvance = metrics.horizontalAdvance(layout.rightShown);
    }
    return layout;
}

const CStatusLine::Layout& CStatusLine::ShownLayout() {
    const QString right = RightShown();
    if (!m_layout || m_layout->rect != rect() || m_layout->font != font() ||
        m_layout->left != m_left || m_layout->right != right) {
        m_layout = LayoutFor{rect(), font(), m_left, right,
                             LayOut(QFontMetrics(font()), rect(), m_left, right, Measure())};
    }
    return m_layout->layout;
}

std::function<int(const QString&)> CStatusLine::Measure() {
    return [this](const QString& text) { return m_advances.Advance(font(), text); };
}

CStatusLine::Widths CStatusLine::ShareWidth(int left, int right, int room) {
    room = std::max(room, 0);
    if (left + right <= room) {
        return {left, room - left};
    }
    // Neither part is cut while it needs no more than half; the other gets what is left.
    if (left <= room / 2) {
        return {left, room - left};
    }
    if (right <= room / 2) {
        return {room - right, right};
    }
    return {room / 2, room - room / 2};
}

QRect CStatusLine::ChangedRightPart(const Layout& before, const Layout& after,
                                    const std::function<int(const QString&)>& advance) {
    if (before.leftShown != after.leftShown || before.rightBox != after.rightBox) {
        return {};
    }
    // Right-aligned: the characters both texts end with stay where they were. The one next to
    // the change is repainted too, as shaping may join it to its neighbour.
    const QString& old = before.rightShown;
    const QString& now = after.rightShown;
    qsizetype same = 0;
    while (same < old.size() && same < now.size() &&
           old[old.size() - 1 - same] == now[now.size() - 1 - same]) {
        ++same;
    }
    same = std::max<qsizetype>(0, same - 1);
    const int keptWidth = advance(now.right(same));
    const int widest = std::max(before.rightAdvance, after.rightAdvance);
    const int end = after.rightBox.right() + 1 - keptWidth + kGlyphBleed;
    const int start = after.rightBox.right() + 1 - widest - kGlyphBleed;
    return QRect(start, after.rightBox.top(), end - start, after.rightBox.height());
}

void CStatusLine::SetTexts(const QString& left, const QString& right) {
    if (left == m_left && right == m_right) {
        return;
    }
    if (!m_alarm.isEmpty()) {
        m_left = left;
        m_right = right;
        UpdateToolTip();
        update();
        return;
    }
    const Layout before = ShownLayout();
    m_left = left;
    m_right = right;
    UpdateToolTip();
    // A run's status changes every second in a few characters (the time left): only they
    // are painted again.
    const QRect changed = ChangedRightPart(before, ShownLayout(), Measure());
    if (changed.isEmpty()) {
        update();
    } else {
        update(changed);
    }
}

void CStatusLine::SetAlarm(const QString& text) {
    if (text == m_alarm) {
        return;
    }
    m_alarm = text;
    setCursor(m_alarm.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    UpdateToolTip();
    update();
}

void CStatusLine::UpdateToolTip() {
    setToolTip(m_alarm.isEmpty() ? m_left + QStringLiteral("\n") + m_right
                                 : m_alarm + QStringLiteral("\n(click to acknowledge)\n") + m_left +
                                       QStringLiteral("\n") + m_right);
}

void CStatusLine::mousePressEvent(QMouseEvent* event) {
    if (!m_alarm.isEmpty()) {
        emit AlarmAcknowledged();
    }
    QWidget::mousePressEvent(event);
}

void CStatusLine::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::kBackground.darker(130));
    painter.setPen(Palette::kLightText.darker(115));
    painter.drawLine(0, 0, width(), 0);
    painter.setPen(Palette::kLightText);
    const Layout& layout = ShownLayout();
    // A second's update repaints only the changed end of the right part.
    if (event->region().intersects(layout.leftBox))
        painter.drawText(layout.leftBox, Qt::AlignLeft | Qt::AlignVCenter, layout.leftShown);
    if (!m_alarm.isEmpty()) {
        painter.setPen(Palette::kAlarmText);
    }
    if (layout.rightShown != RightShown()) {
        painter.drawText(layout.rightBox, Qt::AlignRight | Qt::AlignVCenter, layout.rightShown);
        return;
    }
    // Shown whole: each part is drawn where it sits in the whole text, and only the parts the
    // update reaches are shaped again.
    const QList<CTextAdvances::Part> parts = m_advances.Parts(font(), layout.rightShown);
    const QFontMetricsF metrics(font());
    const qreal baseline = layout.rightBox.top() +
                           (layout.rightBox.height() - (metrics.ascent() + metrics.descent())) / 2 +
                           metrics.ascent();
    const QRect reached = event->region().boundingRect();
    painter.setClipRect(layout.rightBox, Qt::IntersectClip);
    qreal x = layout.rightBox.right() + 1 - CTextAdvances::Total(parts);
    for (const CTextAdvances::Part& part : parts) {
        if (x - kGlyphBleed <= reached.right() &&
            x + part.advance + kGlyphBleed >= reached.left()) {
            if (const auto glyphs = m_advances.Glyphs(font(), part.text))
                painter.drawGlyphRun(QPointF(x, baseline), *glyphs);
            else
                painter.drawText(QPointF(x, baseline), part.text);
        }
        x += part.advance;
    }
}
