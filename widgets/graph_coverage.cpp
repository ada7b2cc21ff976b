#include "widgets/graph_coverage.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace GraphMath {

namespace {

constexpr int kGrid = 8;  // samples along each side of a pixel

// Positions are in pixel indices, where a pixel's centre sits on a whole number; sample k
// of pixel p (along either axis) sits at p + (k - 3.5) / 8.
constexpr double kSampleOffset = (kGrid - 1) / 2.0;

// A segment from a to b and what its pen reaches, worked out once: each row asks only a
// few multiplications.
class SegmentReach {
  public:
    SegmentReach(QPointF a, QPointF b, double radius)
        : m_a(a), m_b(b), m_radius(radius), m_r2(radius * radius) {
        const double dx = b.x() - a.x(), dy = b.y() - a.y();
        m_vertical = dx == 0.0;
        m_level = dy == 0.0;
        if (m_vertical)
            return;
        // Across the segment: within the radius of its line. Along it: between the
        // perpendiculars through its ends. Both edges are straight in y.
        const double length2 = dx * dx + dy * dy;
        if (!m_level) {
            const double reach = radius * std::sqrt(length2);
            m_edgeSlope = dx / dy;
            m_edge1 = a.x() - reach / dy;
            m_edge2 = a.x() + reach / dy;
        }
        m_endSlope = -dy / dx;
        m_end1 = a.x();
        m_end2 = a.x() + length2 / dx;
    }

    bool Vertical() const { return m_vertical; }
    double Top() const { return std::min(m_a.y(), m_b.y()); }
    double Bottom() const { return std::max(m_a.y(), m_b.y()); }
    double X() const { return m_a.x(); }

    // Where the pen reaches on the row at height y: [low, high], or low > high.
    void At(double y, double& low, double& high) const {
        low = std::numeric_limits<double>::infinity();
        high = -low;
        Cap(m_a, y, low, high);
        Cap(m_b, y, low, high);
        if (m_vertical) {
            if (y >= Top() && y <= Bottom()) {
                low = std::min(low, m_a.x() - m_radius);
                high = std::max(high, m_a.x() + m_radius);
            }
            return;
        }
        const double h = y - m_a.y();
        double bandLow = -std::numeric_limits<double>::infinity(), bandHigh = -bandLow;
        if (!m_level) {
            const double e1 = h * m_edgeSlope + m_edge1, e2 = h * m_edgeSlope + m_edge2;
            bandLow = std::min(e1, e2);
            bandHigh = std::max(e1, e2);
        } else if (h * h > m_r2) {
            return;
        }
        const double t1 = h * m_endSlope + m_end1, t2 = h * m_endSlope + m_end2;
        bandLow = std::max(bandLow, std::min(t1, t2));
        bandHigh = std::min(bandHigh, std::max(t1, t2));
        if (bandLow <= bandHigh) {
            low = std::min(low, bandLow);
            high = std::max(high, bandHigh);
        }
    }

  private:
    void Cap(QPointF centre, double y, double& low, double& high) const {
        const double h = y - centre.y();
        if (h * h <= m_r2) {
            const double w = std::sqrt(m_r2 - h * h);
            low = std::min(low, centre.x() - w);
            high = std::max(high, centre.x() + w);
        }
    }

    QPointF m_a, m_b;
    double m_radius, m_r2;
    bool m_vertical = false, m_level = false;
    double m_edgeSlope = 0.0, m_edge1 = 0.0, m_edge2 = 0.0;
    double m_endSlope = 0.0, m_end1 = 0.0, m_end2 = 0.0;
};

// Set bits, without relying on a population-count instruction.
std::uint8_t SetBits(std::uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555ULL;
    bits = (bits & 0x3333333333333333ULL) + ((bits >> 2) & 0x3333333333333333ULL);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return std::uint8_t((bits * 0x0101010101010101ULL) >> 56);
}

// The pixel of a sample (a shift rounds towards minus infinity).
long PixelOf(long sample) {
    return sample >> 3;
}
static_assert(kGrid == 1 << 3);

// Rounding of values well inside long's range, without a call into the maths library
// (several per sample row).
long Floor(double value) {
    const long truncated = long(value);
    return truncated - long(value < double(truncated));
}
long Ceil(double value) {
    const long truncated = long(value);
    return truncated + long(value > double(truncated));
}

// Sample rows (or columns) counted over the whole plane, at or past a position.
long SampleAtOrAfter(double at) {
    return Ceil(std::clamp(at, -1.0e6, 1.0e6) * kGrid + kSampleOffset);
}
long SampleAtOrBefore(double at) {
    return Floor(std::clamp(at, -1.0e6, 1.0e6) * kGrid + kSampleOffset);
}

// One word per pixel of the bounds, one bit per sample (a byte per sample row). The words
// are zero between uses: only the pixels a stroke touched are counted and cleared.
class SampleGrid {
  public:
    SampleGrid(const QRect& bounds, std::vector<std::uint64_t>& samples)
        : m_bounds(bounds),
          m_samples(samples),
          m_rowFirst(std::size_t(bounds.height()), std::numeric_limits<long>::max()),
          m_rowLast(std::size_t(bounds.height()), std::numeric_limits<long>::min()) {
        // Words past the bounds stay zero too.
        const std::size_t size = std::size_t(bounds.width()) * std::size_t(bounds.height());
        if (m_samples.size() < size)
            m_samples.resize(size, 0);
    }

