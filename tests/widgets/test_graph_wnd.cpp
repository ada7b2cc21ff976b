#include <gtest/gtest.h>

#include "paint_watch.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "widgets/graph_math.h"
#include "widgets/vex_graph_wnd.h"

namespace {

const QColor kBackground(73, 86, 119);
const QColor kCurve(0, 0, 128);

bool IsCurve(QRgb pixel) {
    return std::abs(qRed(pixel) - kCurve.red()) <= 12 &&
           std::abs(qGreen(pixel) - kCurve.green()) <= 12 &&
           std::abs(qBlue(pixel) - kCurve.blue()) <= 12;
}

void StyleLikeTheMainWindow(CVexGraphWnd& graph) {
    graph.resize(640, 530);
    graph.SetBkgColor(kBackground);
    graph.m_pGraph->SetAxisGrid(eGraphAxisX, 1, 1);
    graph.m_pGraph->SetAxisGrid(eGraphAxisY, 1, 1);
    graph.m_pGraph->EnableShowXTitle(1);
    graph.m_pGraph->EnableShowYTitle(1);
    graph.m_pGraph->SetXTitleColor(QColor(234, 234, 234));
    graph.m_pGraph->SetYTitleColor(QColor(234, 234, 234));
    graph.m_pGraph->m_nShowLegend = 0;
    graph.SetXTitle("Time(S)");
    graph.SetYTitle("Speed(1/min)");
}

void AddCurve(CVexGraphWnd& graph, const std::vector<double>& x, const std::vector<double>& y) {
    ASSERT_EQ(graph.AddSeries(unsigned(x.size()), x.data(), y.data()), 1);
    CVexGraphSeries* series = graph.m_pGraph->GetSeries(graph.GetSeriesCount() - 1);
    ASSERT_NE(series, nullptr);
    series->m_crColor = kCurve;
    series->m_nLineWidth = 3;
}

// The curve's colour over transparency, as opaque as the share of each pixel's samples
// the pen covers.
QImage Shaded(const GraphMath::Coverage& coverage) {
    QImage image(coverage.bounds.size(), QImage::Format_ARGB32_Premultiplied);
    for (int py = 0; py < image.height(); ++py) {
        for (int px = 0; px < image.width(); ++px) {
            const int level = coverage.level[std::size_t(py * image.width() + px)];
            const int alpha =
                (level * 255 + GraphMath::kCoverageSamples / 2) / GraphMath::kCoverageSamples;
            image.setPixel(px, py,
                           qPremultiply(qRgba(kCurve.red(), kCurve.green(), kCurve.blue(), alpha)));
        }
    }
    return image;
}

}  // namespace

TEST(VexGraph, SeriesAreAddedRefusedAndReset) {
    CVexGraphWnd graph;
    CVexGraph& g = *graph.m_pGraph;
    const double x[2] = {1.0, 2.0};
    const double y[2] = {300.0, NAN};

    EXPECT_EQ(graph.AddSeries(0, x, y), 0);
    EXPECT_EQ(graph.AddSeries(2, x, y), 0);  // a point that is not a number
    EXPECT_EQ(graph.AddSeries(1, nullptr, y), 0);
    EXPECT_EQ(graph.GetSeriesCount(), 0);
    EXPECT_EQ(g.GetSeries(0), nullptr);
    EXPECT_EQ(g.AddOneDataOfSeries(0, 1.0, 1.0), 0);

    EXPECT_EQ(graph.AddSeries(1, x, y), 1);
    EXPECT_EQ(g.AddOneDataOfSeries(0, 2.0, 310.0), 1);
    EXPECT_EQ(g.AddOneDataOfSeries(0, INFINITY, 310.0), 0);
    EXPECT_EQ(g.AddOneDataOfSeries(1, 2.0, 310.0), 0);
    EXPECT_EQ(g.AddOneDataOfSeries(-1, 2.0, 310.0), 0);
    ASSERT_NE(g.GetSeries(0), nullptr);
    EXPECT_EQ(g.GetSeries(0)->GetCount(), 2u);
    EXPECT_EQ(g.GetSeries(0)->YData()[1], 310.0);
    EXPECT_EQ(g.GetSeries(-1), nullptr);

    graph.ResetGraph(1);
    EXPECT_EQ(graph.GetSeriesCount(), 0);
    EXPECT_EQ(g.GetSeries(0), nullptr);
}

