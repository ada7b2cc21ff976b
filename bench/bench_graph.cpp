// Repaint cost of the trend graph at the main window's graph size (643 x 569), side by
// side in one process with QCustomPlot's replot() drawing the same data the same way
// (same size, same 3 px round pen, same anti-aliasing), the same with its fastest wide-pen
// setting, with QCustomPlot as it comes, and with every point drawn with our pen. The table after
// the run gives the ratios.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_app.h"
#include "resources/fonts.h"
#include "ui/run_display.h"
#include "widgets/digit_st.h"
#include "widgets/graph_math.h"
#include "widgets/vex_graph_wnd.h"

#ifdef VELMORA_HAVE_QCUSTOMPLOT
#include <qcustomplot.h>
#endif

namespace {

constexpr int kWidth = 643;
constexpr int kHeight = 569;
const QColor kCurve(0, 0, 128);
const QColor kBackground(73, 86, 119);
const QColor kLightText(234, 234, 234);
constexpr int kPenWidth = 3;

// A run's speed trace: a ramp to 300 1/min with a little noise, one sample a second.
struct Trace {
    std::vector<double> x, y;
    float low = 0.0f, high = 1.1754944e-38f;
};

const Trace& TraceOf(int count) {
    static std::map<int, Trace> traces;
    Trace& trace = traces[count];
    if (!trace.x.empty())
        return trace;
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int i = 1; i <= count; ++i) {
        const double speed = std::round(std::min(300.0, i * 5.0) + noise(random));
        trace.x.push_back(i);
        trace.y.push_back(speed);
        trace.low = std::min(trace.low, float(speed));
        trace.high = std::max(trace.high, float(speed));
    }
    return trace;
}

// The main window's graph, set up and filled as a run fills it.
struct MainWindowGraph {
    CDigitST time, speed;
    CVexGraphWnd graph;
    CRunDisplay display{time, speed, graph};

    MainWindowGraph(const Trace& trace, bool withCurve, int antialias) {
        graph.resize(kWidth, kHeight);
        display.SetupGraph();
        graph.m_pGraph->m_nAntialias = antialias;
        if (withCurve) {
            for (std::size_t i = 0; i < trace.x.size(); ++i)
                display.PlotSpeed(int(trace.x[i]), int(trace.y[i]));
        }
        display.RescaleGraph(trace.low, trace.high, trace.x.back());
    }
};

void Paint(CVexGraphWnd& graph, QImage& image) {
    QPainter painter(&image);
    graph.Render(painter);
    painter.end();
    benchmark::DoNotOptimize(image.constBits());
}

// Ours, nothing changed since the last paint: the decimated curve is reused.
void BM_Ours_Repaint(benchmark::State& state) {
    EnsureBenchApplication();
    const Trace& trace = TraceOf(int(state.range(0)));
    MainWindowGraph window(trace, true, int(state.range(1)));
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        Paint(window.graph, image);
}

// Ours with the speed axis changed before every paint, as every status update does:
// the curve is decimated again each time.
void BM_Ours_RepaintNewRange(benchmark::State& state) {
    EnsureBenchApplication();
    const Trace& trace = TraceOf(int(state.range(0)));
    MainWindowGraph window(trace, true, int(state.range(1)));
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    int flip = 0;
    for (auto _ : state) {
        flip ^= 1;
        window.display.RescaleGraph(trace.low, trace.high + float(flip), trace.x.back());
        Paint(window.graph, image);
    }
}

