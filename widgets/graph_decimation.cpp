#include "widgets/graph_decimation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace GraphMath {

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

}  // namespace GraphMath