TEST(VexGraph, RangesAreClippedToTheMaximumAndRecalculatedOnRequest) {
    CVexGraphWnd graph;
    CVexGraph& g = *graph.m_pGraph;
    g.SetAxisMaxRange(eGraphAxisX, 0.0, 1e6);
    graph.SetAxisRange(eGraphAxisX, -5.0, 2e6, 1);
    EXPECT_EQ(g.GetAxisRange(eGraphAxisX).low, 0.0);
    EXPECT_EQ(g.GetAxisRange(eGraphAxisX).high, 1e6);
    graph.SetAxisRange(eGraphAxisX, NAN, 3.0, 1);  // ignored
    EXPECT_EQ(g.GetAxisRange(eGraphAxisX).high, 1e6);

    graph.SetAxisRange(eGraphAxisY, 0.0, 100.0, 1);
    g.EnableAxisRecalculate(eGraphAxisY, 1);
    const double x = 1.0, y = 450.0;
    graph.AddSeries(1, &x, &y);
    EXPECT_EQ(g.GetAxisRange(eGraphAxisY).high, 450.0);
    g.EnableAxisRecalculate(eGraphAxisY, 0);
    g.AddOneDataOfSeries(0, 2.0, 900.0);
    EXPECT_EQ(g.GetAxisRange(eGraphAxisY).high, 450.0);
}

TEST(VexGraph, DrawsTheCurveInItsColourInsideThePlot) {
    CVexGraphWnd graph;
    StyleLikeTheMainWindow(graph);
    std::vector<double> x, y;
    for (int i = 1; i <= 300; ++i) {
        x.push_back(i);
        y.push_back(300.0 + 100.0 * std::sin(i / 20.0));
    }
    AddCurve(graph, x, y);
    graph.SetAxisRange(eGraphAxisX, 0.0, 301.0, 1);
    graph.SetAxisRange(eGraphAxisY, 0.0, 500.0, 1);
    const QImage image = graph.grab().toImage();
    const QRect plot = graph.m_pGraph->PlotArea();
    ASSERT_FALSE(plot.isEmpty());
    EXPECT_GT(plot.width(), 500);

    int inside = 0, outside = 0;
    for (int py = 0; py < image.height(); ++py) {
        for (int px = 0; px < image.width(); ++px) {
            if (IsCurve(image.pixel(px, py)))
                ++(plot.contains(px, py) ? inside : outside);
        }
    }
    EXPECT_GT(inside, 300);
    EXPECT_EQ(outside, 0);
    // Outside the plot the window shows its own background.
    EXPECT_EQ(QColor(image.pixel(1, 1)), kBackground);

    // Each sample's column holds the curve at its height.
    const auto xMap =
        GraphMath::AxisMapping::Make(0.0, 301.0, plot.left(), plot.left() + plot.width());
    const auto yMap = GraphMath::AxisMapping::Make(0.0, 500.0, plot.bottom() + 1, plot.top());
    for (int i : {10, 100, 250}) {
        const QPoint at(int(xMap.ToPixel(x[i])), int(yMap.ToPixel(y[i])));
        EXPECT_TRUE(IsCurve(image.pixel(at))) << "sample " << i;
    }
}

