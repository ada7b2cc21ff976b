// One status update in the main window as the window lays its displays out, a minute into
// a run (60 samples) and at the end of a 20-hour run (72,000): both readouts get their
// texts, the graph a point and both axis ranges, and the window repaints what changed,
// through Qt's own repaint path on a shown window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <cmath>
#include <random>

#include "bench/bench_app.h"
#include "ui/run_display.h"
#include "widgets/digit_st.h"
#include "widgets/vex_graph_wnd.h"

namespace {

// The main window's readouts and graph where its template puts them (dialog units of
// Liberation Sans 12 px: 7 x 14 base units).
struct MainWindowDisplays {
    QWidget window;
    CDigitST* time = new CDigitST(&window);
    CDigitST* speed = new CDigitST(&window);
    CVexGraphWnd* graph = new CVexGraphWnd(&window);
    CRunDisplay display{*time, *speed, *graph};

    MainWindowDisplays() {
        window.resize(1031, 593);
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(73, 86, 119));
        window.setPalette(palette);
        time->setGeometry(688, 138, 285, 110);
        speed->setGeometry(688, 294, 285, 110);
        graph->setGeometry(12, 12, 643, 569);
        display.SetupReadouts();
        display.SetupGraph();
        window.show();
        QApplication::processEvents();
    }
};

void BM_WindowStatusUpdate(benchmark::State& state) {
    EnsureBenchApplication();
    MainWindowDisplays displays;
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 1.5);
    float low = 0.0f, high = 1.1754944e-38f;
    int x = 0;
    const auto update = [&](int remaining) {
        ++x;
        const int speed = int(std::lround(std::min(300.0, x * 5.0) + noise(random)));
        low = std::min(low, float(speed));
        high = std::max(high, float(speed));
        displays.display.ShowSpeed(speed);
        displays.display.ShowBlinkingTime(remaining);
        displays.display.PlotSpeed(x, speed);
        displays.display.RescaleGraph(low, high, x);
    };
    const int samples = int(state.range(0));
    for (int i = 0; i < samples; ++i)
        update(samples - i);
    QApplication::processEvents();
    for (auto _ : state) {
        update(std::max(0, samples - x));
        // Delivers the repaint the update asked for: the graph and the readout cells
        // whose glyph changed.
        QApplication::processEvents();
    }
}
BENCHMARK(BM_WindowStatusUpdate)->Arg(60)->Arg(72000)->Unit(benchmark::kMicrosecond);

}  // namespace
