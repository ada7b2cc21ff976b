#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "widgets/graph_math.h"

using namespace GraphMath;

TEST(GraphMathTicks, NiceStepsCoverTheRangeWithinTheLimit) {
    struct Case {
        double low, high;
        int maxTicks;
        double step;
    } cases[] = {
        {0.0, 307.5, 8, 50.0}, {0.0, 2.0, 6, 0.5},   {0.0, 72001.0, 6, 20000.0},
        {-3.0, 7.0, 11, 1.0},  {0.0, 9e11, 5, 5e11}, {100.0, 100.4, 5, 0.1},
    };
    for (const Case& c : cases) {
        const Ticks ticks = NiceTicks(c.low, c.high, c.maxTicks);
        EXPECT_DOUBLE_EQ(ticks.step, c.step) << c.low << " … " << c.high;
        ASSERT_FALSE(ticks.major.empty());
        EXPECT_LE(int(ticks.major.size()), c.maxTicks);
        for (double value : ticks.major) {
            EXPECT_GE(value, c.low - 1e-9 * c.step);
            EXPECT_LE(value, c.high + 1e-9 * c.step);
        }
    }
}

TEST(GraphMathTicks, DegenerateRangesStillGiveTicks) {
    // An all-zero run's speed axis: 0 … about 1.2e-38.
    const Ticks tiny = NiceTicks(0.0, 1.2049e-38, 6);
    EXPECT_GT(tiny.step, 0.0);
    EXPECT_GE(tiny.major.size(), 2u);
    EXPECT_EQ(tiny.major.front(), 0.0);
    EXPECT_NE(FormatTickLabel(tiny.major[1], tiny.step, 0), FormatTickLabel(0.0, tiny.step, 0));

    for (auto [low, high] : {std::pair{5.0, 5.0}, {NAN, 1.0}, {0.0, INFINITY}, {3.0, -3.0}}) {
        const Ticks ticks = NiceTicks(low, high, 6);
        EXPECT_GT(ticks.step, 0.0);
        EXPECT_FALSE(ticks.major.empty());
        EXPECT_LE(ticks.major.size(), 7u);
    }
}

TEST(GraphMathTicks, LabelsTellNeighboursApart) {
    EXPECT_EQ(FormatTickLabel(300.0, 50.0, 0), "300");
    EXPECT_EQ(FormatTickLabel(0.5, 0.5, 0), "0.5");
    EXPECT_EQ(FormatTickLabel(100.1, 0.1, 0), "100.1");
    EXPECT_EQ(FormatTickLabel(2e11, 2e11, 0), "2e+11");
    EXPECT_EQ(FormatTickLabel(125.0, 25.0, 1), "02:05");
}

TEST(GraphMathMapping, MapsBothWaysAndSurvivesEmptyRanges) {
    const AxisMapping y = AxisMapping::Make(0.0, 250.0, 500.0, 0.0);
    EXPECT_DOUBLE_EQ(y.ToPixel(0.0), 500.0);
    EXPECT_DOUBLE_EQ(y.ToPixel(250.0), 0.0);
    EXPECT_DOUBLE_EQ(y.ToPixel(100.0), 300.0);
    EXPECT_DOUBLE_EQ(y.ToValue(300.0), 100.0);

    for (auto [low, high] : {std::pair{7.0, 7.0}, {NAN, NAN}, {-INFINITY, 1.0}}) {
        const AxisMapping m = AxisMapping::Make(low, high, 0.0, 100.0);
        EXPECT_TRUE(std::isfinite(m.ToPixel(7.0)));
        EXPECT_TRUE(std::isfinite(m.ToPixel(1e300)));
    }
    // Wild values stay within what a painter can take.
    EXPECT_LE(std::abs(y.ToPixel(9e11)), 1e6);
}

namespace {

struct Series {
    std::vector<double> x, y;
};

Series Flat(std::size_t count, double level) {
    Series s;
    for (std::size_t i = 0; i < count; ++i) {
        s.x.push_back(double(i + 1));
        s.y.push_back(level);
    }
    return s;
}

}  // namespace

