#pragma once

class QPainter;
class QRect;
class QString;

// Text on a painter that scales (a screen scale factor, 1.5 or 2) is laid out at the device's
// own size. Qt lays text out at the logical size, hinted to whole pixels, and then stretches the
// glyphs' positions: at 1.5 the letters land unevenly ("Tim e(S)").
//
// Switches `painter` to device pixels: the scale leaves its transform (a rotation and the
// position stay), the font grows by it, and `box` is given in the new coordinates. Returns
// false, changing nothing, when the painter doesn't scale uniformly. The caller saves and
// restores the painter around it.
bool EnterDevicePixels(QPainter& painter, QRect& box);

// painter.drawText(box, flags, text), laid out at the device's size.
void DrawDeviceText(QPainter& painter, const QRect& box, int flags, const QString& text);
