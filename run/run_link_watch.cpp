// The watched link: noticing silence or a port that went away during a run, and reconnecting
// to the same instrument.
#include <filesystem>

#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "run/run_controller.h"
#include "run/status_poller.h"

void CRunController::SetLink(LinkState state) {
    if (state == m_link) {
        return;
    }
    AuditLink(m_link, state);
    m_link = state;
    m_observer.LinkStateChanged(state);
    if (m_running) {
        RaiseAlarms(m_alarmRules.LinkChanged(state, std::chrono::steady_clock::now()));
        ArmAlarmTimer();
    }
}

void CRunController::OnPollFailure(const PollFailure& failure) {
    if (m_shutDown || failure.pollRun != m_pollRun || m_state != EngineState::Running) {
        return;
    }
    if (failure.portLost) {
        // The poller would only fail once a second on a port that is gone; the engine tries
        // to open the same instrument again instead.
        m_poller->RequestStop();
        m_watchdog.stop();
        // Closed before anyone hears of it: a device node we still held would keep its
        // number, and the instrument coming back would get another one. The exchanges on a
        // port that is gone fail at once, so this waits for nothing.
        m_channel->Close();
        SetLink(LinkState::Disconnected);
        m_journal.Note("link lost");
        SetState(EngineState::Reconnecting);
        m_reconnectTimer.start();
        return;
    }
    if (++m_failedCycles >= kCyclesBeforeNoReply) {
        SetLink(LinkState::NoReply);
    }
}

void CRunController::ArmWatchdog() {
    m_watchdog.start(kCyclesBeforeNoReply * m_cyclePeriod);
}

void CRunController::CheckAnswering() {
    if (m_state != EngineState::Running || m_link != LinkState::Answering) {
        return;
    }
    const auto silent = std::chrono::steady_clock::now() - m_lastAnswer;
    const auto limit = kCyclesBeforeNoReply * m_cyclePeriod;
    if (silent >= limit) {
        SetLink(LinkState::NoReply);
        return;
    }
    // A coarse timer may fire a little early: wait out the rest.
    m_watchdog.start(std::chrono::ceil<std::chrono::milliseconds>(limit - silent));
}

void CRunController::TryReconnect() {
    if (m_reconnecting || m_state != EngineState::Reconnecting) {
        return;
    }
    m_reconnecting = true;
    m_reconnectCancel.Reset();
    const std::string path =
        !m_byIdLink.empty() && std::filesystem::exists(m_byIdLink) ? m_byIdLink : m_portPath;
    const std::string expectedId = m_deviceId;
    OffThread<bool>(
        [this, path, expectedId] {
            const bool same = m_channel->Reopen(path) != 0 &&
                              m_protocol->Handshake(&m_reconnectCancel) != 0 &&
                              m_protocol->ReadDeviceId(&m_reconnectCancel) == expectedId &&
                              !m_reconnectCancel.IsCancelled();
            if (!same) {
                m_channel->Close();
            }
            return same;
        },
        [this](bool same) { ReconnectFinished(same); });
}

void CRunController::ReconnectFinished(bool same) {
    m_reconnecting = false;
    if (!same || m_state != EngineState::Reconnecting || m_reconnectCancel.IsCancelled()) {
        return;
    }
    m_reconnectTimer.stop();
    m_failedCycles = 0;
    m_lastAnswer = std::chrono::steady_clock::now();
    SetState(EngineState::Running);
    ArmWatchdog();
    SetLink(LinkState::Answering);
    m_journal.Note("link back");
    StartPoller();
}

void CRunController::StopReconnecting() {
    m_reconnectTimer.stop();
    m_reconnectCancel.Cancel();
}