TEST(VexGraph, GridLinesSpanThePlotAndMinorDotsFallOnEveryThirdRow) {
    CVexGraphWnd graph;
    StyleLikeTheMainWindow(graph);
    graph.resize(643, 569);
    graph.SetAxisRange(eGraphAxisX, 0.0, 73.0, 1);
    graph.SetAxisRange(eGraphAxisY, 0.0, 307.5, 1);
    const QImage image = graph.grab().toImage();
    const QRect plot = graph.m_pGraph->PlotArea();
    const auto mix = [](double weight) {
        const auto channel = [&](int a) { return int(std::lround(a + (234 - a) * weight)); };
        return qRgb(channel(kBackground.red()), channel(kBackground.green()),
                    channel(kBackground.blue()));
    };
    const QRgb major = mix(0.35), dot = mix(0.16), frame = mix(0.8);
    const int left = plot.left(), right = left + plot.width();
    const int top = plot.top(), bottom = top + plot.height();
    const auto at = [&](int px, int py) { return image.pixel(px, py) & 0xFFFFFF; };

    // The frame runs through the plot's edges and the pixels just past them.
    int offFrame = 0;
    for (int px = left; px <= right; ++px)
        offFrame += (at(px, top) != (frame & 0xFFFFFF)) + (at(px, bottom) != (frame & 0xFFFFFF));
    for (int py = top; py <= bottom; ++py)
        offFrame += (at(left, py) != (frame & 0xFFFFFF)) + (at(right, py) != (frame & 0xFFFFFF));
    EXPECT_EQ(offFrame, 0);

    // Rows a horizontal line crosses: there a column's dot may be covered, or added.
    int lineRows = 0;
    for (int py = top + 1; py < bottom; ++py) {
        int marked = 0;
        for (int px = left + 1; px < right; ++px)
            marked += at(px, py) != (kBackground.rgb() & 0xFFFFFF);
        lineRows += marked > plot.width() / 4;
    }
    // A major line covers every pixel between the frame's edges.
    int majorColumns = 0, dottedColumns = 0;
    for (int px = left + 1; px < right; ++px) {
        int majors = 0, dotsOnPhase = 0, dotsOffPhase = 0;
        for (int py = top + 1; py < bottom; ++py) {
            majors += at(px, py) == (major & 0xFFFFFF);
            (py % 3 == 0 ? dotsOnPhase : dotsOffPhase) += at(px, py) == (dot & 0xFFFFFF);
        }
        if (majors > plot.height() / 2) {
            ++majorColumns;
            EXPECT_EQ(majors, plot.height() - 1) << "column " << px;
        } else if (dotsOnPhase > plot.height() / 6) {
            // Dotted: a dot on every third row, where no other line crosses.
            ++dottedColumns;
            EXPECT_GE(dotsOnPhase, (plot.height() - 1) / 3 - lineRows) << "column " << px;
            EXPECT_LE(dotsOffPhase, lineRows) << "column " << px;
        }
    }
    EXPECT_GE(majorColumns, 3);
    EXPECT_GE(dottedColumns, 3 * majorColumns);
    int majorRows = 0;
    for (int py = top + 1; py < bottom; ++py) {
        int majors = 0;
        for (int px = left + 1; px < right; ++px)
            majors += at(px, py) == (major & 0xFFFFFF);
        if (majors > plot.width() / 2) {
            ++majorRows;
            EXPECT_EQ(majors, plot.width() - 1) << "row " << py;
        }
    }
    EXPECT_GE(majorRows, 3);
}

TEST(VexGraph, AOneSampleSpikeInALongRunReachesItsPixel) {
    CVexGraphWnd graph;
    StyleLikeTheMainWindow(graph);
    std::vector<double> x, y;
    for (int i = 1; i <= 72000; ++i) {
        x.push_back(i);
        y.push_back(100.0);
    }
    y[36000] = 200.0;
    AddCurve(graph, x, y);
    graph.SetAxisRange(eGraphAxisX, 0.0, 72001.0, 1);
    graph.SetAxisRange(eGraphAxisY, 0.0, 250.0, 1);
    const QImage image = graph.grab().toImage();
    const QRect plot = graph.m_pGraph->PlotArea();

    const auto xMap =
        GraphMath::AxisMapping::Make(0.0, 72001.0, plot.left(), plot.left() + plot.width());
    const auto yMap = GraphMath::AxisMapping::Make(0.0, 250.0, plot.bottom() + 1, plot.top());
    const int column = int(xMap.ToPixel(x[36000]));
    const int spikeRow = int(std::lround(yMap.ToPixel(200.0)));
    const int baseRow = int(std::lround(yMap.ToPixel(100.0)));
    // The curve rises in that column from its level all the way to the spike ...
    for (int row = spikeRow + 1; row < baseRow; ++row)
        EXPECT_TRUE(IsCurve(image.pixel(column, row))) << "row " << row;
    // ... and nowhere else leaves its level.
    for (int px = plot.left() + 2; px < plot.right() - 1; ++px) {
        if (std::abs(px - column) > 3) {
            EXPECT_FALSE(IsCurve(image.pixel(px, (spikeRow + baseRow) / 2))) << "column " << px;
        }
    }
}

