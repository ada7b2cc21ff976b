// Run control: starting, stopping and following a run, and saving its samples.
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <algorithm>
#include <thread>
#include <vector>

#include "framework/control_text.h"
#include "framework/text_to_int.h"
#include "link/frames.h"
#include "link/serial_channel.h"
#include "resources/dialog_templates.h"
#include "resources/string_table.h"
#include "run/record_export.h"
#include "ui/main_dlg.h"

void CMainDlg::OnStart() {
    if (m_connection.ConnectionFailed()) {
        ShowInformation(IDS_CONNECT_FAILED_RESTART);
        return;
    }
    // The framework has already told the operator what is wrong with a field; a start with
    // a value the field refuses would send it to the instrument all the same.
    if (!UpdateData(true)) {
        return;
    }
    if (!SpeedWithinLimits()) {
        ShowInformation(IDS_SPEED_OUT_OF_RANGE);
        return;
    }
    if (m_connection.GetDeviceType() == DeviceUnlisted) {
        return;
    }

    CSerialChannel* channel = CSerialChannel::Instance();
    const int speedAcknowledged = channel->SetSpeed(m_nSpeed);
    m_lastStartSpeed = m_nSpeed;
    const int timeAcknowledged = channel->SetTime(m_nTime);
    if (!speedAcknowledged && !timeAcknowledged) {
        return;
    }

    m_record.ResetSpeedExtent();
    m_display.ResetGraph();
    m_record.ResetRecord();
    m_poller.SetOwner(this, this);
    m_poller.Start();
    SetRunningState(true);
    m_display.m_nBlink = 0;
}

bool CMainDlg::SpeedWithinLimits() const {
    const auto limits = SpeedLimitsFor(m_connection.GetDeviceType());
    return !limits || (m_nSpeed >= limits->low && m_nSpeed <= limits->high);
}

std::optional<int> CMainDlg::SpeedForStop() const {
    int fieldSpeed = 0;
    if (const QWidget* field = GetDlgItem(IDC_SPEED_EDIT);
        field != nullptr && ParseWholeInt(ControlText(*field), fieldSpeed) &&
        fieldSpeed >= kSpeedMin && fieldSpeed <= kSpeedMax) {
        return fieldSpeed;
    }
    return m_lastStartSpeed ? m_lastStartSpeed : m_shownSpeedSetpoint;
}

// Stop's exchanges can take 13 s with a silent instrument, so they leave the window's thread;
// what is sent, and in which order, stays the same.
void CMainDlg::OnStop() {
    // A stop goes ahead even when a field is out of bounds, but a speed the field refuses
    // would become the instrument's setpoint (or travel cut to 16 bits).
    UpdateData(true);
    m_poller.RequestStop();
    const std::optional<int> speed = SpeedForStop();
    if (m_connection.GetDeviceType() != DeviceUnlisted && speed) {
        bool confirmed = false;
        RunOffWindowThread([&confirmed, speed] {
            CSerialChannel* channel = CSerialChannel::Instance();
            for (int send = 0; send < kStopRetries && !confirmed; ++send) {
                confirmed = channel->SetSpeed(*speed) != 0;
            }
        });
        // A shaker behind a pulled cable goes on running: the window must not go idle
        // without a word.
        if (!confirmed) {
            ShowInformation(IDS_STOP_NOT_CONFIRMED);
        }
    }
    SetRunningState(false);
    m_poller.RequestStop();
    QueryAndShowSetpoints();
}

void CMainDlg::ShowSettings() {
    m_poller.RequestStop();
    SetRunningState(false);

    std::vector<std::uint8_t> block;
    if (CSerialChannel::Instance()->QueryStatus(block)) {
        ShowSetpoints(block);
    }
}

void CMainDlg::QueryAndShowSetpoints() {
    std::vector<std::uint8_t> block;
    int good = 0;
    RunOffWindowThread([&block, &good] { good = CSerialChannel::Instance()->QueryStatus(block); });
    if (good) {
        ShowSetpoints(block);
    }
}

void CMainDlg::ShowSetpoints(const std::vector<std::uint8_t>& block) {
    if (static_cast<int>(block.size()) < StatusFrame::kLength) {
        return;
    }
    m_shownSpeedSetpoint = ReadU16(block, StatusFrame::kSpeedSetpoint);
    m_display.ShowSpeed(*m_shownSpeedSetpoint);
    m_display.ShowTime(ReadU16(block, StatusFrame::kTimeSetpoint));
}

void CMainDlg::RunOffWindowThread(const std::function<void()>& work) {
    m_bStopping = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    // Crosses threads: the worker only posts the loop's end to this window's thread.
    std::thread worker([&work, &loop] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    QGuiApplication::restoreOverrideCursor();
    m_bStopping = false;
}

void CMainDlg::SetRunningState(bool running) {
    m_btnStart.setEnabled(!running);
    m_btnStop.setEnabled(running);
    m_nRunning = running ? 1 : 0;
}

int CMainDlg::OnStatusUpdate(long wParam, long lParam) {
    const int speed = static_cast<int>(wParam);
    const int remaining = static_cast<int>(lParam);
    double largestX = 0.0;
    if (m_connection.GetDeviceType() != DeviceUnlisted) {
        m_display.ShowSpeed(speed);
        m_record.AppendSpeed(static_cast<std::uint32_t>(speed));
        const int x = static_cast<int>(m_record.SpeedSeries().size());
        m_display.PlotSpeed(x, speed);
        largestX = std::max(x, 0);
        m_display.ShowBlinkingTime(remaining);
        m_record.AppendRemainingTime(static_cast<std::uint32_t>(remaining));
        largestX = std::max(largestX, static_cast<double>(m_record.TimeSeries().size()));
        if (remaining <= 0) {
            ShowSettings();
        }
    }
    m_display.RescaleGraph(m_record.SpeedMinimum(), m_record.SpeedMaximum(), largestX);
    return 1;
}

int CMainDlg::OnRunState(long wParam, long) {
    if (wParam == 0) {
        ShowSettings();
    }
    return 1;
}

void CMainDlg::OnSave() {
    QString path;
    if (m_chooseSavePath) {
        path = m_chooseSavePath();
    } else {
        QFileDialog dialog(nullptr);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("xls"));
        dialog.setNameFilter(QStringLiteral("*.xls"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().constFirst();
        }
    }
    if (path.isEmpty()) {
        return;
    }
    if (!ExportRecord(QFile::encodeName(path).toStdString(), m_record,
                      m_connection.GetDeviceType())) {
        ShowInformation(IDS_SAVE_FAILED);
    }
}

// The poller is always stopped and joined before the channel goes, also when a run ended a
// moment ago and its poller is still finishing an exchange. Nothing is sent to the
// instrument: a run in progress goes on.
void CMainDlg::OnDestroy() {
    CDialog::OnDestroy();
    m_poller.RequestStop();
    m_poller.Join();
    CSerialChannel::Instance()->Close();
    CSerialChannel::DestroyInstance();
}
