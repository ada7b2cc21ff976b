#include "widgets/device_text.h"

#include <QPainter>
#include <QRect>
#include <QString>
#include <QTransform>
#include <cmath>

bool EnterDevicePixels(QPainter& painter, QRect& box) {
    const QTransform device = painter.deviceTransform();
    if (device.type() < QTransform::TxScale || device.type() > QTransform::TxRotate) {
        return false;
    }
    const qreal scale = std::hypot(device.m11(), device.m12());
    if (qFuzzyCompare(scale, 1.0) ||
        !qFuzzyCompare(std::hypot(device.m21(), device.m22()), scale)) {
        return false;
    }
    // The device transform is the world's followed by what the painter adds (a widget's place
    // in its window, the pixel ratio): the world's becomes `unscaled` undone by that.
    const QTransform added = painter.worldTransform().inverted() * device;
    const QTransform unscaled(device.m11() / scale, device.m12() / scale, device.m21() / scale,
                              device.m22() / scale, device.dx(), device.dy());
    painter.setWorldTransform(unscaled * added.inverted());
    QFont font = painter.font();
    if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pixelSize() * scale))));
    } else {
        font.setPointSizeF(font.pointSizeF() * scale);
    }
    painter.setFont(font);
    const auto scaled = [scale](int value) { return static_cast<int>(std::lround(value * scale)); };
    box = QRect(QPoint(scaled(box.left()), scaled(box.top())),
                QPoint(scaled(box.left() + box.width()) - 1, scaled(box.top() + box.height()) - 1));
    return true;
}

void DrawDeviceText(QPainter& painter, const QRect& box, int flags, const QString& text) {
    painter.save();
    QRect deviceBox = box;
    EnterDevicePixels(painter, deviceBox);
    painter.drawText(deviceBox, flags, text);
    painter.restore();
}