TEST(VexGraph, TheCurveIsPixelIdenticalToDrawingEveryPointWithItsPen) {
    // A run's speed trace: a ramp to 300 1/min with a little noise and a few spikes,
    // at the main window's graph size.
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (const int count : {1000, 10000, 72000, 1000000}) {
        std::vector<double> x, y;
        for (int i = 1; i <= count; ++i) {
            x.push_back(i);
            y.push_back(std::round(std::min(300.0, i * 5.0) + noise(random)) +
                        (i % 9973 == 0 ? 40.0 : 0.0));
        }
        // As the window draws (without anti-aliasing), and anti-aliased.
        for (const int antialias : {0, 1}) {
            const auto setUp = [&](CVexGraphWnd& graph) {
                StyleLikeTheMainWindow(graph);
                graph.resize(643, 569);
                graph.m_pGraph->m_nAntialias = antialias;
                graph.SetAxisRange(eGraphAxisX, 0.0, count + 1.0, 1);
                graph.SetAxisRange(eGraphAxisY, 0.0, 350.0, 1);
            };
            CVexGraphWnd graph, empty;
            setUp(graph);
            setUp(empty);
            AddCurve(graph, x, y);
            QImage drawn(graph.size(), QImage::Format_RGB32), expected = drawn;
            QPainter painter(&drawn);
            graph.Render(painter);
            painter.end();

            // The same window without the curve, then every point through the same
            // pixel mapping with the same pen.
            painter.begin(&expected);
            empty.Render(painter);
            const QRect plot = empty.m_pGraph->PlotArea();
            const auto xMap = GraphMath::AxisMapping::Make(0.0, count + 1.0, plot.left(),
                                                           plot.left() + plot.width());
            const auto yMap =
                GraphMath::AxisMapping::Make(0.0, 350.0, plot.top() + plot.height(), plot.top());
            std::vector<QPointF> every;
            for (int i = 0; i < count; ++i)
                every.push_back(GraphMath::PixelCentre(xMap, yMap, x[i], y[i]));
            const QRect clip = plot.adjusted(1, 1, -1, -1);
            if (antialias) {
                GraphMath::Coverage coverage;
                GraphMath::StrokeCoverage(every.data(), every.size(), 3, clip, coverage);
                painter.drawImage(coverage.bounds.topLeft(), Shaded(coverage));
            } else {
                std::vector<QRect> pixels;
                GraphMath::StrokePixels(every.data(), every.size(), 3, pixels);
                painter.setClipRect(clip);
                painter.setPen(Qt::NoPen);
                painter.setBrush(kCurve);
                painter.drawRects(pixels.data(), int(pixels.size()));
            }
            painter.end();

            int differ = 0;
            for (int py = 0; py < drawn.height(); ++py) {
                for (int px = 0; px < drawn.width(); ++px)
                    differ += drawn.pixel(px, py) != expected.pixel(px, py);
            }
            EXPECT_EQ(differ, 0) << count << " points, anti-aliasing " << antialias;
        }
    }
}

TEST(VexGraph, SwitchingAntiAliasingOrTheColourRedrawsTheCurve) {
    CVexGraphWnd graph;
    StyleLikeTheMainWindow(graph);
    std::vector<double> x, y;
    for (int i = 1; i <= 2000; ++i) {
        x.push_back(i);
        y.push_back(200.0 + 50.0 * std::sin(i / 40.0));
    }
    AddCurve(graph, x, y);
    graph.SetAxisRange(eGraphAxisX, 0.0, 2001.0, 1);
    graph.SetAxisRange(eGraphAxisY, 0.0, 300.0, 1);
    const auto curvePixels = [](const QImage& image, const QColor& color) {
        int count = 0;
        for (int py = 0; py < image.height(); ++py) {
            for (int px = 0; px < image.width(); ++px)
                count += image.pixel(px, py) == color.rgb();
        }
        return count;
    };
    const QImage plain = graph.grab().toImage();
    graph.m_pGraph->m_nAntialias = 1;
    const QImage smooth = graph.grab().toImage();
    EXPECT_NE(smooth, plain);
    EXPECT_GT(curvePixels(smooth, kCurve), 1000);
    graph.m_pGraph->m_nAntialias = 0;
    EXPECT_EQ(graph.grab().toImage(), plain);

    graph.m_pGraph->m_nAntialias = 1;
    const QColor red(200, 0, 0);
    graph.m_pGraph->GetSeries(0)->m_crColor = red;
    const QImage recoloured = graph.grab().toImage();
    EXPECT_EQ(curvePixels(recoloured, kCurve), 0);
    EXPECT_GT(curvePixels(recoloured, red), 1000);
}

