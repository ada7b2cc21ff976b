// What the run engine reports, drawn by the window: readouts, graph, buttons, the status line,
// the connection's progress and what the operator's requests came to.
#include <QApplication>
#include <QEvent>
#include <QProgressDialog>

#include "resources/dialog_templates.h"
#include "resources/string_table.h"
#include "run/instrument_models.h"
#include "ui/main_dlg.h"

void CMainDlg::ShowSpeed(int speed) {
    m_display.ShowSpeed(speed);
}

void CMainDlg::ShowTime(int time) {
    m_display.ShowTime(time);
}

void CMainDlg::ShowBlinkingTime(int time) {
    m_display.ShowBlinkingTime(time);
}

void CMainDlg::ResetGraph() {
    m_display.ResetGraph();
}

void CMainDlg::PlotSpeed(int x, int speed) {
    m_display.PlotSpeed(x, speed);
}

// The last report of each sample: the time left on the status line changes with the readouts,
// in the same repaint, rather than in one of its own when the journal has the sample.
void CMainDlg::RescaleGraph(float speedMin, float speedMax, double largestX) {
    m_display.RescaleGraph(speedMin, speedMax, largestX);
    RefreshStatusLine();
}

// The focus goes to the button that acts next, before the other is disabled: a disabled
// focus button hands the focus on along the tab order, to Save or Close, and a second Space
// would close the window.
void CMainDlg::RunningChanged(bool running) {
    CVexButton& next = running ? m_btnStop : m_btnStart;
    next.setEnabled(true);
    next.setFocus(Qt::OtherFocusReason);
    SetRunningState(running);
    RefreshStatusLine();
}

void CMainDlg::SampleRecorded(int, int, int) {
    RefreshStatusLine();
}

void CMainDlg::RunEnded(RunEnd) {
    RefreshStatusLine();
}

void CMainDlg::LinkStateChanged(LinkState state) {
    const bool answering = state == LinkState::Answering;
    m_digitTime.SetDimmed(!answering && state != LinkState::Connecting);
    m_digitSpeed.SetDimmed(!answering && state != LinkState::Connecting);
    if (state != LinkState::Connecting) {
        m_connecting.reset();
    }
    RefreshStatusLine();
}

void CMainDlg::StatusNote(const std::string& text) {
    const QString note = QString::fromStdString(text);
    (note.startsWith(QStringLiteral("journal incomplete")) ? m_journalNote : m_note) = note;
    RefreshStatusLine();
}

// An alarm stays on the line until the operator clicks it, even once its cause has gone.
void CMainDlg::AlarmChanged(const Alarm& alarm) {
    if (alarm.raised) {
        m_alarms.push_back(QString::fromStdString(alarm.text));
        ShowAlarms();
    }
}

void CMainDlg::ShowAlarms() {
    if (m_alarms.isEmpty()) {
        m_statusLine.SetAlarm(QString());
        return;
    }
    QString text = QStringLiteral("Alarm: ") + m_alarms.back();
    if (m_alarms.size() > 1) {
        text += QStringLiteral(" (and %1 earlier)").arg(m_alarms.size() - 1);
    }
    m_statusLine.SetAlarm(text);
}

void CMainDlg::ConnectionStep(const std::string& step) {
    if (m_engine.Link() != LinkState::Connecting) {
        return;
    }
    if (!m_connecting) {
        m_connecting =
            std::make_unique<QProgressDialog>(QString(), QStringLiteral("Cancel"), 0, 0, this);
        m_connecting->setWindowTitle(QStringLiteral("Connecting"));
        m_connecting->setWindowModality(Qt::ApplicationModal);
        m_connecting->setMinimumDuration(0);
        m_connecting->setAutoClose(false);
        m_connecting->setAutoReset(false);
        connect(m_connecting.get(), &QProgressDialog::canceled, this,
                [this] { m_engine.CancelConnect(); });
        m_connecting->show();
    }
    m_connecting->setLabelText(QString::fromStdString(step));
}

// A request refused as Busy leaves the request under way, and its wait cursor, as they are.
void CMainDlg::ConnectFinished(const ConnectOutcome& outcome) {
    if (outcome.result == ConnectOutcome::Result::Busy) {
        return;
    }
    SetBusy(false);
    m_connecting.reset();
    switch (outcome.result) {
        case ConnectOutcome::Result::Connected: {
            const bool takesCommands = ModelOf(outcome.type).sendsCommands;
            for (int id : {IDC_TIME_EDIT, IDC_TIME_SPIN, IDC_SPEED_EDIT, IDC_SPEED_SPIN}) {
                if (QWidget* control = GetDlgItem(id)) {
                    control->setEnabled(takesCommands);
                }
            }
            // An instrument found running is being watched already.
            m_runSinceConnect = m_engine.Running();
            SetRunningState(m_engine.Running());
            break;
        }
        case ConnectOutcome::Result::Failed:
            // String 102 says that it failed; the status line says why, and what to do.
            ShowInformation(IDS_CONNECT_FAILED);
            StatusNote(outcome.reason);
            break;
        case ConnectOutcome::Result::Cancelled:
            StatusNote("Connection cancelled");
            break;
        default:
            break;
    }
    RefreshStatusLine();
}

