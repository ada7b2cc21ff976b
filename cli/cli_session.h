#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "run/run_controller.h"
#include "run/run_observer.h"

class CSimulatedShaker;
class QEventLoop;

// One command against one instrument, on the run engine the window uses: the same connection,
// Start, Stop, poller, journal and export. Lives on the thread of the QCoreApplication.
class CCliSession : public QObject, public IRunObserver {
    Q_OBJECT
  public:
    explicit CCliSession(CliOptions options, QObject* parent = nullptr);
    ~CCliSession() override;

    // Each returns the process's exit code.
    int Identify();
    int Run();
    int StopInstrument();

    // SIGINT or SIGTERM: a run is stopped as the Stop button stops it; anything else gives up.
    void Interrupt();

  private:
    // IRunObserver
    void ChoosePort(CSerialChannel& channel) override;
    void ShowInformation(int stringId) override;
    void SampleRecorded(int number, int speed, int remaining) override;
    void RunEnded(RunEnd why) override;
    void LinkStateChanged(LinkState state) override;
    void StatusNote(const std::string& text) override;

    // Connects as the window does while it initialises; kExitOk or the code to exit with.
    int ConnectInstrument();
    // A line on standard error that doesn't tear the live status line.
    void Complain(const std::string& line);
    void DrawStatusLine();
    void ClearStatusLine();
    void LinkGaveUp();
    int WriteExport();
    std::string SetpointsText() const;

    CliOptions m_options;
    // Declared before the engine: the engine closes the port before the shaker behind it goes.
    std::unique_ptr<CSimulatedShaker> m_simulator;
    CRunController m_engine;
    std::string m_devicePath;  // what the port name opens
    bool m_simulatorFailed = false;
    bool m_interrupted = false;
    bool m_connecting = false;
    bool m_linkGaveUp = false;
    std::optional<RunEnd> m_runEnd;
    bool m_stopUnconfirmed = false;
    QEventLoop* m_runLoop = nullptr;

    // The live status line on a terminal.
    bool m_liveLine = false;
    bool m_lineShown = false;
    QTimer m_redrawTimer;
    int m_lastSpeed = 0;
    int m_lastRemaining = 0;
    int m_samples = 0;
    QTimer m_linkTimer;
};
