#include "widgets/text_stamps.h"

#include "widgets/device_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QTransform>
#include <cmath>

namespace {

constexpr qsizetype kMostTexts = 512;

}  // namespace

// The part of `canvas` the text covers; `origin` is where the canvas goes from the box.
CTextStamps::Stamp CTextStamps::Crop(const QImage& canvas, QPoint origin) {
    int left = canvas.width(), right = -1, top = canvas.height(), bottom = -1;
    for (int y = 0; y < canvas.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            if (qAlpha(row[x]) != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return {};
    const QRect covered(QPoint(left, top), QPoint(right, bottom));
    return {canvas.copy(covered), origin + covered.topLeft()};
}

void CTextStamps::UseFont(const QFont& font) {
    if (font == m_font && m_stamps.size() < kMostTexts)
        return;
    m_font = font;
    m_stamps.clear();
}

int CTextStamps::Advance(const QFont& font, const QString& text) {
    return m_advances.Advance(font, text);
}

void CTextStamps::Draw(QPainter& painter, const QRect& box, int flags, const QString& text) {
    if (painter.deviceTransform().type() <= QTransform::TxTranslate) {
        DrawUnscaled(painter, box, flags, text);
        return;
    }
    QRect deviceBox = box;
    painter.save();
    const bool entered = EnterDevicePixels(painter, deviceBox);
    DrawUnscaled(painter, entered ? deviceBox : box, flags, text);
    painter.restore();
}

void CTextStamps::DrawUnscaled(QPainter& painter, const QRect& box, int flags,
                               const QString& text) {
    const QFont& font = painter.font();
    if (painter.deviceTransform().type() > QTransform::TxTranslate ||
        !(font.styleStrategy() & QFont::NoAntialias) || box.isEmpty()) {
        painter.drawText(box, flags, text);
        return;
    }
    const Stamp& stamp = StampFor(font, painter.pen().color(), box, flags, text, false);
    if (!stamp.image.isNull())
        painter.drawImage(box.topLeft() + stamp.offset, stamp.image);
}

void CTextStamps::DrawTurnedLeft(QPainter& painter, QPoint origin, const QRect& box, int flags,
                                 const QString& text) {
    const QTransform device = painter.deviceTransform();
    const QFont& font = painter.font();
    const bool wholePixels = device.type() <= QTransform::TxTranslate &&
                             device.dx() == std::round(device.dx()) &&
                             device.dy() == std::round(device.dy());
    if (!wholePixels || !(font.styleStrategy() & QFont::NoAntialias) || box.isEmpty()) {
        painter.save();
        painter.translate(origin);
        painter.rotate(-90);
        DrawDeviceText(painter, box, flags, text);
        painter.restore();
        return;
    }
    const Stamp& stamp = StampFor(font, painter.pen().color(), box, flags, text, true);
    if (!stamp.image.isNull())
        painter.drawImage(origin + stamp.offset, stamp.image);
}

const CTextStamps::Stamp& CTextStamps::StampFor(const QFont& font, const QColor& color,
                                                const QRect& box, int flags, const QString& text,
                                                bool turned) {
    UseFont(font);
    // A level text looks the same wherever its box is: its stamp goes from the box's corner.
    const QRect drawn = turned ? box : QRect(QPoint(), box.size());
    const Key key{color.rgba(), flags, box.size(), text, turned, drawn.topLeft()};
    auto stamp = m_stamps.constFind(key);
    if (stamp != m_stamps.constEnd())
        return *stamp;
    // Room for text that runs past an unclipped box, and for glyphs that reach beyond their
    // advance. The text is drawn as it will be, moved by whole pixels so that the box lands
    // `margin` pixels inside the canvas.
    const QFontMetrics metrics(font);
    const int margin =
        metrics.height() + std::max(0, m_advances.Advance(font, text) - box.width()) / 2 + 2;
    const QSize size = turned ? box.size().transposed() : box.size();
    const QPoint shift =
        turned ? QPoint(margin - drawn.top(), margin + drawn.right() + 1) : QPoint(margin, margin);
    QImage canvas(size.width() + 2 * margin, size.height() + 2 * margin,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter stampPainter(&canvas);
    stampPainter.setFont(font);
    stampPainter.setPen(color);
    stampPainter.translate(shift);
    if (turned)
        stampPainter.rotate(-90);
    stampPainter.drawText(drawn, flags, text);
    stampPainter.end();
    return *m_stamps.insert(key, Crop(canvas, -shift));
}