void CMainDlg::StartFinished(const StartOutcome& outcome) {
    if (outcome.result == StartOutcome::Result::Busy) {
        return;
    }
    SetBusy(false);
    if (outcome.result == StartOutcome::Result::Started) {
        m_runSinceConnect = true;
        m_display.m_nBlink = 0;
        m_journalNote.clear();
    }
    RefreshStatusLine();
    switch (outcome.result) {
        case StartOutcome::Result::SpeedOutOfRange:
            ShowInformation(IDS_SPEED_OUT_OF_RANGE, SpeedLimitsLine());
            break;
        case StartOutcome::Result::Started:
            // The run goes on at the instrument's own setpoint, which the readouts show.
            if (!outcome.speedAcknowledged) {
                ShowInformation(IDS_SPEED_REFUSED);
            }
            break;
        case StartOutcome::Result::Refused:
            ShowInformation(IDS_START_NOT_ACKNOWLEDGED);
            break;
        default:
            // A time outside the field's bounds never gets past the field's own check.
            break;
    }
}

void CMainDlg::StopFinished(const StopOutcome& outcome) {
    m_stopAsked = false;
    if (outcome.result == StopOutcome::Result::Busy) {
        return;
    }
    SetBusy(false);
    RefreshStatusLine();
    // A shaker behind a pulled cable goes on running: the operator must hear of it.
    if (outcome.result == StopOutcome::Result::NotConfirmed) {
        ShowInformation(IDS_STOP_NOT_CONFIRMED);
    }
}

void CMainDlg::StateChanged(EngineState state) {
    SetBusy(state == EngineState::Connecting || state == EngineState::Starting ||
            state == EngineState::Stopping);
    if (state != EngineState::Stopping) {
        m_stopAsked = false;
    }
    RefreshStatusLine();
}

void CMainDlg::SetBusy(bool busy) {
    if (busy == m_bBusy) {
        return;
    }
    m_bBusy = busy;
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
        QGuiApplication::restoreOverrideCursor();
    }
}

// The window paints on, but a click or a key meant for it while a request is under way is
// dropped: it would reach an engine that refuses it or act on a state about to change. The
// close box still works (it asks first during a run), and so does the connection's Cancel.
bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    if (m_bBusy && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget == this || isAncestorOf(widget)) {
            switch (event->type()) {
                case QEvent::MouseButtonPress:
                case QEvent::MouseButtonRelease:
                case QEvent::MouseButtonDblClick:
                case QEvent::MouseMove:
                case QEvent::Wheel:
                case QEvent::KeyPress:
                case QEvent::KeyRelease:
                case QEvent::ShortcutOverride:
                case QEvent::Shortcut:
                case QEvent::ContextMenu:
                case QEvent::TouchBegin:
                case QEvent::TouchUpdate:
                case QEvent::TouchEnd:
                    return true;
                default:
                    break;
            }
        }
    }
    return CDialog::eventFilter(watched, event);
}

void CMainDlg::RefreshStatusLine() {
    QString where = QString::fromStdString(m_engine.PortName());
    if (!m_engine.DeviceId().empty() && !m_engine.ConnectionFailed()) {
        where += QStringLiteral(" \u00b7 %1 (type %2)")
                     .arg(QString::fromStdString(m_engine.DeviceId()))
                     .arg(m_engine.GetDeviceType());
    }
    QString state;
    switch (m_engine.Link()) {
        case LinkState::Answering:
            if (m_engine.Running()) {
                const auto& times = m_engine.Record().TimeSeries();
                state = m_engine.StartedElsewhere() ? QStringLiteral("Running (started elsewhere)")
                                                    : QStringLiteral("Running");
                // In the instrument's unit, as the time readout shows it.
                if (!times.empty()) {
                    state += QStringLiteral(", %1 left")
                                 .arg(QString::asprintf("%02u:%02u", times.back() / 60,
                                                        times.back() % 60));
                }
            } else {
                state = m_runSinceConnect && !m_engine.Record().SpeedSeries().empty()
                            ? QStringLiteral("Finished")
                            : QStringLiteral("Ready");
            }
            break;
        default:
            state = QString::fromUtf8(LinkStateText(m_engine.Link()));
            break;
    }
    if (m_stopAsked && m_engine.Running()) {
        state = QStringLiteral("Stopping\u2026");
    }
    if (m_engine.Link() == LinkState::NotConnected && !m_engine.ConnectionFailed()) {
        state = QStringLiteral(
            "Not connected \u2014 right-click and choose Connect\u2026 to "
            "choose a port");
    }
    QString right = state;
    // An earlier connection's run is not this one's.
    const std::string journal = m_runSinceConnect ? m_engine.JournalPath() : std::string();
    if (!journal.empty()) {
        right += QStringLiteral(" \u00b7 Journal: ") + QString::fromStdString(journal);
    }
    for (const QString& note : {m_journalNote, m_note}) {
        if (!note.isEmpty()) {
            right += QStringLiteral(" \u00b7 ") + note;
        }
    }
    m_statusLine.SetTexts(where, right);
}
