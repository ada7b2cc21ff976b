// The whole window during a run: the real main window, its engine and journal, against the
// simulated shaker at the real pace (50 ms a request byte, a cycle a second, the remaining time
// counting down, a noisy speed), for 30 s; its CPU against the least the same traffic costs
// (bench_floor.h), measured first in the same process run. Then, for scale, what Qt itself costs
// the same thread to wake once a second and repaint a bare widget of the graph's size with one
// fill, in a window of the same size (repaint_floor_ms/s). Counted from the kernel's per-thread
// run times: the window's thread, the engine's other threads, and the whole program (every
// thread but the simulator's). On the offscreen platform unless another is asked for
// (xvfb-run with QT_QPA_PLATFORM=xcb paints through an X server).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <optional>
#include <string>

#include "bench/bench_app.h"
#include "bench/bench_floor.h"
#include "framework/control_text.h"
#include "resources/dialog_templates.h"
#include "sim/simulated_shaker.h"
#include "ui/main_dlg.h"
#include "widgets/vex_graph_wnd.h"

namespace {

using namespace bench_floor;

constexpr int kRunSeconds = 30;

struct ThreadTimes {
    double window = 0;  // the window's (and engine's) thread
    double poller = 0;
    double journal = 0;
    double exchange = 0;
    double program = 0;
    double windowWakes = 0;
};

// Everything but the simulator's thread, which is unnamed (it has the program's name) and is
// not the main thread.
ThreadTimes ReadThreadTimes(const std::string& programName) {
    const long mainThread = static_cast<long>(getpid());
    ThreadTimes times;
    times.window = OwnRunNs();
    times.windowWakes = TaskSleeps("/proc/thread-self");
    times.poller = ThreadRunNs("velmora-poller");
    times.journal = ThreadRunNs("velmora-journal");
    times.exchange = ThreadRunNs("velmora-exchange");
    times.program = ThreadsRunNs([&](const std::string& name, long tid) {
        return tid == mainThread || name != programName;
    });
    return times;
}

struct WindowRun {
    bool ran = false;
    int samples = 0;
    double seconds = 0;
    ThreadTimes used;
    QSize windowSize;
    QRect graphArea;
};

WindowRun RunTheWindow() {
    EnsureBenchApplication();
    const std::string programName = TaskName("/proc/self");
    QTemporaryDir folder;
    SimOptions options;
    options.noise = 2;
    CSimulatedShaker shaker(options);
    WindowRun result;
    if (!shaker.Start()) {
        return result;
    }
    CMainDlg window;
    window.m_choosePort = [&shaker]() -> std::optional<PortChoice> {
        return PortChoice{shaker.SlavePath()};
    };
    window.m_showInformation = [](int, const QString&) {};
    window.m_engine.SetLogDirectory(folder.path().toStdString());
    window.m_engine.SetJournalFolder((folder.path() + "/runs").toStdString());

    enum class Step { Connecting, Starting, Warming, Measuring, Stopping } step = Step::Connecting;
    ThreadTimes before;
    QElapsedTimer clock;
    int firstSample = 0;
    QTimer driver;
    driver.setInterval(100);
    QObject::connect(&driver, &QTimer::timeout, &window, [&] {
        const int samples = static_cast<int>(window.m_engine.Record().SpeedSeries().size());
        switch (step) {
            case Step::Connecting:
                if (window.isVisible() && window.m_engine.State() == EngineState::Idle &&
                    window.m_engine.Link() == LinkState::Answering) {
                    SetControlText(*window.GetDlgItem(IDC_TIME_EDIT), QStringLiteral("3600"));
                    window.OnStart();
                    step = Step::Starting;
                }
                break;
            case Step::Starting:
                if (window.m_engine.State() == EngineState::Running) {
                    step = Step::Warming;
                }
                break;
            case Step::Warming:
                // The first samples include the poller's start and the first paints. The
                // driver sleeps while measuring: its own wake-ups would be counted.
                if (samples >= 3) {
                    firstSample = samples;
                    driver.stop();
                    step = Step::Measuring;
                    before = ReadThreadTimes(programName);
                    clock.start();
                    QTimer::singleShot(kRunSeconds * 1000, &window, [&] {
                        const ThreadTimes after = ReadThreadTimes(programName);
                        result.seconds = clock.elapsed() / 1000.0;
                        result.samples =
                            static_cast<int>(window.m_engine.Record().SpeedSeries().size()) -
                            firstSample;
                        result.used = {
                            after.window - before.window,   after.poller - before.poller,
                            after.journal - before.journal, after.exchange - before.exchange,
                            after.program - before.program, after.windowWakes - before.windowWakes};
                        result.ran = true;
                        window.OnStop();
                        step = Step::Stopping;
                        driver.start();
                    });
                }
                break;
            case Step::Measuring:
                break;
            case Step::Stopping:
                if (window.m_engine.State() == EngineState::Idle) {
                    driver.stop();
                    window.close();
                }
                break;
        }
    });
    driver.start();
    window.DoModal();
    result.windowSize = window.size();
    if (const auto* graph = window.findChild<CVexGraphWnd*>())
        result.graphArea = graph->geometry();
    shaker.Stop();
    return result;
}

// A bare window the size of the main window, its one child where the graph is, filled with one
// colour on every repaint; a timer asks for a repaint once a second, as a run's status does.
class CBareFill : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), (m_paints++ % 2) != 0 ? QColor(73, 86, 119) : QColor(70, 80, 110));
    }

  private:
    int m_paints = 0;
};