    void Add(const SegmentReach& s, double radius) {
        const long firstRow = std::max(SampleAtOrAfter(s.Top() - radius), Top());
        const long lastRow = std::min(SampleAtOrBefore(s.Bottom() + radius), Bottom());
        long blockFrom = lastRow + 1, blockTo = lastRow;
        if (s.Vertical()) {
            // Level with a vertical segment the pen reaches as far on every row: those
            // rows are filled as one block.
            blockFrom = std::max(SampleAtOrAfter(s.Top()), firstRow);
            blockTo = std::min(SampleAtOrBefore(s.Bottom()), lastRow);
            if (blockFrom <= blockTo)
                Fill(blockFrom, blockTo, SampleAtOrAfter(s.X() - radius),
                     SampleAtOrBefore(s.X() + radius));
            else
                blockFrom = lastRow + 1;  // no row between its ends
        }
        for (long row = firstRow; row <= lastRow; ++row) {
            if (row == blockFrom) {
                row = blockTo;
                continue;
            }
            double low, high;
            s.At((double(row) - kSampleOffset) / kGrid, low, high);
            if (low <= high)
                FillRow(row, SampleAtOrAfter(low), SampleAtOrBefore(high));
        }
    }

    // Counts the touched pixels' samples into `level` and clears their words.
    void Count(std::vector<std::uint8_t>& level, std::vector<Coverage::Span>& rows) {
        level.assign(std::size_t(m_bounds.width()) * std::size_t(m_bounds.height()), 0);
        rows.resize(m_rowFirst.size());
        for (std::size_t row = 0; row < m_rowFirst.size(); ++row) {
            rows[row] = m_rowFirst[row] <= m_rowLast[row]
                            ? Coverage::Span{int(m_rowFirst[row]), int(m_rowLast[row])}
                            : Coverage::Span{0, -1};
            const std::size_t base = row * std::size_t(m_bounds.width());
            for (long p = m_rowFirst[row]; p <= m_rowLast[row]; ++p) {
                std::uint64_t& word = m_samples[base + std::size_t(p)];
                level[base + std::size_t(p)] = SetBits(word);
                word = 0;
            }
        }
    }

  private:
    long Top() const { return long(m_bounds.top()) * kGrid; }
    long Bottom() const { return long(m_bounds.bottom()) * kGrid + kGrid - 1; }

    // Marks samples first … last of sample rows top … bottom, inside the bounds.
    void Fill(long top, long bottom, long first, long last) {
        first = std::max(first, long(m_bounds.left()) * kGrid);
        last = std::min(last, long(m_bounds.right()) * kGrid + kGrid - 1);
        if (first > last)
            return;
        const long firstPixel = PixelOf(first) - m_bounds.left();
        const long lastPixel = PixelOf(last) - m_bounds.left();
        const auto columns = [](long from, long to) {  // samples from … to of a pixel's row
            return std::uint64_t((2U << to) - (1U << from));
        };
        const std::uint64_t leftColumns = columns(first & (kGrid - 1), kGrid - 1);
        const std::uint64_t rightColumns = columns(0, last & (kGrid - 1));
        constexpr std::uint64_t kEachRow = 0x0101010101010101ULL;
        for (long pixelRow = PixelOf(top); pixelRow <= PixelOf(bottom); ++pixelRow) {
            // This pixel's sample rows among top … bottom, a byte each.
            const long from = std::max(top - pixelRow * kGrid, 0L);
            const long to = std::min(bottom - pixelRow * kGrid, long(kGrid - 1));
            const std::uint64_t rows =
                (to == kGrid - 1 ? ~0ULL : (1ULL << (kGrid * (to + 1))) - 1) &
                ~((1ULL << (kGrid * from)) - 1);
            const std::size_t row = std::size_t(pixelRow - m_bounds.top());
            m_rowFirst[row] = std::min(m_rowFirst[row], firstPixel);
            m_rowLast[row] = std::max(m_rowLast[row], lastPixel);
            std::uint64_t* line = m_samples.data() + row * std::size_t(m_bounds.width());
            if (firstPixel == lastPixel) {
                line[firstPixel] |= (leftColumns & rightColumns) * kEachRow & rows;
                continue;
            }
            line[firstPixel] |= leftColumns * kEachRow & rows;
            for (long p = firstPixel + 1; p < lastPixel; ++p)
                line[p] |= rows;
            line[lastPixel] |= rightColumns * kEachRow & rows;
        }
    }

