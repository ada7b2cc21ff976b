#pragma once

#include <QLineF>
#include <QPointF>
#include <QRect>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

// Drawing arithmetic of the trend graph, free of any painting so it can be
// checked on its own.
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

// Points in the order they were added, held in consecutive spans.
struct PointSpan {
    const double* x;
    const double* y;
    std::size_t count;
};

// Columns this far outside the plot can't reach it with any pen the graph draws.
constexpr int kOutsideColumns = 16;

// Reduces a series to the vertices that draw the same picture as all its points
// through PixelCentre, with a pen of round caps and joins: every run of consecutive
// points in one pixel column becomes its first, lowest, highest and last point in
// their original order (the column's vertical stretch and the lines into and out of
// it are then those of the full curve). Runs more than kOutsideColumns left or right
// of columnLeft … columnRight keep only their first and last point, where the line
// leaves and re-enters. Points whose x never decreases (`xNeverDecreases`) take a
// faster path with the same result.
void DecimateToColumns(const PointSpan* spans, std::size_t spanCount, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases = false);
// The same for points held in one span.
void DecimateToColumns(const double* x, const double* y, std::size_t count, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases = false);

// The decimated curve as separate strokes that draw its picture: the lines between
// neighbouring columns, and each column's vertical stretch from its highest to its
// lowest vertex (none where a column holds a single vertex: the caps of the lines
// through it cover it).
struct CurveStrokes {
    std::vector<QLineF> between;
    std::vector<QLineF> within;
};
void SplitCurve(const std::vector<Vertex>& curve, CurveStrokes& out);

// The pixels a pen of `width` with round caps and joins covers along a polyline through
// pixel centres, as rectangles (overlapping where the line does): every pixel whose
// centre lies within width / 2 of the line, which makes the picture the union of its
// segments' and thus the same for any run of points with the same stretches in each
// column. With an odd width no pixel centre lies exactly that far away.
void StrokePixels(const Vertex* points, std::size_t count, int width, std::vector<QRect>& out);
// The same for separate lines (the union of their pixels), added to `out`.
void StrokeLinePixels(const std::vector<QLineF>& lines, int width, std::vector<QRect>& out);

// The pixels of `rects` inside `clip`, as runs one row high that neither overlap nor touch,
// row by row from the top and left to right within a row. A stroke's pieces overlap
// heavily; filled as runs, each pixel is written once and far fewer rectangles reach the
// painter. `out` may not be `rects`.
void RowRuns(const std::vector<QRect>& rects, const QRect& clip, std::vector<QRect>& out);

}  // namespace GraphMath
