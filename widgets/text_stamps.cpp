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
    if (font == m_font && m_stamps.size() < kMostTexts && m_advances.size() < kMostTexts)
        return;
    m_font = font;
    m_stamps.clear();
    m_advances.clear();
}

int CTextStamps::Advance(const QFont& font, const QString& text) {
    UseFont(font);
    const auto known = m_advances.constFind(text);
    if (known != m_advances.constEnd())
        return *known;
    const int advance = QFontMetrics(font).horizontalAdvance(text);
    m_advances.insert(text, advance);
    return advance;
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
    UseFont(font);
    const QColor color = painter.pen().color();
    const Key key{color.rgba(), flags, box.size(), text, false, QPoint()};
    auto stamp = m_stamps.constFind(key);
    if (stamp == m_stamps.constEnd()) {
        // Room for text that runs past an unclipped box, and for glyphs that reach
        // beyond their advance.
        const QFontMetrics metrics(font);
        const int margin =
            metrics.height() + std::max(0, metrics.horizontalAdvance(text) - box.width()) / 2 + 2;
        QImage canvas(box.width() + 2 * margin, box.height() + 2 * margin,
                      QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter stampPainter(&canvas);
        stampPainter.setFont(font);
        stampPainter.setPen(color);
        stampPainter.drawText(QRect(margin, margin, box.width(), box.height()), flags, text);
        stampPainter.end();
        stamp = m_stamps.insert(key, Crop(canvas, QPoint(-margin, -margin)));
    }
    if (!stamp->image.isNull())
        painter.drawImage(box.topLeft() + stamp->offset, stamp->image);
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
    UseFont(font);
    const QColor color = painter.pen().color();
    const Key key{color.rgba(), flags, box.size(), text, true, box.topLeft()};
    auto stamp = m_stamps.constFind(key);
    if (stamp == m_stamps.constEnd()) {
        // The same turn at a whole-pixel offset: the box lands `margin` pixels inside the canvas.
        const QFontMetrics metrics(font);
        const int margin =
            metrics.height() + std::max(0, metrics.horizontalAdvance(text) - box.width()) / 2 + 2;
        const QPoint shift(margin - box.top(), margin + box.left() + box.width());
        QImage canvas(box.height() + 2 * margin, box.width() + 2 * margin,
                      QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter stampPainter(&canvas);
        stampPainter.setFont(font);
        stampPainter.setPen(color);
        stampPainter.translate(shift);
        stampPainter.rotate(-90);
        stampPainter.drawText(box, flags, text);
        stampPainter.end();
        stamp = m_stamps.insert(key, Crop(canvas, -shift));
    }
    if (!stamp->image.isNull())
        painter.drawImage(origin + stamp->offset, stamp->image);
}
