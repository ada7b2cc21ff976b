#include "resources/generator/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "resources/glyph_geometry.h"
#include "resources/palette.h"

namespace {

// The tab occupies pixels 657 … 951 across and 12 … 94 down.
constexpr QRectF kTab(657.0, 12.0, 951.0 - 657.0 + 1.0, 94.0 - 12.0 + 1.0);

QFont TitleFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(52);
    font.setWeight(QFont::Bold);
    font.setItalic(true);
    return font;
}

}  // namespace

QImage DrawBackground(int scale) {
    QImage image(984 * scale, 580 * scale, QImage::Format_RGB888);
    image.fill(Palette::kBackground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);

    // Square at the left, a half round at the right end.
    const double radius = kTab.height() / 2.0;
    QPainterPath tab;
    tab.moveTo(kTab.topLeft());
    tab.lineTo(kTab.right() - radius, kTab.top());
    tab.arcTo(QRectF(kTab.right() - 2 * radius, kTab.top(), 2 * radius, 2 * radius), 90.0, -180.0);
    tab.lineTo(kTab.bottomLeft());
    tab.closeSubpath();
    painter.fillPath(tab, Palette::kTab);

    painter.setPen(Palette::kTitleBlue);
    painter.setFont(TitleFont());
    const QRectF titleArea = kTab.adjusted(0, 0, -radius / 2.0, 0);
    painter.drawText(titleArea, Qt::AlignCenter, QStringLiteral("Velmora"));
    return image;
}

QImage DrawGlyphStrip() {
    using namespace GlyphGeometry;
    QImage image(kCellWidth * kCellCount, kCellHeight, QImage::Format_RGB888);
    image.fill(Palette::kGlyphGround);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int glyph = 0; glyph < kCellCount; ++glyph) {
        painter.save();
        painter.translate(glyph * kCellWidth, 0);
        if (HasSegments(glyph)) {
            const std::uint8_t lit = LitSegments(glyph);
            for (int segment = 0; segment < kSegmentCount; ++segment) {
                const bool on = (lit >> segment) & 1u;
                painter.setBrush(on ? Palette::kGlyphLit : Palette::kGlyphUnlit);
                painter.drawPolygon(SegmentOutline(segment));
            }
        }
        painter.setBrush(Palette::kGlyphLit);
        if (glyph == kGlyphPoint)
            painter.drawEllipse(PointCentre(), kDotRadius, kDotRadius);
        if (glyph == kGlyphColon) {
            for (const QPointF& centre : ColonCentres())
                painter.drawEllipse(centre, kDotRadius, kDotRadius);
        }
        painter.restore();
    }
    return image;
}

QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 32-unit grid and scaled, so both sizes show the same picture.
    painter.scale(size / 32.0, size / 32.0);

    const QColor casing(58, 62, 74);
    // Monitor: casing, screen, neck and foot.
    painter.setPen(Qt::NoPen);
    painter.setBrush(casing);
    painter.drawRoundedRect(QRectF(4.0, 2.0, 27.0, 20.0), 1.5, 1.5);
    QLinearGradient screen(QPointF(6.0, 4.0), QPointF(29.0, 19.0));
    screen.setColorAt(0.0, QColor(120, 170, 235));
    screen.setColorAt(1.0, QColor(40, 80, 170));
    painter.setBrush(screen);
    painter.drawRect(QRectF(6.0, 4.0, 23.0, 15.5));
    painter.setBrush(casing);
    painter.drawRect(QRectF(15.5, 22.0, 4.0, 4.0));
    painter.drawRoundedRect(QRectF(10.5, 25.5, 14.0, 3.0), 1.0, 1.0);

    // The small window in front, lower left, with its title bar.
    const QRectF window(1.0, 13.0, 15.0, 13.0);
    painter.setBrush(QColor(0, 0, 0, 70));
    painter.drawRect(window.translated(1.0, 1.0));
    painter.setBrush(Palette::kWhite);
    painter.setPen(QPen(QColor(40, 40, 60), 0.8));
    painter.drawRect(window);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::kTitleBlue);
    painter.drawRect(QRectF(window.left() + 0.4, window.top() + 0.4, window.width() - 0.8, 3.2));
    painter.setBrush(QColor(190, 196, 210));
    for (int row = 0; row < 3; ++row)
        painter.drawRect(
            QRectF(window.left() + 2.0, window.top() + 5.5 + row * 2.3, 9.0 - row * 2.0, 1.2));
    return image;
}
