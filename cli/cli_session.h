#pragma once

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "notify/webhook_notifier.h"
#include "run/run_controller.h"
#include "run/run_observer.h"

class CSimulatedShaker;

// One command against one instrument, on the run engine the window uses: the same connection,
// Start, Stop, poller, journal and export. Lives on the thread of the QCoreApplication and
// follows the engine's reports from its event loop; when the command is done it ends that
// loop with the process's exit code.
class CCliSession : public QObject, public IRunObserver {
    Q_OBJECT
  public:
    explicit CCliSession(CliOptions options, QObject* parent = nullptr);
    ~CCliSession() override;

    // Starts the command; called from the event loop.
    void Begin();
    // SIGINT or SIGTERM: a run is stopped as the Stop button stops it; anything else gives up.
    void Interrupt();
    // A second SIGINT or SIGTERM: exits at once, nothing sent, the engine closed.
    void Abandon();

  private:
    // Where the command is.
    enum class Phase { NotBegun, Connecting, Starting, Running, Stopping, Done };

    // IRunObserver
    void ConnectionStep(const std::string& step) override;
    void ConnectFinished(const ConnectOutcome& outcome) override;
    void StartFinished(const StartOutcome& outcome) override;
    void StopFinished(const StopOutcome& outcome) override;
    void StateChanged(EngineState state) override;
    void SampleRecorded(int number, int speed, int remaining) override;
    void RunEnded(RunEnd why) override;
    void LinkStateChanged(LinkState state) override;
    void StatusNote(const std::string& text) override;
    void AlarmChanged(const Alarm& alarm) override;

    // The port to connect to: the option's, or the embedded simulator's.
    PortChoice ChoosePort();
    // The window's words, and on the same line why: the engine's reason, or what the command
    // line makes of the port.
    void ConnectFailed(const ConnectOutcome& outcome);
    void Identify();
    void SendStop();
    void StartRun();
    void RunStarted();
    void StopRun();
    void LinkGaveUp();
    // The run is over and the engine idle: the last line, the export, the exit.
    void FinishRun();
    int WriteExport();
    StatusLineState LineState() const;
    void Finish(int code);

    CliOptions m_options;
    // Declared before the engine: the engine closes the port before the shaker behind it goes,
    // and is gone before the webhook it tells.
    std::unique_ptr<CSimulatedShaker> m_simulator;
    std::unique_ptr<CWebhookNotifier> m_webhook;
    CRunController m_engine;
    CCliTerminal m_terminal;
    std::string m_devicePath;  // what the port name opens
    Phase m_phase = Phase::NotBegun;
    bool m_simulatorFailed = false;
    bool m_interrupted = false;
    bool m_stopPending = false;  // an interrupted run's Stop awaits its outcome
    bool m_linkGaveUp = false;
    // The stop an interrupt sent was not confirmed: the run goes on at the instrument.
    bool m_stopUnconfirmed = false;
    bool m_runningElsewhere = false;  // the instrument was running when connected
    std::optional<RunEnd> m_runEnd;

    QTimer m_redrawTimer;
    int m_lastSpeed = 0;
    int m_lastRemaining = 0;
    int m_samples = 0;
    QTimer m_linkTimer;
};