TEST(GraphMathDecimation, KeepsFirstLowestHighestAndLastOfEachColumnOnItsPixelCentres) {
    // Ten pixels per unit: the first five points share column 0, the sixth is in column 1.
    const AxisMapping xMap = AxisMapping::Make(0.0, 1.0, 0.0, 10.0);
    const AxisMapping yMap = AxisMapping::Make(0.0, 10.0, 100.0, 0.0);
    const std::vector<double> x{0.01, 0.02, 0.03, 0.04, 0.05, 0.15};
    const std::vector<double> y{5.0, 9.0, 1.0, 7.0, 6.0, 3.0};
    std::vector<Vertex> out;
    DecimateToColumns(x.data(), y.data(), x.size(), xMap, yMap, 0, 9, out);
    // First, highest (it comes first), lowest, last; then the next column.
    EXPECT_EQ(out, (std::vector<Vertex>{
                       {0.5, 50.5}, {0.5, 10.5}, {0.5, 90.5}, {0.5, 40.5}, {1.5, 70.5}}));

    Series s = Flat(72000, 100.0);
    s.y[36000] = 200.0;  // a one-sample spike
    s.y[50000] = 10.0;   // and a one-sample dip
    const AxisMapping wideX = AxisMapping::Make(0.0, 72001.0, 50.0, 650.0);
    const AxisMapping wideY = AxisMapping::Make(0.0, 250.0, 500.0, 0.0);
    DecimateToColumns(s.x.data(), s.y.data(), s.x.size(), wideX, wideY, 50, 649, out);
    EXPECT_LE(out.size(), 4u * 600u);
    double top = 1e9, bottom = -1e9;
    for (const Vertex& v : out) {
        top = std::min(top, v.y());
        bottom = std::max(bottom, v.y());
    }
    EXPECT_DOUBLE_EQ(top, PixelCentre(wideX, wideY, 36001.0, 200.0).y());
    EXPECT_DOUBLE_EQ(bottom, PixelCentre(wideX, wideY, 50001.0, 10.0).y());
    // Vertices stay in the order of the points, so the line never doubles back.
    for (std::size_t i = 1; i < out.size(); ++i)
        EXPECT_GE(out[i].x(), out[i - 1].x());
}

TEST(GraphMathDecimation, TheSortedPathAgreesWithTheGeneralOne) {
    // Random walks with spikes, some of them wider than the plot, some narrower,
    // with repeated x values and a range that cuts both ends.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> step(0.0, 2.0);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int trial = 0; trial < 20; ++trial) {
        Series s;
        double x = 0.0, y = 100.0;
        const int count = 50 + trial * 997;
        for (int i = 0; i < count; ++i) {
            x += trial % 3 == 0 && i % 5 == 0 ? 0.0 : step(random);
            y += noise(random);
            s.x.push_back(x);
            s.y.push_back(i % 1013 == 0 ? y + 500.0 : y);
        }
        const AxisMapping xMap = AxisMapping::Make(x * 0.1, x * 0.9, 40.0, 600.0);
        const AxisMapping yMap = AxisMapping::Make(-200.0, 400.0, 500.0, 10.0);
        std::vector<Vertex> general, sorted;
        DecimateToColumns(s.x.data(), s.y.data(), s.x.size(), xMap, yMap, 40, 599, general, false);
        DecimateToColumns(s.x.data(), s.y.data(), s.x.size(), xMap, yMap, 40, 599, sorted, true);
        EXPECT_EQ(general, sorted) << "trial " << trial;
    }
}

TEST(GraphMathDecimation, SparseDataIsKeptWholeAndOffPlotPointsCollapse) {
    const Series sparse = Flat(50, 5.0);
    const AxisMapping yMap = AxisMapping::Make(0.0, 10.0, 100.0, 0.0);
    std::vector<Vertex> out;
    DecimateToColumns(sparse.x.data(), sparse.y.data(), 50,
                      AxisMapping::Make(0.0, 51.0, 0.0, 510.0), yMap, 0, 509, out);
    EXPECT_EQ(out.size(), 50u);

    // Showing only samples 500 … 600 of 100000 (one column per sample): beyond the
    // columns a pen can reach from outside, everything folds into the points where the
    // line leaves and re-enters, so the lines towards the plot keep their true slope.
    Series wide = Flat(100000, 5.0);
    wide.y[482] = 9.0;  // sample 483, the last one of the left fold
    const AxisMapping xMap = AxisMapping::Make(500.0, 600.0, 0.0, 100.0);
    DecimateToColumns(wide.x.data(), wide.y.data(), wide.x.size(), xMap, yMap, 0, 99, out);
    EXPECT_LE(out.size(), 2u + 100u + 2u * kOutsideColumns + 2u);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[0], PixelCentre(xMap, yMap, 1.0, 5.0));
    EXPECT_EQ(out[1], PixelCentre(xMap, yMap, 483.0, 9.0));
    EXPECT_EQ(out[2], PixelCentre(xMap, yMap, 484.0, 5.0));
    EXPECT_EQ(out.back(), PixelCentre(xMap, yMap, 100000.0, 5.0));

    DecimateToColumns(nullptr, nullptr, 0, yMap, yMap, 0, 10, out);
    EXPECT_TRUE(out.empty());
}

