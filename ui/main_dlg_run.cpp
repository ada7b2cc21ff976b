// Run control: starting, stopping and following a run, and saving its samples.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <algorithm>
#include <vector>

#include "framework/control_text.h"
#include "framework/text_to_int.h"
#include "resources/dialog_templates.h"
#include "resources/string_table.h"
#include "run/csv_export.h"
#include "run/instrument_models.h"
#include "run/record_export.h"
#include "ui/main_dlg.h"

void CMainDlg::OnStart() {
    if (m_engine.ConnectionFailed()) {
        ShowInformation(IDS_CONNECT_FAILED_RESTART);
        return;
    }
    // No port was chosen: nothing is open to send to.
    if (m_engine.Link() == LinkState::NotConnected) {
        ShowInformation(IDS_NOT_CONNECTED);
        return;
    }
    // The framework has already told the operator what is wrong with a field; a start with
    // a value the field refuses would send it to the instrument all the same.
    if (!UpdateData(true)) {
        return;
    }
    m_engine.Start(m_nSpeed, m_nTime);
}

std::optional<int> CMainDlg::SpeedForStop() const {
    int fieldSpeed = 0;
    if (const QWidget* field = GetDlgItem(IDC_SPEED_EDIT);
        field != nullptr && ParseWholeInt(ControlText(*field), fieldSpeed) &&
        ModelOf(m_engine.GetDeviceType()).speedField.Contains(fieldSpeed)) {
        return fieldSpeed;
    }
    return m_engine.FallbackStopSpeed();
}

void CMainDlg::OnStop() {
    // A stop goes ahead even when a field is out of bounds, but a speed the field refuses
    // would become the instrument's setpoint (or travel cut to 16 bits).
    UpdateData(true);
    m_stopAsked = true;
    m_engine.Stop(SpeedForStop());
    RefreshStatusLine();
}

void CMainDlg::ShowSettings() {
    m_engine.ShowSettings();
}

void CMainDlg::SetRunningState(bool running) {
    m_btnStart.setEnabled(!running && ModelOf(m_engine.GetDeviceType()).sendsCommands);
    m_btnStop.setEnabled(running);
}

QString SuggestedSaveName(const QDateTime& start) {
    return QStringLiteral("run-") + start.toString(QStringLiteral("yyyy-MM-dd-HHmm")) +
           QStringLiteral(".xls");
}

// Two kinds of file: the tab-separated export, as always the default, and CSV with the time
// of day of every sample. The name offered is the run's start, in the folder used last.
void CMainDlg::OnSave() {
    const CRunRecord& record = m_engine.Record();
    if (record.SpeedSeries().empty()) {
        if (m_tell) {
            m_tell(QStringLiteral("There is nothing to save yet: no sample has been recorded."));
        }
        return;
    }
    QString path;
    bool csv = false;
    if (m_chooseSavePath) {
        path = m_chooseSavePath();
        csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    } else {
        static const QString kTabSeparated = QStringLiteral("Tab-separated text (*.xls)");
        static const QString kCsv = QStringLiteral("CSV with time stamps (*.csv)");
        const QDateTime start = record.SampleTimes().empty()
                                    ? QDateTime::currentDateTime()
                                    : QDateTime::fromMSecsSinceEpoch(
                                          std::chrono::duration_cast<std::chrono::milliseconds>(
                                              record.SampleTimes().front().time_since_epoch())
                                              .count());
        QFileDialog dialog(nullptr);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("xls"));
        dialog.setNameFilters({kTabSeparated, kCsv});
        dialog.setDirectory(m_lastSaveFolder.isEmpty() ? QDir::homePath() : m_lastSaveFolder);
        dialog.selectFile(SuggestedSaveName(start));
        // Wide enough for the name, size, type and date columns side by side.
        dialog.resize(860, 520);
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(filter == kCsv ? QStringLiteral("csv") : QStringLiteral("xls"));
        });
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().constFirst();
            csv = dialog.selectedNameFilter() == kCsv;
        }
    }
    if (path.isEmpty()) {
        return;
    }
    m_lastSaveFolder = QFileInfo(path).absolutePath();
    const std::string target = QFile::encodeName(path).toStdString();
    const int saved = csv ? ExportCsv(target, CsvSamples{record.SpeedSeries(), record.TimeSeries(),
                                                         record.SampleTimes()})
                          : ExportRecord(target, record, m_engine.GetDeviceType());
    if (!saved) {
        ShowInformation(IDS_SAVE_FAILED);
    }
}

// Nothing is sent to the instrument: a run in progress goes on, and its journal says the
// window closed. A request under way ends at its frame boundary and reports nothing more.
void CMainDlg::OnDestroy() {
    CDialog::OnDestroy();
    m_engine.Shutdown();
    SetBusy(false);
}
