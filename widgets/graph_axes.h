#pragma once

#include <QPointF>
#include <cmath>
#include <string>
#include <vector>

// The trend graph's axes: value ranges mapped onto pixels, tick positions and their labels.
// Pure arithmetic, checked without painting.
namespace GraphMath {

// Linear mapping of a value range onto a pixel range. The pixel range may run
// backwards (a Y axis grows upwards on a screen that counts downwards).
struct AxisMapping {
    double valueLow = 0.0;
    double valueHigh = 1.0;
    double pixelLow = 0.0;
    double pixelHigh = 1.0;

    // A range that is empty, reversed or not finite is replaced by a usable one,
    // so mapping never divides by zero or yields NaN.
    static AxisMapping Make(double valueLow, double valueHigh, double pixelLow, double pixelHigh);

    // Pixel positions beyond +-1e6 are clipped anyway; keeping them bounded keeps the
    // painter's fixed-point arithmetic from overflowing on wild values.
    double ToPixel(double value) const {
        const double t = (value - valueLow) / (valueHigh - valueLow);
        const double pixel = pixelLow + t * (pixelHigh - pixelLow);
        if (std::isnan(pixel))
            return 0.0;
        return pixel < -1.0e6 ? -1.0e6 : pixel > 1.0e6 ? 1.0e6 : pixel;
    }
    double ToValue(double pixel) const;
};

// A value range that can be drawn: finite, low < high. An empty range is widened
// around its value; non-finite bounds fall back to 0 … 1.
struct Range {
    double low;
    double high;
};
Range UsableRange(double low, double high);

// Evenly spaced "nice" tick values (1, 2 or 5 times a power of ten) covering
// low … high with at most maxTicks major ticks.
struct Ticks {
    double step = 0.0;          // distance between major ticks
    int minorPerMajor = 1;      // minor intervals per major interval
    std::vector<double> major;  // major tick values inside the range
};
Ticks NiceTicks(double low, double high, int maxTicks);

// The label of a tick value, precise enough to tell neighbouring ticks apart.
// Very small or very large steps use the exponent form.
struct TickLabelFormat {
    char style;  // 'f' or 'g'
    int precision;
};
TickLabelFormat LabelFormatForStep(double step);

// The text of a tick value. Value type 0 is a plain number; value type 1 reads
// the value as seconds and writes minutes and seconds ("mm:ss").
std::string FormatTickLabel(double value, double step, int valueType);

// A polyline vertex in pixels.
using Vertex = QPointF;

// Where the curve passes through point (x, y): the centre of the pixel the point maps
// to. Every point of a pixel column then lies on one vertical line, so the column's
// stretch of the curve is the same whichever of its points are drawn.
Vertex PixelCentre(const AxisMapping& xMap, const AxisMapping& yMap, double x, double y);

// The pixel column of x (the integer part of its pixel position).
inline int ColumnOf(const AxisMapping& xMap, double x) {
    return int(std::floor(xMap.ToPixel(x)));
}

}  // namespace GraphMath