TEST(GraphMathStroke, APenCoversEveryPixelWhoseCentreIsWithinHalfItsWidth) {
    // Against the definition, pixel by pixel: a random walk through pixel centres.
    std::mt19937 random(3);
    std::uniform_int_distribution<int> step(-6, 6);
    std::vector<Vertex> line{{20.5, 30.5}};
    for (int i = 0; i < 40; ++i) {
        const double dx = i % 4 == 0 ? 0.0 : std::abs(step(random)) % 3;
        line.emplace_back(std::clamp(line.back().x() + dx, 0.5, 59.5),
                          std::clamp(line.back().y() + step(random) * (i % 3), 0.5, 59.5));
    }
    for (const int width : {1, 3, 5}) {
        std::vector<QRect> rects;
        StrokePixels(line.data(), line.size(), width, rects);
        std::set<std::pair<int, int>> covered;
        for (const QRect& r : rects) {
            for (int py = r.top(); py <= r.bottom(); ++py) {
                for (int px = r.left(); px <= r.right(); ++px)
                    covered.insert({px, py});
            }
        }
        const double reach = width / 2.0;
        int wrong = 0;
        for (int py = -5; py < 65; ++py) {
            for (int px = -5; px < 65; ++px) {
                const QPointF centre(px + 0.5, py + 0.5);
                double nearest = 1e9;
                for (std::size_t i = 1; i < line.size(); ++i) {
                    const QPointF a = line[i - 1], d = line[i] - a;
                    const double length2 = QPointF::dotProduct(d, d);
                    const double t =
                        length2 == 0.0
                            ? 0.0
                            : std::clamp(QPointF::dotProduct(centre - a, d) / length2, 0.0, 1.0);
                    const QPointF off = centre - (a + t * d);
                    nearest = std::min(nearest, std::sqrt(QPointF::dotProduct(off, off)));
                }
                wrong += (nearest <= reach) != (covered.count({px, py}) == 1);
            }
        }
        EXPECT_EQ(wrong, 0) << "width " << width;
    }
}

TEST(GraphMathStroke, RowRunsCoverTheSamePixelsInsideTheClipOnceEach) {
    // Overlapping pieces of every shape, some across the clip's edges and across the
    // 64-pixel words, some outside it.
    std::mt19937 random(3);
    std::uniform_int_distribution<int> at(-40, 200), size(1, 90);
    const QRect clip(-7, 3, 128, 120);  // two words wide
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<QRect> pieces;
        for (int i = 0; i < 60; ++i)
            pieces.emplace_back(at(random), at(random), size(random), trial % 2 ? 1 : size(random));
        const auto pixelsOf = [&](const std::vector<QRect>& rects, bool clipped) {
            std::multiset<std::pair<int, int>> pixels;
            for (const QRect& r : rects) {
                const QRect part = clipped ? r & clip : r;
                for (int py = part.top(); py <= part.bottom(); ++py) {
                    for (int px = part.left(); px <= part.right(); ++px)
                        pixels.insert({py, px});
                }
            }
            return pixels;
        };
        std::vector<QRect> runs;
        RowRuns(pieces, clip, runs);
        const auto expected = pixelsOf(pieces, true);
        using Pixels = std::multiset<std::pair<int, int>>;
        const std::set<std::pair<int, int>> once(expected.begin(), expected.end());
        EXPECT_EQ(pixelsOf(runs, false), Pixels(once.begin(), once.end())) << "trial " << trial;
        // In order, one row high, with a gap between runs of one row.
        for (std::size_t i = 1; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].height(), 1);
            EXPECT_TRUE(
                runs[i].top() > runs[i - 1].top() ||
                (runs[i].top() == runs[i - 1].top() && runs[i].left() > runs[i - 1].right() + 1));
        }
    }
}

namespace {

// Samples of pixel (px, py) within `reach` of the polyline, counted one by one.
int SamplesWithinReach(const std::vector<Vertex>& line, int px, int py, double reach) {
    int count = 0;
    for (int j = 0; j < 8; ++j) {
        for (int k = 0; k < 8; ++k) {
            const QPointF sample(px + (k + 0.5) / 8.0, py + (j + 0.5) / 8.0);
            double nearest = 1e9;
            for (std::size_t i = 1; i < line.size(); ++i) {
                const QPointF a = line[i - 1], d = line[i] - a;
                const double length2 = QPointF::dotProduct(d, d);
                const double t =
                    length2 == 0.0
                        ? 0.0
                        : std::clamp(QPointF::dotProduct(sample - a, d) / length2, 0.0, 1.0);
                const QPointF off = sample - (a + t * d);
                nearest = std::min(nearest, QPointF::dotProduct(off, off));
            }
            count += nearest <= reach * reach;
        }
    }
    return count;
}

}  // namespace

