#include "widgets/graph_math.h"

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

namespace {

// The lowest and highest of `count` (at least one) values, eight at a time in vector
// registers (GCC's vector extension, two doubles wide: SSE2 or NEON): at 72,000 points
// the scan is most of the decimation.
std::pair<double, double> Extremes(const double* y, std::size_t count) {
    using Pair = double __attribute__((vector_size(2 * sizeof(double))));
    const auto load = [y](std::size_t at) {
        Pair pair;
        std::memcpy(&pair, y + at, sizeof pair);
        return pair;
    };
    const auto lower = [](Pair a, Pair b) { return a < b ? a : b; };
    const auto higher = [](Pair a, Pair b) { return a > b ? a : b; };
    double lowest = y[0], highest = y[0];
    std::size_t i = 0;
    if (count >= 8) {
        Pair low0 = load(0), low1 = load(2), low2 = load(4), low3 = load(6);
        Pair high0 = low0, high1 = low1, high2 = low2, high3 = low3;
        for (i = 8; i + 8 <= count; i += 8) {
            const Pair a = load(i), b = load(i + 2), c = load(i + 4), d = load(i + 6);
            low0 = lower(a, low0);
            low1 = lower(b, low1);
            low2 = lower(c, low2);
            low3 = lower(d, low3);
            high0 = higher(a, high0);
            high1 = higher(b, high1);
            high2 = higher(c, high2);
            high3 = higher(d, high3);
        }
        const Pair low = lower(lower(low0, low1), lower(low2, low3));
        const Pair high = higher(higher(high0, high1), higher(high2, high3));
        lowest = std::min(low[0], low[1]);
        highest = std::max(high[0], high[1]);
    }
    for (; i < count; ++i) {
        lowest = std::min(lowest, y[i]);
        highest = std::max(highest, y[i]);
    }
    return {lowest, highest};
}

// Folds points into runs of one column (or of one side outside the plot) and writes
// each run's vertices when the next begins.
class ColumnReducer {
  public:
    ColumnReducer(const AxisMapping& xMap, const AxisMapping& yMap, int columnLeft, int columnRight,
                  std::vector<Vertex>& out)
        : m_xMap(xMap),
          m_yMap(yMap),
          m_leftOutside(columnLeft - kOutsideColumns),
          m_rightOutside(columnRight + kOutsideColumns),
          m_out(out) {}

    // Runs of points outside the plot share one key per side.
    int KeyOf(double x) const {
        const int column = ColumnOf(m_xMap, x);
        if (column < m_leftOutside)
            return kLeftKey;
        if (column > m_rightOutside)
            return kRightKey;
        return column;
    }

    // Points [begin, end) of one span all have key `key`.
    void Add(int key, const double* x, const double* y, std::size_t begin, std::size_t end) {
        if (begin >= end)
            return;
        if (!m_open || key != m_key) {
            Flush();
            m_open = true;
            m_key = key;
            m_first = m_low = m_high = {x[begin], y[begin], m_index + begin};
        }
        if (key != kLeftKey && key != kRightKey) {
            // Extremes by value first (a loop the compiler turns into vector min and max),
            // then where they first occur.
            const auto [lowValue, highValue] = Extremes(y + begin, end - begin);
            if (lowValue < m_low.y) {
                std::size_t i = begin;
                while (y[i] != lowValue)
                    ++i;
                m_low = {x[i], y[i], m_index + i};
            }
            if (highValue > m_high.y) {
                std::size_t i = begin;
                while (y[i] != highValue)
                    ++i;
                m_high = {x[i], y[i], m_index + i};
            }
        }
        m_last = {x[end - 1], y[end - 1], m_index + end - 1};
    }

    // The next span's indices follow this one's.
    void EndSpan(std::size_t count) { m_index += count; }

    void Flush() {
        if (!m_open)
            return;
        m_open = false;
        Push(m_first);
        if (m_key != kLeftKey && m_key != kRightKey) {
            const bool lowFirst = m_low.index < m_high.index;
            Push(lowFirst ? m_low : m_high);
            Push(lowFirst ? m_high : m_low);
        }
        Push(m_last);
    }

