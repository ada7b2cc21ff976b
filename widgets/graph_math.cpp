#include "widgets/graph_math.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace GraphMath {

namespace {

// Pixel coordinates beyond this are clipped anyway; keeping them bounded keeps
// the painter's fixed-point arithmetic from overflowing on wild values.
constexpr double kPixelLimit = 1.0e6;

double ClampPixel(double pixel) {
    if (std::isnan(pixel))
        return 0.0;
    return std::clamp(pixel, -kPixelLimit, kPixelLimit);
}

}  // namespace

Range UsableRange(double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high))
        return {0.0, 1.0};
    if (low > high)
        std::swap(low, high);
    if (high - low > 0.0 && std::isfinite(high - low))
        return {low, high};
    if (!std::isfinite(high - low)) {
        // The span overflows a double: halve both ends.
        return {low / 2.0, high / 2.0};
    }
    // An empty range: open it by one unit, or by a part of the value itself for
    // values far from one.
    const double half = low == 0.0 ? 0.5 : std::max(std::abs(low) * 1e-6, 1e-300);
    return {low - half, low + half};
}

AxisMapping AxisMapping::Make(double valueLow, double valueHigh, double pixelLow,
                              double pixelHigh) {
    const Range range = UsableRange(valueLow, valueHigh);
    return AxisMapping{range.low, range.high, pixelLow, pixelHigh};
}

double AxisMapping::ToPixel(double value) const {
    const double t = (value - valueLow) / (valueHigh - valueLow);
    return ClampPixel(pixelLow + t * (pixelHigh - pixelLow));
}

double AxisMapping::ToValue(double pixel) const {
    if (pixelHigh == pixelLow)
        return valueLow;
    const double t = (pixel - pixelLow) / (pixelHigh - pixelLow);
    return valueLow + t * (valueHigh - valueLow);
}