TEST(GraphMathCoverage, EachPixelCountsItsSamplesWithinHalfThePensWidth) {
    // Against the definition, sample by sample: a random walk through pixel centres that
    // doubles back on itself, cut by the clip.
    std::mt19937 random(5);
    std::uniform_int_distribution<int> step(-6, 6);
    std::vector<Vertex> line{{20.5, 30.5}};
    for (int i = 0; i < 30; ++i) {
        const double dx = i % 4 == 0 ? 0.0 : step(random) % 3;
        line.emplace_back(std::clamp(line.back().x() + dx, 0.5, 59.5),
                          std::clamp(line.back().y() + step(random) * (i % 3), 0.5, 59.5));
    }
    const QRect clip(12, 5, 40, 50);
    for (const int width : {1, 3, 4}) {
        Coverage coverage;
        StrokeCoverage(line.data(), line.size(), width, clip, coverage);
        ASSERT_TRUE(clip.contains(coverage.bounds));
        int wrong = 0, covered = 0;
        for (int py = clip.top(); py <= clip.bottom(); ++py) {
            for (int px = clip.left(); px <= clip.right(); ++px) {
                int level = 0;
                if (coverage.bounds.contains(px, py)) {
                    const QPoint at = QPoint(px, py) - coverage.bounds.topLeft();
                    level = coverage.level[std::size_t(at.y() * coverage.bounds.width() + at.x())];
                    const Coverage::Span span = coverage.rows[std::size_t(at.y())];
                    EXPECT_TRUE(level == 0 || (at.x() >= span.first && at.x() <= span.last));
                }
                const int expected = SamplesWithinReach(line, px, py, width / 2.0);
                wrong += level != expected;
                covered += expected;
            }
        }
        EXPECT_GT(covered, 64 * 40);
        EXPECT_EQ(wrong, 0) << "width " << width;
    }
}

TEST(GraphMathCoverage, TheDecimatedCurveCoversExactlyWhatEveryPointCovers) {
    // Dense noisy columns with spikes, points off both ends of the plot, and a stretch
    // drawn backwards in time.
    std::mt19937 random(8);
    std::normal_distribution<double> noise(0.0, 4.0);
    std::vector<double> x, y;
    for (int i = -3000; i < 43000; ++i) {
        x.push_back(i < 20000 || i > 21000 ? i : 41000 - i);
        y.push_back(150.0 + 80.0 * std::sin(i / 3000.0) + noise(random) +
                    (i % 4999 == 0 ? 60.0 : 0.0));
    }
    const auto xMap = AxisMapping::Make(0.0, 40000.0, 30.0, 630.0);
    const auto yMap = AxisMapping::Make(0.0, 300.0, 480.0, 10.0);
    const QRect clip(31, 11, 598, 468);
    std::vector<Vertex> every;
    for (std::size_t i = 0; i < x.size(); ++i)
        every.push_back(PixelCentre(xMap, yMap, x[i], y[i]));
    for (const int width : {1, 3, 6}) {
        std::vector<Vertex> curve;
        DecimateToColumns(x.data(), y.data(), x.size(), xMap, yMap, 30, 629, curve);
        ASSERT_LT(curve.size(), 5000u);
        CurveStrokes strokes;
        SplitCurve(curve, strokes);
        Coverage decimated, full;
        StrokeCoverage(strokes, width, clip, decimated);
        StrokeCoverage(every.data(), every.size(), width, clip, full);
        const auto levelAt = [](const Coverage& c, int px, int py) {
            if (!c.bounds.contains(px, py))
                return 0;
            return int(c.level[std::size_t((py - c.bounds.top()) * c.bounds.width() +
                                           (px - c.bounds.left()))]);
        };
        int differ = 0, partial = 0;
        for (int py = clip.top(); py <= clip.bottom(); ++py) {
            for (int px = clip.left(); px <= clip.right(); ++px) {
                differ += levelAt(decimated, px, py) != levelAt(full, px, py);
                partial += levelAt(full, px, py) % kCoverageSamples != 0;
            }
        }
        EXPECT_GT(partial, 1000);
        EXPECT_EQ(differ, 0) << "width " << width;
    }
}