    int LeftOutside() const { return m_leftOutside; }
    int RightOutside() const { return m_rightOutside; }
    static constexpr int kLeftKey = std::numeric_limits<int>::min();
    static constexpr int kRightKey = std::numeric_limits<int>::max();

  private:
    struct Point {
        double x, y;
        std::size_t index;
    };

    void Push(const Point& point) {
        if (point.index == m_lastPushed && !m_out.empty())
            return;
        m_lastPushed = point.index;
        const Vertex vertex = PixelCentre(m_xMap, m_yMap, point.x, point.y);
        // A vertex on the one before adds nothing to the line.
        if (!m_out.empty() && m_out.back() == vertex)
            return;
        m_out.push_back(vertex);
    }

    const AxisMapping& m_xMap;
    const AxisMapping& m_yMap;
    const int m_leftOutside;
    const int m_rightOutside;
    std::vector<Vertex>& m_out;
    bool m_open = false;
    int m_key = 0;
    Point m_first{}, m_low{}, m_high{}, m_last{};
    std::size_t m_index = 0;
    std::size_t m_lastPushed = 0;
};

// Points whose x never decreases: each run's end is found by search (the key never
// decreases either, as the mapping is monotonic) and only its y values are scanned. Points
// taken at a steady rate make runs of nearly one length, so the search starts by testing
// the previous run's length and most runs take two key lookups.
void ReduceSorted(ColumnReducer& reducer, const PointSpan& span) {
    const double* const x = span.x;
    std::size_t begin = 0, previousLength = 1;
    while (begin < span.count) {
        const int key = reducer.KeyOf(x[begin]);
        std::size_t stop = span.count;
        if (key != ColumnReducer::kRightKey) {
            const auto inRun = [&](double value) { return reducer.KeyOf(value) == key; };
            // [low, high) holds the run's end: x[low - 1] is in the run, x[high] is not
            // (or high is the span's end).
            std::size_t low = begin + 1, high = span.count;
            const std::size_t guess = begin + previousLength;
            if (guess < span.count && !inRun(x[guess])) {
                high = guess;
                if (guess > low && inRun(x[guess - 1]))
                    low = guess;
            } else {
                if (guess < span.count)
                    low = guess + 1;
                // Gallop from the guess to the run's end.
                std::size_t step = 1;
                while (low + step <= span.count && inRun(x[low + step - 1])) {
                    low += step;
                    step *= 2;
                }
                high = std::min(span.count, low + step - 1);
            }
            stop = std::size_t(std::partition_point(x + low, x + high, inRun) - x);
            previousLength = stop - begin;
        }
        reducer.Add(key, x, span.y, begin, stop);
        begin = stop;
    }
}

void ReduceAny(ColumnReducer& reducer, const PointSpan& span) {
    std::size_t begin = 0;
    while (begin < span.count) {
        const int key = reducer.KeyOf(span.x[begin]);
        std::size_t stop = begin + 1;
        while (stop < span.count && reducer.KeyOf(span.x[stop]) == key)
            ++stop;
        reducer.Add(key, span.x, span.y, begin, stop);
        begin = stop;
    }
}

}  // namespace

void DecimateToColumns(const PointSpan* spans, std::size_t spanCount, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases) {
    out.clear();
    if (spans == nullptr || columnRight < columnLeft)
        return;
    // Binary search needs pixels that grow with x.
    const bool sorted = xNeverDecreases && xMap.pixelHigh > xMap.pixelLow;
    ColumnReducer reducer(xMap, yMap, columnLeft, columnRight, out);
    for (std::size_t i = 0; i < spanCount; ++i) {
        const PointSpan& span = spans[i];
        if (span.count == 0 || span.x == nullptr || span.y == nullptr)
            continue;
        if (sorted)
            ReduceSorted(reducer, span);
        else
            ReduceAny(reducer, span);
        reducer.EndSpan(span.count);
    }
    reducer.Flush();
}

void DecimateToColumns(const double* x, const double* y, std::size_t count, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases) {
    const PointSpan span{x, y, count};
    DecimateToColumns(&span, 1, xMap, yMap, columnLeft, columnRight, out, xNeverDecreases);
}