double RepaintFloorMsPerSecond(QSize windowSize, QRect graphArea) {
    constexpr int kWarmSeconds = 2;
    constexpr int kFloorSeconds = 15;
    QWidget window;
    window.resize(windowSize);
    auto* graph = new CBareFill(&window);
    graph->setGeometry(graphArea);
    window.show();
    QEventLoop loop;
    QTimer second;
    second.setInterval(1000);
    int seconds = 0;
    double before = 0, after = 0;
    QObject::connect(&second, &QTimer::timeout, &window, [&] {
        graph->update();
        ++seconds;
        if (seconds == kWarmSeconds)
            before = OwnRunNs();
        if (seconds == kWarmSeconds + kFloorSeconds) {
            after = OwnRunNs();
            loop.quit();
        }
    });
    second.start();
    loop.exec();
    return (after - before) / 1e6 / kFloorSeconds;
}

void BM_WindowRun(benchmark::State& state) {
    for (auto _ : state) {
        const double floor = FloorMsPerCycle();
        const WindowRun run = RunTheWindow();
        if (floor <= 0 || !run.ran || run.samples <= 0) {
            state.SkipWithError("no pseudo-terminal, or the run did not go through");
            return;
        }
        // One cycle a second: the floor's milliseconds per cycle are milliseconds a second.
        const auto perSecond = [&](double ns) { return ns / 1e6 / run.seconds; };
        state.counters["samples"] = run.samples;
        state.counters["floor_ms/s"] = floor;
        state.counters["window_ms/s"] = perSecond(run.used.window);
        state.counters["window_wakes/s"] = run.used.windowWakes / run.seconds;
        state.counters["poller_ms/s"] = perSecond(run.used.poller);
        state.counters["journal_ms/s"] = perSecond(run.used.journal);
        state.counters["exchange_ms/s"] = perSecond(run.used.exchange);
        state.counters["program_ms/s"] = perSecond(run.used.program);
        state.counters["window/floor"] = perSecond(run.used.window) / floor;
        state.counters["program/floor"] = perSecond(run.used.program) / floor;
        state.counters["repaint_floor_ms/s"] =
            RepaintFloorMsPerSecond(run.windowSize, run.graphArea);
    }
}
BENCHMARK(BM_WindowRun)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
