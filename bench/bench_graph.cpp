// Repaint cost of the trend graph at the main window's graph size, against two
// peers drawing the same data: a plain QPainter polyline of every point, and
// QCustomPlot with adaptive sampling.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "ui/run_display.h"
#include "widgets/digit_st.h"
#include "widgets/graph_math.h"
#include "widgets/vex_graph_wnd.h"

#ifdef VELMORA_HAVE_QCUSTOMPLOT
#include <qcustomplot.h>
#endif

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 530;

void EnsureApplication() {
    if (QApplication::instance() != nullptr)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velmora_bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the process
}

// A run's speed trace: a ramp to 300 1/min with a little noise, one sample a second.
struct Trace {
    std::vector<double> x, y;
    float low = 0.0f, high = 1.1754944e-38f;
};

Trace MakeTrace(int count) {
    Trace trace;
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

    explicit MainWindowGraph(const Trace& trace) {
        graph.resize(kWidth, kHeight);
        display.SetupGraph();
        for (std::size_t i = 0; i < trace.x.size(); ++i)
            display.PlotSpeed(int(trace.x[i]), int(trace.y[i]));
        display.RescaleGraph(trace.low, trace.high, trace.x.back());
    }
};

void BM_GraphRepaint(benchmark::State& state) {
    EnsureApplication();
    const Trace trace = MakeTrace(int(state.range(0)));
    MainWindowGraph window(trace);
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        window.graph.Render(painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GraphRepaint)
    ->Arg(1)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(72000)
    ->Unit(benchmark::kMicrosecond);

// What a status update costs the graph at the end of a 20-hour run: one point,
// both axis ranges, one repaint.
void BM_GraphUpdateStep(benchmark::State& state) {
    EnsureApplication();
    Trace trace = MakeTrace(int(state.range(0)));
    MainWindowGraph window(trace);
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    int x = int(trace.x.size());
    for (auto _ : state) {
        ++x;
        window.display.PlotSpeed(x, 300);
        window.display.RescaleGraph(trace.low, trace.high, x);
        QPainter painter(&image);
        window.graph.Render(painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GraphUpdateStep)->Arg(72000)->Unit(benchmark::kMicrosecond);

// The column reduction alone: what the repaint spends on the run's length.
void BM_GraphDecimate(benchmark::State& state) {
    const Trace trace = MakeTrace(int(state.range(0)));
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
BENCHMARK(BM_GraphDecimate)->Arg(1000)->Arg(72000)->Unit(benchmark::kMicrosecond);

// Peer: every point through one polyline, same pen, same picture size.
void BM_GraphPeerPolyline(benchmark::State& state) {
    EnsureApplication();
    const Trace trace = MakeTrace(int(state.range(0)));
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    std::vector<QPointF> points(trace.x.size());
    const double xScale = (kWidth - 80.0) / (trace.x.back() + 1.0);
    const double yScale = (kHeight - 60.0) / (double(trace.high) * 1.025);
    for (auto _ : state) {
        for (std::size_t i = 0; i < points.size(); ++i)
            points[i] = QPointF(60.0 + trace.x[i] * xScale, kHeight - 40.0 - trace.y[i] * yScale);
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor(73, 86, 119));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0, 0, 128), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(points.data(), int(points.size()));
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GraphPeerPolyline)->Arg(1000)->Arg(10000)->Arg(72000)->Unit(benchmark::kMicrosecond);

#ifdef VELMORA_HAVE_QCUSTOMPLOT
// Peer: QCustomPlot's graph with adaptive sampling, styled like ours.
void BM_GraphPeerQCustomPlot(benchmark::State& state) {
    EnsureApplication();
    const Trace trace = MakeTrace(int(state.range(0)));
    QCustomPlot plot;
    plot.resize(kWidth, kHeight);
    plot.setBackground(QColor(73, 86, 119));
    for (QCPAxis* axis : {plot.xAxis, plot.yAxis}) {
        axis->grid()->setSubGridVisible(true);
        axis->setTickLabelColor(QColor(234, 234, 234));
        axis->setLabelColor(QColor(234, 234, 234));
    }
    plot.xAxis->setLabel("Time(S)");
    plot.yAxis->setLabel("Speed(1/min)");
    QCPGraph* graph = plot.addGraph();
    graph->setAdaptiveSampling(true);
    // Second argument 0: without anti-aliasing, as our graph draws its curve.
    graph->setAntialiased(state.range(1) != 0);
    graph->setPen(QPen(QColor(0, 0, 128), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    graph->setData(QVector<double>(trace.x.begin(), trace.x.end()),
                   QVector<double>(trace.y.begin(), trace.y.end()), true);
    plot.xAxis->setRange(0.0, trace.x.back() + 1.0);
    plot.yAxis->setRange(trace.low, (trace.high - trace.low) * 0.025 + trace.high);
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QCPPainter painter(&image);
        plot.toPainter(&painter, kWidth, kHeight);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GraphPeerQCustomPlot)
    ->ArgsProduct({{1000, 10000, 72000}, {1, 0}})
    ->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

// The benchmark binary's entry point. Weak, so that a main() provided elsewhere in
// the binary (or benchmark::benchmark_main) takes precedence without a clash.
__attribute__((weak)) int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