    // The same for one sample row.
    void FillRow(long sampleRow, long first, long last) {
        first = std::max(first, long(m_bounds.left()) * kGrid);
        last = std::min(last, long(m_bounds.right()) * kGrid + kGrid - 1);
        if (first > last)
            return;
        const long firstPixel = PixelOf(first) - m_bounds.left();
        const long lastPixel = PixelOf(last) - m_bounds.left();
        const int shift = int(sampleRow & (kGrid - 1)) * kGrid;
        const std::size_t row = std::size_t(PixelOf(sampleRow) - m_bounds.top());
        m_rowFirst[row] = std::min(m_rowFirst[row], firstPixel);
        m_rowLast[row] = std::max(m_rowLast[row], lastPixel);
        std::uint64_t* line = m_samples.data() + row * std::size_t(m_bounds.width());
        const std::uint64_t left = std::uint64_t(0x100U - (1U << (first & (kGrid - 1))));
        const std::uint64_t right = std::uint64_t((2U << (last & (kGrid - 1))) - 1U);
        if (firstPixel == lastPixel) {
            line[firstPixel] |= (left & right) << shift;
            return;
        }
        line[firstPixel] |= left << shift;
        for (long p = firstPixel + 1; p < lastPixel; ++p)
            line[p] |= 0xFFULL << shift;
        line[lastPixel] |= right << shift;
    }

    const QRect m_bounds;
    std::vector<std::uint64_t>& m_samples;
    // The touched pixels of each row, first … last.
    std::vector<long> m_rowFirst, m_rowLast;
};

// Pixel centres in pixel indices.
QPointF Index(QPointF point) {
    return point - QPointF(0.5, 0.5);
}

template <typename ForEachSegment>
void Cover(ForEachSegment forEach, int width, const QRect& clip, Coverage& out) {
    out.bounds = QRect();
    out.level.clear();
    out.rows.clear();
    if (width <= 0 || clip.isEmpty())
        return;
    const double radius = width / 2.0;
    // Only where the pen reaches.
    double left = std::numeric_limits<double>::infinity(), top = left;
    double right = -left, bottom = -left;
    forEach([&](QPointF a, QPointF b) {
        left = std::min({left, a.x(), b.x()});
        right = std::max({right, a.x(), b.x()});
        top = std::min({top, a.y(), b.y()});
        bottom = std::max({bottom, a.y(), b.y()});
    });
    if (!(left <= right))
        return;
    const QRect reach(QPoint(int(std::floor(std::max(left - radius, -1.0e6))),
                             int(std::floor(std::max(top - radius, -1.0e6)))),
                      QPoint(int(std::ceil(std::min(right + radius, 1.0e6))),
                             int(std::ceil(std::min(bottom + radius, 1.0e6)))));
    const QRect bounds = reach & clip;
    if (bounds.isEmpty())
        return;
    out.bounds = bounds;
    SampleGrid grid(bounds, out.samples);
    forEach([&](QPointF a, QPointF b) { grid.Add(SegmentReach(a, b, radius), radius); });
    grid.Count(out.level, out.rows);
}

}  // namespace

void StrokeCoverage(const CurveStrokes& strokes, int width, const QRect& clip, Coverage& out) {
    Cover(
        [&strokes](auto visit) {
            for (const auto* lines : {&strokes.within, &strokes.between}) {
                for (const QLineF& line : *lines)
                    visit(Index(line.p1()), Index(line.p2()));
            }
        },
        width, clip, out);
}

void StrokeCoverage(const Vertex* points, std::size_t count, int width, const QRect& clip,
                    Coverage& out) {
    if (points == nullptr)
        count = 0;
    Cover(
        [points, count](auto visit) {
            if (count == 1)
                visit(Index(points[0]), Index(points[0]));
            for (std::size_t i = 1; i < count; ++i)
                visit(Index(points[i - 1]), Index(points[i]));
        },
        width, clip, out);
}

}  // namespace GraphMath