void SplitCurve(const std::vector<Vertex>& curve, CurveStrokes& out) {
    out.between.clear();
    out.within.clear();
    std::size_t begin = 0;
    while (begin < curve.size()) {
        std::size_t end = begin + 1;
        double top = curve[begin].y(), bottom = top;
        while (end < curve.size() && curve[end].x() == curve[begin].x()) {
            top = std::min(top, curve[end].y());
            bottom = std::max(bottom, curve[end].y());
            ++end;
        }
        if (bottom > top)
            out.within.emplace_back(curve[begin].x(), top, curve[begin].x(), bottom);
        if (end < curve.size())
            out.between.emplace_back(curve[end - 1], curve[end]);
        begin = end;
    }
}

namespace {

// A segment between pixel centres a and b (pixel indices), the pixels within `radius`.
void SegmentPixels(QPointF a, QPointF b, double radius, std::vector<QRect>& out) {
    // Work in pixel indices, where a pixel's centre sits on whole numbers.
    a -= QPointF(0.5, 0.5);
    b -= QPointF(0.5, 0.5);
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double length2 = dx * dx + dy * dy;
    const double r2 = radius * radius;
    if (dx == 0.0) {
        // Vertical (or a lone point): rows level with it are as wide as the pen; beyond
        // its ends the round caps narrow row by row.
        const int column = int(std::lround(a.x()));
        const int top = int(std::lround(std::min(a.y(), b.y())));
        const int bottom = int(std::lround(std::max(a.y(), b.y())));
        const int half = int(std::floor(radius));
        int extend = 0;
        while (extend < half &&
               int(std::floor(std::sqrt(r2 - double(extend + 1) * (extend + 1)))) == half)
            ++extend;
        out.emplace_back(column - half, top - extend, 2 * half + 1, bottom - top + 1 + 2 * extend);
        for (int step = extend + 1; step <= half; ++step) {
            const int reach = int(std::floor(std::sqrt(r2 - double(step) * step)));
            out.emplace_back(column - reach, top - step, 2 * reach + 1, 1);
            out.emplace_back(column - reach, bottom + step, 2 * reach + 1, 1);
        }
        return;
    }
    const double length = std::sqrt(length2);
    const double invDx = 1.0 / dx;
    const double invDy = dy != 0.0 ? 1.0 / dy : 0.0;
    const double reach = radius * length;
    const int firstRow = int(std::ceil(std::min(a.y(), b.y()) - radius));
    const int lastRow = int(std::floor(std::max(a.y(), b.y()) + radius));
    for (int row = firstRow; row <= lastRow; ++row) {
        const double y = row;
        double low = std::numeric_limits<double>::infinity(), high = -low;
        const auto cap = [&](QPointF centre) {
            const double h = y - centre.y();
            if (h * h <= r2) {
                const double w = std::sqrt(r2 - h * h);
                low = std::min(low, centre.x() - w);
                high = std::max(high, centre.x() + w);
            }
        };
        cap(a);
        cap(b);
        // The band along the segment: within the radius of its line, between its ends.
        double bandLow = -std::numeric_limits<double>::infinity(), bandHigh = -bandLow;
        const double h = y - a.y();
        if (dy != 0.0) {
            const double e1 = a.x() + (h * dx - reach) * invDy;
            const double e2 = a.x() + (h * dx + reach) * invDy;
            bandLow = std::min(e1, e2);
            bandHigh = std::max(e1, e2);
        } else if (h * h > r2) {
            bandLow = 1.0;
            bandHigh = 0.0;
        }
        const double t1 = a.x() - h * dy * invDx;
        const double t2 = a.x() + (length2 - h * dy) * invDx;
        bandLow = std::max(bandLow, std::min(t1, t2));
        bandHigh = std::min(bandHigh, std::max(t1, t2));
        if (bandLow <= bandHigh) {
            low = std::min(low, bandLow);
            high = std::max(high, bandHigh);
        }
        if (!(low <= high))
            continue;
        const int first = int(std::ceil(low)), last = int(std::floor(high));
        if (first <= last)
            out.emplace_back(first, row, last - first + 1, 1);
    }
}

}  // namespace