namespace {

// A run of `count` samples shown as the main window shows it, painted once so the plot
// is laid out.
void FillLikeARun(CVexGraphWnd& graph, int count) {
    StyleLikeTheMainWindow(graph);
    std::vector<double> x, y;
    for (int i = 1; i <= count; ++i) {
        x.push_back(i);
        y.push_back(200.0 + 50.0 * std::sin(i / 50.0));
    }
    AddCurve(graph, x, y);
    graph.SetAxisRange(eGraphAxisY, 0.0, 300.0, 1);
    graph.SetAxisRange(eGraphAxisX, 0.0, count + 1.0, 1);
    graph.grab();
}

void Mouse(CVexGraphWnd& graph, QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), graph.mapToGlobal(QPointF(at)), button, buttons,
                      modifiers);
    QApplication::sendEvent(&graph, &event);
}

double ValueAt(const CVexGraphWnd& graph, int px) {
    const QRect plot = graph.m_pGraph->PlotArea();
    const GraphMath::Range x = graph.m_pGraph->GetAxisRange(eGraphAxisX);
    return GraphMath::AxisMapping::Make(x.low, x.high, plot.left(), plot.left() + plot.width())
        .ToValue(px);
}

}  // namespace

TEST(VexGraph, ZoomAndPanStopFollowingUntilADoubleClick) {
    CVexGraphWnd graph;
    FillLikeARun(graph, 1000);
    const QRect plot = graph.m_pGraph->PlotArea();
    const QPoint at(plot.left() + plot.width() / 4, plot.center().y());
    const double under = ValueAt(graph, at.x());

    QWheelEvent wheel(QPointF(at), graph.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&graph, &wheel);
    GraphMath::Range zoomed = graph.m_pGraph->GetAxisRange(eGraphAxisX);
    EXPECT_LT(zoomed.high - zoomed.low, 0.7 * 1001.0);
    EXPECT_NEAR(ValueAt(graph, at.x()), under, 1e-6);
    EXPECT_FALSE(graph.IsFollowing());

    // The next status updates are remembered, not shown.
    graph.SetAxisRange(eGraphAxisX, 0.0, 1002.0, 1);
    graph.SetAxisRange(eGraphAxisY, 0.0, 310.0, 1);
    EXPECT_EQ(graph.m_pGraph->GetAxisRange(eGraphAxisX).high, zoomed.high);
    EXPECT_EQ(graph.m_pGraph->GetAxisRange(eGraphAxisY).high, 310.0);

    // Dragging right brings earlier samples in.
    Mouse(graph, QEvent::MouseButtonPress, at, Qt::LeftButton);
    Mouse(graph, QEvent::MouseMove, at + QPoint(60, 0), Qt::LeftButton);
    Mouse(graph, QEvent::MouseButtonRelease, at + QPoint(60, 0), Qt::NoButton);
    const GraphMath::Range panned = graph.m_pGraph->GetAxisRange(eGraphAxisX);
    EXPECT_NEAR(panned.low, zoomed.low - 60.0 * (zoomed.high - zoomed.low) / plot.width(), 1e-6);
    EXPECT_DOUBLE_EQ(panned.high - panned.low, zoomed.high - zoomed.low);

    Mouse(graph, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    EXPECT_TRUE(graph.IsFollowing());
    EXPECT_EQ(graph.m_pGraph->GetAxisRange(eGraphAxisX).high, 1002.0);
    graph.SetAxisRange(eGraphAxisX, 0.0, 1003.0, 1);
    EXPECT_EQ(graph.m_pGraph->GetAxisRange(eGraphAxisX).high, 1003.0);
}

TEST(VexGraph, HoverDrawsACrossHairOnTheNearestSampleAndTheFileLeavesItOut) {
    CVexGraphWnd graph;
    FillLikeARun(graph, 72000);
    const QImage plain = graph.grab().toImage();
    const QRect plot = graph.m_pGraph->PlotArea();
    const int column = plot.left() + plot.width() / 3;
    Mouse(graph, QEvent::MouseMove, QPoint(column, plot.top() + 20), Qt::NoButton);
    const QImage hovered = graph.grab().toImage();
    // A line down the whole plot, in one colour, where the plain graph has none.
    int rows = 0;
    for (int py = plot.top() + 1; py < plot.bottom(); ++py)
        rows += hovered.pixel(column, py) == hovered.pixel(column, plot.top() + 2) &&
                hovered.pixel(column, py) != plain.pixel(column, py);
    EXPECT_GT(rows, plot.height() / 2);

    QTemporaryDir folder;
    const QString path = folder.filePath("graph.png");
    int asked = 0;
    graph.m_chooseImagePath = [&] {
        ++asked;
        return path;
    };
    const std::unique_ptr<QMenu> menu = graph.MakeContextMenu();
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().first()->text(), QString("Save graph as PNG\u2026"));
    menu->actions().first()->trigger();
    EXPECT_EQ(asked, 1);
    const QImage saved(path, "PNG");
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              plain.convertToFormat(QImage::Format_RGB32));
}

