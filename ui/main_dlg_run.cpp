// Run control: starting, stopping and following a run, and saving its samples.
#include <QFile>
#include <QFileDialog>
#include <algorithm>
#include <vector>

#include "framework/control_text.h"
#include "framework/text_to_int.h"
#include "link/serial_channel.h"
#include "resources/dialog_templates.h"
#include "resources/string_table.h"
#include "run/record_export.h"
#include "ui/main_dlg.h"

void CMainDlg::OnStart() {
    if (!m_engine.CheckConnected()) {
        return;
    }
    // The framework has already told the operator what is wrong with a field; a start with
    // a value the field refuses would send it to the instrument all the same.
    if (!UpdateData(true)) {
        return;
    }
    if (m_engine.Start(m_nSpeed, m_nTime) == CRunController::StartOutcome::Started) {
        m_display.m_nBlink = 0;
    }
}

std::optional<int> CMainDlg::SpeedForStop() const {
    int fieldSpeed = 0;
    if (const QWidget* field = GetDlgItem(IDC_SPEED_EDIT);
        field != nullptr && ParseWholeInt(ControlText(*field), fieldSpeed) &&
        fieldSpeed >= kSpeedMin && fieldSpeed <= kSpeedMax) {
        return fieldSpeed;
    }
    return m_engine.FallbackStopSpeed();
}

void CMainDlg::OnStop() {
    // A stop goes ahead even when a field is out of bounds, but a speed the field refuses
    // would become the instrument's setpoint (or travel cut to 16 bits).
    UpdateData(true);
    m_engine.Stop(SpeedForStop());
}

void CMainDlg::ShowSettings() {
    m_engine.ShowSettings();
}

void CMainDlg::SetRunningState(bool running) {
    m_btnStart.setEnabled(!running);
    m_btnStop.setEnabled(running);
}

int CMainDlg::OnStatusUpdate(long wParam, long lParam) {
    return m_engine.OnStatusUpdate(wParam, lParam);
}

int CMainDlg::OnRunState(long wParam, long lParam) {
    return m_engine.OnRunState(wParam, lParam);
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
// instrument: a run in progress goes on, and its journal says the window closed.
void CMainDlg::OnDestroy() {
    CDialog::OnDestroy();
    m_engine.Shutdown();
}