void StrokeLinePixels(const std::vector<QLineF>& lines, int width, std::vector<QRect>& out) {
    if (width <= 0)
        return;
    for (const QLineF& line : lines)
        SegmentPixels(line.p1(), line.p2(), width / 2.0, out);
}

void StrokePixels(const Vertex* points, std::size_t count, int width, std::vector<QRect>& out) {
    out.clear();
    if (points == nullptr || count == 0 || width <= 0)
        return;
    const double radius = width / 2.0;
    if (count == 1) {
        SegmentPixels(points[0], points[0], radius, out);
        return;
    }
    for (std::size_t i = 1; i < count; ++i)
        SegmentPixels(points[i - 1], points[i], radius, out);
}

void RowRuns(const std::vector<QRect>& rects, const QRect& clip, std::vector<QRect>& out) {
    out.clear();
    // Each rectangle cut to the clip, as inclusive bounds.
    struct Part {
        int left, top, right, bottom;
    };
    const auto cut = [&clip](const QRect& rect) {
        return Part{std::max(rect.left(), clip.left()), std::max(rect.top(), clip.top()),
                    std::min(rect.right(), clip.right()), std::min(rect.bottom(), clip.bottom())};
    };
    Part bounds{std::numeric_limits<int>::max(), std::numeric_limits<int>::max(),
                std::numeric_limits<int>::min(), std::numeric_limits<int>::min()};
    for (const QRect& rect : rects) {
        const Part part = cut(rect);
        if (part.left > part.right || part.top > part.bottom)
            continue;
        bounds = {std::min(bounds.left, part.left), std::min(bounds.top, part.top),
                  std::max(bounds.right, part.right), std::max(bounds.bottom, part.bottom)};
    }
    if (bounds.left > bounds.right)
        return;
    // One bit a pixel, a row of words per row of the bounds.
    const int width = bounds.right - bounds.left + 1, height = bounds.bottom - bounds.top + 1;
    const std::size_t words = std::size_t(width + 63) / 64;
    std::vector<std::uint64_t> bits(words * std::size_t(height), 0);
    const auto bitsFrom = [](int low) { return ~0ULL << low; };
    const auto bitsUpTo = [](int high) { return high == 63 ? ~0ULL : (1ULL << (high + 1)) - 1; };
    for (const QRect& rect : rects) {
        const Part part = cut(rect);
        if (part.left > part.right || part.top > part.bottom)
            continue;
        const int first = part.left - bounds.left, last = part.right - bounds.left;
        const std::size_t firstWord = std::size_t(first / 64), lastWord = std::size_t(last / 64);
        std::uint64_t* row = bits.data() + std::size_t(part.top - bounds.top) * words;
        if (firstWord == lastWord) {
            // Most pieces lie within one word: one mask for all their rows.
            const std::uint64_t mask = bitsFrom(first % 64) & bitsUpTo(last % 64);
            for (int y = part.top; y <= part.bottom; ++y, row += words)
                row[firstWord] |= mask;
            continue;
        }
        for (int y = part.top; y <= part.bottom; ++y, row += words) {
            row[firstWord] |= bitsFrom(first % 64);
            for (std::size_t word = firstWord + 1; word < lastWord; ++word)
                row[word] = ~0ULL;
            row[lastWord] |= bitsUpTo(last % 64);
        }
    }
    for (int y = 0; y < height; ++y) {
        const std::uint64_t* row = bits.data() + std::size_t(y) * words;
        int start = -1;  // where the open run began, -1 outside one
        for (int word = 0; word < int(words); ++word) {
            const std::uint64_t value = row[word];
            int at = 0;
            while (at < 64) {
                // The next set bit outside a run, the next clear bit inside one; zeros
                // shifted in from the top are no change.
                const std::uint64_t ahead = (start < 0 ? value : ~value) >> at;
                if (ahead == 0)
                    break;
                at += std::countr_zero(ahead);
                if (start < 0) {
                    start = word * 64 + at;
                } else {
                    out.emplace_back(bounds.left + start, bounds.top + y, word * 64 + at - start,
                                     1);
                    start = -1;
                }
            }
        }
        if (start >= 0)
            out.emplace_back(bounds.left + start, bounds.top + y, width - start, 1);
    }
}

}  // namespace GraphMath