Ticks NiceTicks(double low, double high, int maxTicks) {
    Ticks ticks;
    const Range range = UsableRange(low, high);
    maxTicks = std::max(maxTicks, 2);
    const double span = range.high - range.low;
    const double rough = span / (maxTicks - 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    double step = magnitude;
    ticks.minorPerMajor = 5;
    for (const auto& [factor, minor] : {std::pair{1.0, 5}, {2.0, 4}, {5.0, 5}, {10.0, 5}}) {
        step = factor * magnitude;
        ticks.minorPerMajor = minor;
        if (span / step <= (maxTicks - 1) * (1.0 + 1e-9))
            break;
    }
    if (!(step > 0.0) || !std::isfinite(step))
        return ticks;
    ticks.step = step;
    const double first = std::ceil(range.low / step - 1e-9);
    const double last = std::floor(range.high / step + 1e-9);
    // Bounded by maxTicks through the choice of step; the cap guards rounding.
    for (double k = first; k <= last && ticks.major.size() < std::size_t(maxTicks) + 1; k += 1.0) {
        double value = k * step;
        if (std::abs(value) < step * 1e-9)
            value = 0.0;  // no "-0" label
        ticks.major.push_back(value);
    }
    return ticks;
}

TickLabelFormat LabelFormatForStep(double step) {
    if (!(step > 0.0) || !std::isfinite(step))
        return {'g', 6};
    const double exponent = std::floor(std::log10(step));
    if (exponent < -4 || exponent > 8)
        return {'g', 3};
    return {'f', exponent >= 0 ? 0 : int(-exponent)};
}

std::string FormatTickLabel(double value, double step, int valueType) {
    char text[64];
    if (valueType == 1 && std::isfinite(value) && std::abs(value) < 1e12) {
        const long long seconds = std::llround(value);
        const long long magnitude = seconds < 0 ? -seconds : seconds;
        std::snprintf(text, sizeof text, "%s%02lld:%02lld", seconds < 0 ? "-" : "", magnitude / 60,
                      magnitude % 60);
        return text;
    }
    const TickLabelFormat format = LabelFormatForStep(step);
    if (format.style == 'f')
        std::snprintf(text, sizeof text, "%.*f", format.precision, value);
    else
        std::snprintf(text, sizeof text, "%.*g", format.precision, value);
    return text;
}

namespace {

// The same reduction for x that never decreases: each column's points are found
// by binary search and only their y values are scanned.
void DecimateSorted(const double* x, const double* y, std::size_t count, const AxisMapping& xMap,
                    const AxisMapping& yMap, int columnLeft, int columnRight,
                    std::vector<Vertex>& out) {
    const auto push = [&](std::size_t index) {
        out.push_back({xMap.ToPixel(x[index]), yMap.ToPixel(y[index])});
    };
    const auto pushPair = [&](std::size_t a, std::size_t b) {
        push(a);
        if (b != a)
            push(b);
    };
    const double* const end = x + count;
    // Points left of the plot: where the line leaves and where it comes back.
    std::size_t begin = std::size_t(std::lower_bound(x, end, xMap.ToValue(columnLeft)) - x);
    if (begin > 0)
        pushPair(0, begin - 1);
    for (int column = columnLeft; column <= columnRight && begin < count; ++column) {
        const std::size_t stop =
            std::size_t(std::lower_bound(x + begin, end, xMap.ToValue(column + 1)) - x);
        if (stop == begin)
            continue;
        // Extremes by value first (a loop the compiler can vectorise), then where
        // they first occur.
        double lowValue = y[begin], highValue = y[begin];
        for (std::size_t i = begin + 1; i < stop; ++i) {
            lowValue = std::min(lowValue, y[i]);
            highValue = std::max(highValue, y[i]);
        }
        std::size_t low = begin;
        while (y[low] != lowValue)
            ++low;
        std::size_t high = begin;
        while (y[high] != highValue)
            ++high;
        pushPair(std::min(low, high), std::max(low, high));
        begin = stop;
    }
    if (begin < count)
        pushPair(begin, count - 1);
}

}  // namespace

void DecimateToColumns(const double* x, const double* y, std::size_t count, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases) {
    out.clear();
    if (count == 0 || x == nullptr || y == nullptr || columnRight < columnLeft)
        return;
    if (xNeverDecreases && xMap.pixelHigh > xMap.pixelLow) {
        DecimateSorted(x, y, count, xMap, yMap, columnLeft, columnRight, out);
        return;
    }

    // The column of a point, from the mapping's own arithmetic written out, as this
    // loop runs over every point of the series.
    const double scale = (xMap.pixelHigh - xMap.pixelLow) / (xMap.valueHigh - xMap.valueLow);
    const double offset = xMap.pixelLow - xMap.valueLow * scale;
    const double leftEdge = columnLeft;
    const double rightEdge = double(columnRight) + 1.0;
    const int leftOutside = columnLeft - 1;
    const int rightOutside = columnRight + 1;
    const auto columnOf = [&](double value) {
        const double pixel = value * scale + offset;
        if (!(pixel >= leftEdge))
            return leftOutside;
        if (pixel >= rightEdge)
            return rightOutside;
        return int(pixel);
    };

    struct Run {
        int column;
        std::size_t first, low, high, last;
    };
    const auto push = [&](std::size_t index) {
        out.push_back({xMap.ToPixel(x[index]), yMap.ToPixel(y[index])});
    };
    const auto flush = [&](const Run& run) {
        // Off the plot only where the line leaves and re-enters matters; inside,
        // the column's extremes in their order.
        const bool outside = run.column == leftOutside || run.column == rightOutside;
        const std::size_t a = outside ? run.first : std::min(run.low, run.high);
        const std::size_t b = outside ? run.last : std::max(run.low, run.high);
        push(a);
        if (b != a)
            push(b);
    };

    Run run{columnOf(x[0]), 0, 0, 0, 0};
    for (std::size_t i = 1; i < count; ++i) {
        const int column = columnOf(x[i]);
        if (column != run.column) {
            flush(run);
            run = Run{column, i, i, i, i};
            continue;
        }
        if (y[i] < y[run.low])
            run.low = i;
        if (y[i] > y[run.high])
            run.high = i;
        run.last = i;
    }
    flush(run);
}

}  // namespace GraphMath
