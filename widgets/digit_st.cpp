#include "widgets/digit_st.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "widgets/digit_cells.h"

namespace {

// The frame: a raised outer edge around a sunken inner one.
constexpr int kFrame = 3;
constexpr QRgb kGround = 0xFFEAEAEA;

// Turns the lit (dark) parts of a glyph into the unlit grey, keeping the
// anti-aliased edges smooth and the already unlit parts as they are.
QImage UnlitCopy(const QImage& glyph) {
    QImage copy = glyph.convertToFormat(QImage::Format_RGB32);
    const int unlit = qGray(QColor(221, 221, 221).rgb());
    const int ground = qGray(kGround);
    for (int y = 0; y < copy.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(copy.scanLine(y));
        for (int x = 0; x < copy.width(); ++x) {
            const int value = qGray(line[x]);
            if (value >= unlit)
                continue;
            // A pixel between black and the ground: keep its coverage, but towards
            // the unlit grey instead of black.
            const int mapped = unlit + value * (ground - unlit) / ground;
            line[x] = qRgb(mapped, mapped, mapped);
        }
    }
    return copy;
}

}  // namespace

CDigitST::CDigitST(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int CDigitST::SetStyle(unsigned bitmapId, int cells) {
    if (cells <= 0)
        return 0;
    const QImage strip(QStringLiteral(":/images/bitmap_%1.png").arg(bitmapId));
    const int cellWidth = strip.width() / GlyphGeometry::kCellCount;
    if (strip.isNull() || cellWidth <= 0)
        return 0;
    m_strip = strip.convertToFormat(QImage::Format_RGB32);
    m_nCellWidth = cellWidth;
    m_unlitDigit = UnlitCopy(m_strip.copy(cellWidth * (GlyphGeometry::kGlyphDigit0 + 8), 0,
                                          cellWidth, m_strip.height()));
    m_nCells = cells;
    m_scaled.clear();
    // Shown at the next repaint, which only SetValue asks for.
    Relayout(false);
    return 1;
}

void CDigitST::SetValue(const QString& text, int redraw) {
    if (text == m_strText)
        return;
    m_strText = text;
    Relayout(redraw != 0);
}

void CDigitST::SetZeroPadding(int enable, int redraw) {
    if (m_bZeroPadding == (enable != 0))
        return;
    m_bZeroPadding = enable != 0;
    Relayout(redraw != 0);
}

void CDigitST::Relayout(bool redraw) {
    std::vector<int> shown = DigitCells::Layout(m_strText, m_nCells, m_bZeroPadding);
    if (shown == m_shown)
        return;
    std::swap(shown, m_shown);
    if (!redraw)
        return;
    if (shown.size() != m_shown.size()) {
        update(GlyphArea());
        return;
    }
    for (std::size_t i = 0; i < m_shown.size(); ++i) {
        if (shown[i] != m_shown[i])
            update(CellPixels(int(i)));
    }
}

QRect CDigitST::GlyphArea() const {
    return rect().adjusted(kFrame, kFrame, -kFrame, -kFrame);
}

QRect CDigitST::CellPixels(int index) const {
    const QRect area = GlyphArea();
    const int count = int(m_shown.size());
    if (count <= 0 || index < 0 || index >= count || area.isEmpty())
        return QRect();
    const int left = area.left() + int(qint64(area.width()) * index / count);
    const int right = area.left() + int(qint64(area.width()) * (index + 1) / count);
    return QRect(left, area.top(), right - left, area.height());
}

QRectF CDigitST::CellRect(int index) const {
    return QRectF(CellPixels(index));
}

const QPixmap& CDigitST::ScaledGlyph(int glyph, QSize size) {
    const int slot = glyph == DigitCells::kUnlitDigit ? GlyphGeometry::kCellCount : glyph;
    auto entry = std::find_if(m_scaled.begin(), m_scaled.end(),
                              [&](const ScaledGlyphs& s) { return s.size == size; });
    if (entry == m_scaled.end())
        entry = m_scaled.insert(m_scaled.end(), ScaledGlyphs{size, {}});
    QPixmap& pixmap = entry->glyphs[std::size_t(slot)];
    if (pixmap.isNull()) {
        const QImage source =
            slot == GlyphGeometry::kCellCount
                ? m_unlitDigit
                : m_strip.copy(slot * m_nCellWidth, 0, m_nCellWidth, m_strip.height());
        pixmap = QPixmap::fromImage(
            source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    return pixmap;
}

void CDigitST::resizeEvent(QResizeEvent* /*event*/) {
    // Cell sizes change with the control's; glyphs of the old sizes are not drawn again.
    m_scaled.clear();
}

void CDigitST::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = GlyphArea();
    if (!area.contains(event->rect())) {
        const QRect outer = rect().adjusted(0, 0, -1, -1);
        // Raised outer edge (two pixels), then a sunken one.
        painter.setPen(QColor(255, 255, 255));
        painter.drawLine(outer.topLeft(), outer.topRight());
        painter.drawLine(outer.topLeft(), outer.bottomLeft());
        painter.setPen(QColor(64, 64, 64));
        painter.drawLine(outer.bottomLeft(), outer.bottomRight());
        painter.drawLine(outer.topRight(), outer.bottomRight());
        const QRect middle = outer.adjusted(1, 1, -1, -1);
        painter.setPen(QColor(227, 227, 227));
        painter.drawLine(middle.topLeft(), middle.topRight());
        painter.drawLine(middle.topLeft(), middle.bottomLeft());
        painter.setPen(QColor(160, 160, 160));
        painter.drawLine(middle.bottomLeft(), middle.bottomRight());
        painter.drawLine(middle.topRight(), middle.bottomRight());
        const QRect inner = middle.adjusted(1, 1, -1, -1);
        painter.setPen(QColor(128, 128, 128));
        painter.drawLine(inner.topLeft(), inner.topRight());
        painter.drawLine(inner.topLeft(), inner.bottomLeft());
        painter.setPen(QColor(255, 255, 255));
        painter.drawLine(inner.bottomLeft(), inner.bottomRight());
        painter.drawLine(inner.topRight(), inner.bottomRight());
    }

    if (area.isEmpty())
        return;
    if (m_strip.isNull() || m_shown.empty()) {
        painter.fillRect(area, QColor(kGround));
        return;
    }
    for (int i = 0; i < int(m_shown.size()); ++i) {
        const QRect cell = CellPixels(i);
        if (cell.isEmpty() || !event->region().intersects(cell))
            continue;
        painter.drawPixmap(cell.topLeft(), ScaledGlyph(m_shown[std::size_t(i)], cell.size()));
    }
    // Values that may be stale (the link is not answering) show in grey.
    if (m_bDimmed)
        painter.fillRect(area.intersected(event->rect()),
                         QColor(qRed(kGround), qGreen(kGround), qBlue(kGround), 170));
}

void CDigitST::SetDimmed(bool dimmed) {
    if (dimmed == m_bDimmed)
        return;
    m_bDimmed = dimmed;
    update();
}
