// What the run engine reports, drawn by the window: readouts, graph, buttons, the status line
// and the connection's progress.
#include <QApplication>
#include <QProgressDialog>

#include "link/serial_channel.h"
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

void CMainDlg::RescaleGraph(float speedMin, float speedMax, double largestX) {
    m_display.RescaleGraph(speedMin, speedMax, largestX);
}

void CMainDlg::RunningChanged(bool running) {
    SetRunningState(running);
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
    m_note = QString::fromStdString(text);
    RefreshStatusLine();
}

void CMainDlg::ConnectionStep(const std::string& step) {
    if (m_engine.Link() != LinkState::Connecting) {
        return;
    }
    if (!m_connecting) {
        m_connecting = std::make_unique<QProgressDialog>(QString(), QStringLiteral("Cancel"), 0, 0,
                                                         isVisible() ? this : nullptr);
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

// Stop's and the connection's exchanges run off the window's thread: the window goes on
// painting under a wait cursor.
void CMainDlg::Busy(bool busy) {
    if (busy) {
        if (m_busyDepth++ == 0) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
        RefreshStatusLine();
        return;
    }
    if (m_busyDepth > 0 && --m_busyDepth == 0) {
        QApplication::restoreOverrideCursor();
    }
    RefreshStatusLine();
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
                const auto& times = m_record.TimeSeries();
                state = times.empty()
                            ? QStringLiteral("Running")
                            : QStringLiteral("Running, %1 left").arg(times.back());
            } else {
                state = m_record.SpeedSeries().empty() ? QStringLiteral("Ready")
                                                       : QStringLiteral("Finished");
            }
            break;
        default:
            state = QString::fromLatin1(LinkStateText(m_engine.Link()));
            break;
    }
    if (m_busyDepth > 0 && m_engine.Link() != LinkState::Connecting) {
        state = m_engine.Running() ? QStringLiteral("Stopping\u2026") : state;
    }
    QString right = state;
    const std::string journal = m_engine.JournalPath();
    if (!journal.empty()) {
        right += QStringLiteral(" \u00b7 Journal: ") + QString::fromStdString(journal);
    }
    if (!m_note.isEmpty()) {
        right += QStringLiteral(" \u00b7 ") + m_note;
    }
    m_statusLine.SetTexts(where, right);
}
