#include "widgets/digit_st.h"

#include <QPainter>

#include "resources/glyph_geometry.h"
#include "widgets/digit_cells.h"

namespace {

// The frame: a raised outer edge around a sunken inner one.
constexpr int kFrame = 3;

// Turns the lit (dark) parts of a glyph into the unlit grey, keeping the
// anti-aliased edges smooth and the already unlit parts as they are.
QImage UnlitCopy(const QImage& glyph) {
    QImage copy = glyph.convertToFormat(QImage::Format_RGB32);
    const int unlit = qGray(QColor(221, 221, 221).rgb());
    const int ground = qGray(QColor(234, 234, 234).rgb());
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
    // Shown at the next repaint, which only SetValue asks for.
    m_bFaceStale = true;
    return 1;
}

void CDigitST::SetValue(const QString& text, int redraw) {
    if (text == m_strText)
        return;
    m_strText = text;
    m_bFaceStale = true;
    if (redraw)
        update();
}

void CDigitST::SetZeroPadding(int enable, int redraw) {
    if (m_bZeroPadding == (enable != 0))
        return;
    m_bZeroPadding = enable != 0;
    m_bFaceStale = true;
    if (redraw)
        update();
}

QRect CDigitST::GlyphArea() const {
    return rect().adjusted(kFrame, kFrame, -kFrame, -kFrame);
}

QRectF CDigitST::CellRect(int index) const {
    const QRect area = GlyphArea();
    if (m_nCells <= 0 || index < 0 || index >= m_nCells)
        return QRectF();
    const double width = double(area.width()) / m_nCells;
    return QRectF(area.left() + index * width, area.top(), width, area.height());
}

void CDigitST::ComposeFace() {
    m_bFaceStale = false;
    const QRect area = GlyphArea();
    if (area.isEmpty() || m_strip.isNull() || m_nCells <= 0) {
        m_face = QPixmap();
        return;
    }
    // Glyphs are assembled at the strip's own resolution and scaled once, so the
    // cells blend smoothly into each other.
    QImage row(m_nCellWidth * m_nCells, m_strip.height(), QImage::Format_RGB32);
    QPainter painter(&row);
    const std::vector<int> glyphs = DigitCells::Layout(m_strText, m_nCells, m_bZeroPadding);
    for (int i = 0; i < m_nCells; ++i) {
        const int glyph = glyphs[std::size_t(i)];
        const QPoint target(i * m_nCellWidth, 0);
        if (glyph == DigitCells::kUnlitDigit)
            painter.drawImage(target, m_unlitDigit);
        else
            painter.drawImage(target, m_strip,
                              QRect(glyph * m_nCellWidth, 0, m_nCellWidth, m_strip.height()));
    }
    painter.end();
    m_face = QPixmap::fromImage(
        row.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

void CDigitST::paintEvent(QPaintEvent* /*event*/) {
    if (m_bFaceStale || (!m_face.isNull() && m_face.size() != GlyphArea().size()))
        ComposeFace();
    QPainter painter(this);
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

    const QRect area = GlyphArea();
    if (m_face.isNull())
        painter.fillRect(area, QColor(234, 234, 234));
    else
        painter.drawPixmap(area.topLeft(), m_face);
}
