#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "run/run_controller.h"
#include "sim/simulated_shaker.h"

// A run under way on the engine against the simulated shaker, journal included, for the
// benchmarks that measure what a poll cycle costs. The run starts in the constructor and is
// stopped in the destructor.
class CBenchEngineRun : private IRunObserver {
  public:
    // Without a `bytePause` the channel keeps its own pause after each request byte.
    CBenchEngineRun(std::chrono::milliseconds cyclePeriod,
                    std::optional<std::chrono::milliseconds> bytePause)
        : m_bytePause(bytePause) {
        if (QCoreApplication::instance() == nullptr) {
            m_application = std::make_unique<QCoreApplication>(m_argc, nullptr);
        }
        SimOptions options;
        options.timeUnit = std::chrono::milliseconds(100000);  // the run never ends by itself
        m_shaker = std::make_unique<CSimulatedShaker>(options);
        m_shaker->Start();
        m_engine.reset(new CRunController(*this));  // make_unique can't see the private base
        m_engine->SetLogDirectory(m_folder.path().toStdString());
        m_engine->SetJournalFolder((m_folder.path() + "/runs").toStdString());
        m_engine->SetCyclePeriod(cyclePeriod);
        if (m_bytePause) {
            m_engine->SetBytePause(*m_bytePause);
        }
        m_engine->Connect(PortChoice{m_shaker->SlavePath(), 9600});
        WaitFor([this] { return m_engine->State() == EngineState::Idle; });
        m_engine->Start(300, 60000);
        WaitFor([this] { return m_engine->State() != EngineState::Starting; });
    }
    ~CBenchEngineRun() {
        m_engine->Stop(300);
        WaitFor([this] { return m_engine->State() == EngineState::Idle; });
        m_engine->Shutdown();
        m_engine.reset();
        m_shaker->Stop();
    }
    CBenchEngineRun(const CBenchEngineRun&) = delete;
    CBenchEngineRun& operator=(const CBenchEngineRun&) = delete;

    int Samples() const { return m_samples; }
    // Handles the engine's events until `count` samples have been recorded in all.
    void WaitForSamples(int count) {
        WaitFor([this, count] { return m_samples >= count; });
    }

  private:
    template <typename Done>
    static void WaitFor(Done done) {
        while (!done()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    void SampleRecorded(int, int, int) override { ++m_samples; }

    int m_argc = 0;
    std::unique_ptr<QCoreApplication> m_application;
    QTemporaryDir m_folder;
    std::optional<std::chrono::milliseconds> m_bytePause;
    std::unique_ptr<CSimulatedShaker> m_shaker;
    std::unique_ptr<CRunController> m_engine;
    int m_samples = 0;
};