// Every point drawn with our pen through our pixel mapping, on our graph without a
// curve: the pixels within the pen's reach of the whole undecimated line; anti-aliased,
// Qt's 3 px round pen along every segment in one drawLines call (the fastest way Qt draws
// them all: one polyline of them costs about ten times as much, polylines of 8 to 256
// points about as much).
void BM_EveryPointOurPen(benchmark::State& state) {
    EnsureBenchApplication();
    const Trace& trace = TraceOf(int(state.range(0)));
    MainWindowGraph window(trace, false, 0);
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    Paint(window.graph, image);
    const QRect plot = window.graph.m_pGraph->PlotArea();
    const GraphMath::Range xRange = window.graph.m_pGraph->GetAxisRange(eGraphAxisX);
    const GraphMath::Range yRange = window.graph.m_pGraph->GetAxisRange(eGraphAxisY);
    std::vector<QPointF> points(trace.x.size());
    std::vector<QLineF> lines;
    std::vector<QRect> pixels;
    for (auto _ : state) {
        const auto xMap = GraphMath::AxisMapping::Make(xRange.low, xRange.high, plot.left(),
                                                       plot.left() + plot.width());
        const auto yMap = GraphMath::AxisMapping::Make(yRange.low, yRange.high,
                                                       plot.top() + plot.height(), plot.top());
        for (std::size_t i = 0; i < points.size(); ++i)
            points[i] = GraphMath::PixelCentre(xMap, yMap, trace.x[i], trace.y[i]);
        QPainter painter(&image);
        window.graph.Render(painter);
        painter.setClipRect(plot.adjusted(1, 1, -1, -1));
        if (state.range(1) != 0) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(kCurve, kPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            lines.clear();
            for (std::size_t i = 1; i < points.size(); ++i)
                lines.emplace_back(points[i - 1], points[i]);
            painter.drawLines(lines.data(), int(lines.size()));
        } else {
            GraphMath::StrokePixels(points.data(), points.size(), kPenWidth, pixels);
            painter.setPen(Qt::NoPen);
            painter.setBrush(kCurve);
            painter.drawRects(pixels.data(), int(pixels.size()));
        }
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The operator's interactions with the window's graph, each followed by the repaint it
// asks for, through the widget's own paint (its kept picture and the cross-hair over it).
void SendMouse(CVexGraphWnd& graph, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), graph.mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(&graph, &event);
}

void SendWheel(CVexGraphWnd& graph, QPoint at, int delta) {
    QWheelEvent event(QPointF(at), graph.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&graph, &event);
}

void PaintWidget(CVexGraphWnd& graph, QImage& image) {
    graph.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    benchmark::DoNotOptimize(image.constBits());
}

enum Interaction { kNothing, kWheel, kDrag, kHover, kStatusUpdate };

// A wheel notch in, then out again; a drag step of 7 pixels back and forth on a graph
// zoomed to half the run; a hover move to the next column and back. For comparison, the
// repaint of a status update (a new speed range) through the same paint.
void BM_Interaction(benchmark::State& state) {
    EnsureBenchApplication();
    const Trace& trace = TraceOf(int(state.range(0)));
    MainWindowGraph window(trace, true, int(state.range(1)));
    CVexGraphWnd& graph = window.graph;
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    PaintWidget(graph, image);
    const QRect plot = graph.m_pGraph->PlotArea();
    const QPoint centre = plot.center();
    const auto interaction = Interaction(state.range(2));
    if (interaction == kDrag) {
        SendWheel(graph, centre, 120 * 3);
        PaintWidget(graph, image);
        SendMouse(graph, QEvent::MouseButtonPress, centre, Qt::LeftButton);
        SendMouse(graph, QEvent::MouseMove, centre + QPoint(20, 0), Qt::LeftButton);
        PaintWidget(graph, image);
    }
    int step = 0;
    for (auto _ : state) {
        step ^= 1;
        switch (interaction) {
            case kNothing:
                break;
            case kWheel:
                SendWheel(graph, centre, step ? 120 : -120);
                break;
            case kDrag:
                SendMouse(graph, QEvent::MouseMove, centre + QPoint(step ? 27 : 20, 0),
                          Qt::LeftButton);
                break;
            case kHover:
                SendMouse(graph, QEvent::MouseMove, centre + QPoint(step, 0), Qt::NoButton);
                break;
            case kStatusUpdate:
                window.display.RescaleGraph(trace.low, trace.high + float(step), trace.x.back());
                break;
        }
        PaintWidget(graph, image);
    }
}

#ifdef VELMORA_HAVE_QCUSTOMPLOT
void SetData(QCustomPlot& plot, QCPGraph* graph, const Trace& trace) {
    graph->setData(QVector<double>(trace.x.begin(), trace.x.end()),
                   QVector<double>(trace.y.begin(), trace.y.end()), true);
    plot.xAxis->setRange(0.0, trace.x.back() + 1.0);
    plot.yAxis->setRange(trace.low, (trace.high - trace.low) * 0.025 + trace.high);
}

// QCustomPlot drawing what our graph draws: same size, colours, grids, titles, font,
// pen and anti-aliasing of the curve (adaptive sampling, its default, on); with
// `fastPolylines`, also its fastest way to draw a wide pen (each segment a line of its own).
void QCustomPlotMatched(benchmark::State& state, bool fastPolylines) {
    EnsureBenchApplication();
    const Trace& trace = TraceOf(int(state.range(0)));
    QCustomPlot plot;
    plot.resize(kWidth, kHeight);
    plot.setBackground(kBackground);
    plot.setNotAntialiasedElements(QCP::aeAll);
    if (state.range(1) != 0)
        plot.setAntialiasedElements(QCP::aePlottables);
    const QFont font = DefaultWidgetFont();
    for (QCPAxis* axis : {plot.xAxis, plot.yAxis}) {
        axis->grid()->setSubGridVisible(true);
        axis->setTickLabelColor(kLightText);
        axis->setLabelColor(kLightText);
        axis->setTickLabelFont(font);
        axis->setLabelFont(font);
    }
    plot.xAxis->setLabel("Time(S)");
    plot.yAxis->setLabel("Speed(1/min)");
    QCPGraph* graph = plot.addGraph();
    graph->setAntialiased(state.range(1) != 0);
    graph->setPen(QPen(kCurve, kPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (fastPolylines)
        plot.setPlottingHint(QCP::phFastPolylines, true);
    SetData(plot, graph, trace);
    for (auto _ : state)
        plot.replot();
}

void BM_QCustomPlot_Matched(benchmark::State& state) {
    QCustomPlotMatched(state, false);
}

void BM_QCustomPlot_Fast(benchmark::State& state) {
    QCustomPlotMatched(state, true);
}

// QCustomPlot as it comes: its default pen (1 px), anti-aliasing and look.
void BM_QCustomPlot_Defaults(benchmark::State& state) {
    EnsureBenchApplication();
    const Trace& trace = TraceOf(int(state.range(0)));
    QCustomPlot plot;
    plot.resize(kWidth, kHeight);
    SetData(plot, plot.addGraph(), trace);
    for (auto _ : state)
        plot.replot();
}
#endif

const std::vector<long> kCounts{1000, 10000, 72000, 1000000};

void Register() {
    for (long count : kCounts) {
        for (long antialias : {0, 1}) {
            benchmark::RegisterBenchmark("BM_Ours_Repaint", BM_Ours_Repaint)
                ->Args({count, antialias});
            benchmark::RegisterBenchmark("BM_Ours_RepaintNewRange", BM_Ours_RepaintNewRange)
                ->Args({count, antialias});
#ifdef VELMORA_HAVE_QCUSTOMPLOT
            benchmark::RegisterBenchmark("BM_QCustomPlot_Matched", BM_QCustomPlot_Matched)
                ->Args({count, antialias});
            benchmark::RegisterBenchmark("BM_QCustomPlot_Fast", BM_QCustomPlot_Fast)
                ->Args({count, antialias});
#endif
            benchmark::RegisterBenchmark("BM_EveryPointOurPen", BM_EveryPointOurPen)
                ->Args({count, antialias});
        }
#ifdef VELMORA_HAVE_QCUSTOMPLOT
        benchmark::RegisterBenchmark("BM_QCustomPlot_Defaults", BM_QCustomPlot_Defaults)
            ->Args({count});
#endif
    }
}

// Kind: 0 a repaint with nothing changed, 1 a wheel notch, 2 a drag step, 3 a hover move,
// 4 a status update.
void RegisterInteractions() {
    for (long antialias : {0, 1}) {
        for (long interaction : {kNothing, kWheel, kDrag, kHover, kStatusUpdate})
            benchmark::RegisterBenchmark("BM_Interaction", BM_Interaction)
                ->Args({72000, antialias, interaction})
                ->ArgNames({"points", "aa", "kind"})
                ->Unit(benchmark::kMicrosecond);
    }
}

// The column reduction alone: what the repaint spends on the run's length.
void BM_GraphDecimate(benchmark::State& state) {
    const Trace& trace = TraceOf(int(state.range(0)));
    const auto xMap = GraphMath::AxisMapping::Make(0.0, trace.x.back() + 1.0, 60.0, 630.0);
    const auto yMap = GraphMath::AxisMapping::Make(0.0, 310.0, 480.0, 10.0);
    std::vector<GraphMath::Vertex> out;
    for (auto _ : state) {
        GraphMath::DecimateToColumns(trace.x.data(), trace.y.data(), trace.x.size(), xMap, yMap, 60,
                                     629, out, true);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["vertices"] = double(out.size());
}
BENCHMARK(BM_GraphDecimate)->Arg(72000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration, so the table can be printed at the end.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> microseconds;
    std::map<std::string, double> cpuMicroseconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            microseconds[run.benchmark_name()] =
                run.real_accumulated_time / double(run.iterations) * 1e6;
            cpuMicroseconds[run.benchmark_name()] =
                run.cpu_accumulated_time / double(run.iterations) * 1e6;
        }
    }
};

void PrintTable(const char* clock, const std::map<std::string, double>& us) {
    const auto get = [&](const std::string& name) {
        const auto it = us.find(name);
        return it == us.end() ? -1.0 : it->second;
    };
    const auto ratio = [](double a, double b) { return a > 0 && b > 0 ? a / b : -1.0; };
    std::printf(
        "\nGraph repaint at %d x %d, %s microseconds per repaint (ratio < 1: ours is faster)\n",
        kWidth, kHeight, clock);
    std::printf("%8s %3s %9s %9s %9s %9s %9s %9s %10s %10s %10s %10s\n", "points", "aa", "ours",
                "ours,new", "QCP match", "QCP fast", "QCP deflt", "every pt", "new/match",
                "new/fast", "new/deflt", "new/every");
    for (long count : kCounts) {
        for (long aa : {0, 1}) {
            const std::string args = "/" + std::to_string(count) + "/" + std::to_string(aa);
            const double ours = get("BM_Ours_Repaint" + args);
            const double fresh = get("BM_Ours_RepaintNewRange" + args);
            const double matched = get("BM_QCustomPlot_Matched" + args);
            const double fast = get("BM_QCustomPlot_Fast" + args);
            const double defaults = get("BM_QCustomPlot_Defaults/" + std::to_string(count));
            const double every = get("BM_EveryPointOurPen" + args);
            std::printf(
                "%8ld %3ld %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %10.3f %10.3f %10.3f %10.3f\n",
                count, aa, ours, fresh, matched, fast, defaults, every, ratio(fresh, matched),
                ratio(fresh, fast), ratio(fresh, defaults), ratio(fresh, every));
        }
    }
}

}  // namespace

// The benchmark binary's entry point. Weak, so that a main() provided elsewhere in
// the binary (or benchmark::benchmark_main) takes precedence without a clash.
__attribute__((weak)) int main(int argc, char** argv) {
    Register();
    RegisterInteractions();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.microseconds.count("BM_Ours_RepaintNewRange/1000/0") != 0) {
        PrintTable("wall-clock", reporter.microseconds);
        PrintTable("UI-thread CPU", reporter.cpuMicroseconds);
    }
    benchmark::Shutdown();
    return 0;
}
