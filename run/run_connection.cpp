// The connection sequence: the port, the handshake, the device ID, the setpoints, and a run
// the instrument may already be in.

#include "link/frames.h"
#include "link/open_failure.h"
#include "link/port_name.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "run/instrument_models.h"
#include "run/printable_text.h"
#include "run/run_controller.h"
#include "run/serial_port_list.h"

void CRunController::Connect(const PortChoice& port) {
    if (m_state != EngineState::Idle || m_running) {
        ConnectOutcome outcome;
        outcome.result = ConnectOutcome::Result::Busy;
        FinishConnect(port.portName, outcome);
        return;
    }
    ReportUnfinishedRun();
    m_reconnectTimer.stop();
    m_connectionFailed = false;
    m_deviceType = DeviceKV41;
    m_deviceId.clear();
    m_printableId.clear();
    m_startedElsewhere = false;
    m_portName = port.portName;
    m_connectCancel.Reset();
    SetState(EngineState::Connecting);
    SetLink(LinkState::Connecting);
    // Crosses threads: each step is queued to the engine's thread as it is reached.
    const auto step = [this](const std::string& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { m_observer.ConnectionStep(text); }, Qt::QueuedConnection);
    };
    JournalHeader header = RunHeader(0);
    OffThread<ConnectResult>(
        [this, port, step, header]() mutable {
            // The report of an unfinished run comes before the connection's outcome.
            m_journal.WaitUntilWritten();
            ConnectResult result;
            step("Handshake");
            const std::string path = SerialDevicePath(port.portName);
            result.portOpened = m_channel->Open(port.portName, port.baud) != 0;
            result.connected = result.portOpened && m_protocol->Handshake(&m_connectCancel) != 0;
            if (result.connected) {
                result.deviceId = m_protocol->ReadDeviceId(&m_connectCancel, [&](int n, int of) {
                    step("Device ID " + std::to_string(n) + " of " + std::to_string(of));
                });
            }
            result.cancelled = m_connectCancel.IsCancelled();
            result.connected = result.connected && !result.cancelled;
            if (!result.connected) {
                // Our own lock would make the probe below blame another program.
                m_channel->Close();
                // Why it failed, and what to do.
                if (!result.cancelled) {
                    result.reason = ExplainPortOpenFailure(path);
                }
                return result;
            }
            const std::vector<std::string> links = ByIdLinksTo(path);
            result.byIdLink = links.empty() ? std::string() : links.front();
            m_protocol->SetHighestPlausibleSpeed(
                HighestPlausibleSpeed(ClassifyDeviceId(result.deviceId)));
            step("Setpoints");
            std::vector<std::uint8_t> block;
            if (m_protocol->QueryStatus(block, &m_workCancel) != 0) {
                result.status = std::move(block);
            }
            // A program that ended without stopping the instrument, or its own keys, may have
            // left it running: connecting must not pass that off as idle.
            if (m_protocol->QueryRunState(block, &m_workCancel) != 0) {
                result.running = block[RunStateFrame::kRunFlag] != 0;
            }
            const DeviceType type = ClassifyDeviceId(result.deviceId);
            if (result.running && result.status && ModelOf(type).sendsCommands) {
                // The run being watched has its journal, path and all, when the connection
                // is reported; it is begun here, off the engine's thread.
                header.start = std::chrono::system_clock::now();
                header.deviceId = PrintableText(result.deviceId);
                header.deviceType = type;
                header.speedSetpoint = ReadU16(*result.status, StatusFrame::kSpeedSetpoint);
                header.timeSetpoint = ReadU16(*result.status, StatusFrame::kTimeSetpoint);
                m_journal.Begin(header);
                m_journal.Note("started elsewhere");
                m_journal.WaitUntilWritten();
            }
            return result;
        },
        [this, port](ConnectResult result) { ConnectFinished(port, result); });
}

void CRunController::CancelConnect() {
    m_connectCancel.Cancel();
}

void CRunController::ConnectFinished(const PortChoice& port, const ConnectResult& result) {
    ConnectOutcome outcome;
    outcome.devicePath = SerialDevicePath(port.portName);
    if (!result.connected) {
        m_connectionFailed = true;
        SetLink(LinkState::NotConnected);
        SetState(EngineState::Idle);
        outcome.result =
            result.cancelled ? ConnectOutcome::Result::Cancelled : ConnectOutcome::Result::Failed;
        outcome.reason = result.reason;
        outcome.portOpened = result.portOpened;
        FinishConnect(port.portName, outcome);
        return;
    }
    m_deviceId = result.deviceId;
    m_printableId = PrintableText(result.deviceId);
    m_deviceType = ClassifyDeviceId(result.deviceId);
    m_portPath = outcome.devicePath;
    m_byIdLink = result.byIdLink;
    SetLink(LinkState::Answering);
    if (result.status) {
        ShowSetpoints(*result.status);
    }
    SetState(EngineState::Idle);
    outcome.result = ConnectOutcome::Result::Connected;
    outcome.type = m_deviceType;
    outcome.deviceId = m_printableId;
    if (result.running && result.status && ModelOf(m_deviceType).sendsCommands) {
        m_speedAtStart = ReadU16(*result.status, StatusFrame::kSpeedSetpoint);
        m_timeAtStart = ReadU16(*result.status, StatusFrame::kTimeSetpoint);
        m_lastStartSpeed = m_speedAtStart;
        m_startedElsewhere = true;
        BeginRun(std::nullopt);
        outcome.runningElsewhere = true;
    }
    FinishConnect(port.portName, outcome);
}

void CRunController::ReportUnfinishedRun() {
    if (m_unfinishedReported) {
        return;
    }
    m_unfinishedReported = true;
    m_journal.ReportUnfinished();
}
