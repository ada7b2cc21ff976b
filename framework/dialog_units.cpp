#include "framework/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace {

// a * b / c rounded half away from zero, as Windows' MulDiv.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    const long long rounded = product >= 0 ? (product + half) / c : -((-product + half) / c);
    return static_cast<int>(rounded);
}

}  // namespace

DialogBaseUnits DialogBaseUnits::FromFont(const QFont& font) {
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    const int totalWidth = metrics.horizontalAdvance(letters);
    DialogBaseUnits units;
    units.cx = (totalWidth / 26 + 1) / 2;
    units.cy = metrics.height();
    return units;
}

int DialogBaseUnits::MapX(int dialogUnits) const {
    return MulDiv(dialogUnits, cx, 4);
}

int DialogBaseUnits::MapY(int dialogUnits) const {
    return MulDiv(dialogUnits, cy, 8);
}

QRect DialogBaseUnits::MapRect(int x, int y, int width, int height) const {
    const int left = MapX(x);
    const int top = MapY(y);
    const int right = MapX(x + width);
    const int bottom = MapY(y + height);
    return QRect(left, top, right - left, bottom - top);
}
