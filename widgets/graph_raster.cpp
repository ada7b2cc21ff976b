#include "widgets/graph_raster.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace GraphMath {

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