namespace {

QImage OnScreen(CVexGraphWnd& graph) {
    return graph.screen()
        ->grabWindow(graph.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

// A run's second adds a point and widens the time axis: the plot and the time labels under it
// are painted again, the speed labels and titles beside them only when they change, and the
// window then shows what painting the graph whole would.
TEST(VexGraph, ARunsSecondRepaintsThePlotAndTimeLabelsAndShowsTheWholeGraph) {
    CVexGraphWnd graph;
    FillLikeARun(graph, 60);
    PaintWatch watch;
    graph.installEventFilter(&watch);
    graph.show();
    ASSERT_TRUE(AwaitPaint([&] { return watch.paints > 0; }));
    const auto second = [&](int x, double speedHigh) {
        watch.painted = QRegion();
        watch.paints = 0;
        graph.m_pGraph->AddOneDataOfSeries(0, x, 250.0);
        graph.SetAxisRange(eGraphAxisY, 0.0, speedHigh, 1);
        graph.SetAxisRange(eGraphAxisX, 0.0, x + 1.0, 1);
        return AwaitPaint([&] { return watch.paints > 0; });
    };
    const QRect plot = graph.m_pGraph->PlotArea();
    const QPoint speedLabels(plot.left() - 8, plot.center().y());
    const QPoint yTitle(8, plot.center().y());
    for (int x = 61; x <= 75; ++x) {
        ASSERT_TRUE(second(x, 300.0));
        EXPECT_TRUE(watch.painted.contains(plot.center()));
        EXPECT_TRUE(watch.painted.contains(QPoint(plot.left() + 4, plot.bottom() + 8)));
        EXPECT_FALSE(watch.painted.contains(speedLabels));
        EXPECT_FALSE(watch.painted.contains(yTitle));
    }
    EXPECT_EQ(OnScreen(graph), graph.grab().toImage().convertToFormat(QImage::Format_RGB32));
    // New speed labels: all of it, also when the speed axis alone changes.
    ASSERT_TRUE(second(76, 900.0));
    EXPECT_TRUE((QRegion(graph.rect()) - watch.painted).isEmpty());
    EXPECT_EQ(OnScreen(graph), graph.grab().toImage().convertToFormat(QImage::Format_RGB32));
    watch.painted = QRegion();
    watch.paints = 0;
    graph.SetAxisRange(eGraphAxisY, 0.0, 600.0, 1);
    ASSERT_TRUE(AwaitPaint([&] { return watch.paints > 0; }));
    EXPECT_TRUE((QRegion(graph.rect()) - watch.painted).isEmpty());
}
