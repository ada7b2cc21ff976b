#include "widgets/graph_axes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace GraphMath {

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

Vertex PixelCentre(const AxisMapping& xMap, const AxisMapping& yMap, double x, double y) {
    return Vertex(std::floor(xMap.ToPixel(x)) + 0.5, std::floor(yMap.ToPixel(y)) + 0.5);
}

}  // namespace GraphMath
