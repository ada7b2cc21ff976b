#include "ui/run_history_dlg.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "report/run_report.h"
#include "resources/palette.h"
#include "run/csv_export.h"
#include "run/record_export.h"
#include "ui/run_display.h"
#include "widgets/vex_graph_wnd.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString SealMark(const RunSummary& run) {
    switch (run.seal) {
        case JournalCheck::State::Sealed:
            return QStringLiteral("\u2713");
        case JournalCheck::State::Altered:
            return QStringLiteral("\u2717");
        case JournalCheck::State::Unfinished:
            break;
    }
    return QStringLiteral("\u2014");
}

QString SealTip(const RunSummary& run) {
    switch (run.seal) {
        case JournalCheck::State::Sealed:
            return run.signedRun ? QStringLiteral("Sealed and signed: every line as written")
                                 : QStringLiteral("Sealed: every line as written");
        case JournalCheck::State::Altered:
            return QStringLiteral("Altered after the run: not as it was sealed");
        case JournalCheck::State::Unfinished:
            break;
    }
    return QStringLiteral("Not sealed: the run never ended");
}

// The start as the list shows it: local date and time, to the second.
QString StartText(const RunSummary& run) {
    if (!run.start) {
        return Text(run.startText);
    }
    return QDateTime::fromMSecsSinceEpoch(
               std::chrono::duration_cast<std::chrono::milliseconds>(run.start->time_since_epoch())
                   .count())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::chrono::system_clock::time_point StartOfDay(QDate date) {
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(date.startOfDay().toMSecsSinceEpoch()));
}

}  // namespace

// ---- the list -----------------------------------------------------------------------------

CRunHistoryDlg::CRunHistoryDlg(const QString& folder, QWidget* parent)
    : QDialog(parent), m_folder(folder) {
    setWindowTitle(QStringLiteral("Runs"));
    auto* layout = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    m_from = new QDateEdit(this);
    m_to = new QDateEdit(this);
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    m_device = new QComboBox(this);
    m_device->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    filters->addWidget(new QLabel(QStringLiteral("From"), this));
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("to"), this));
    filters->addWidget(m_to);
    filters->addSpacing(12);
    filters->addWidget(new QLabel(QStringLiteral("Device"), this));
    filters->addWidget(m_device);
    filters->addStretch();
    m_count = new QLabel(this);
    filters->addWidget(m_count);
    layout->addLayout(filters);

    m_table = new QTableWidget(0, 7, this);
    m_table->setHorizontalHeaderLabels(
        {"Start", "Device ID", "Speed (1/min)", "Time", "End reason", "Samples", "Seal"});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    layout->addWidget(m_table);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* open = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(open, &QPushButton::clicked, this, [this] { OpenRow(m_table->currentRow()); });
    connect(m_table, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { OpenRow(row); });

    resize(760, 440);
    Reload();
    connect(m_from, &QDateEdit::dateChanged, this, &CRunHistoryDlg::ApplyFilter);
    connect(m_to, &QDateEdit::dateChanged, this, &CRunHistoryDlg::ApplyFilter);
    connect(m_device, &QComboBox::currentIndexChanged, this, &CRunHistoryDlg::ApplyFilter);
}

void CRunHistoryDlg::Reload() {
    m_all = ListRuns(m_folder.toStdString());
    // The dates span every run; the devices are every one seen.
    QDate first = QDate::currentDate();
    QDate last = first;
    std::set<std::string> devices;
    for (const RunSummary& run : m_all) {
        if (run.start) {
            const QDate date = QDateTime::fromMSecsSinceEpoch(
                                   std::chrono::duration_cast<std::chrono::milliseconds>(
                                       run.start->time_since_epoch())
                                       .count())
                                   .date();
            first = std::min(first, date);
            last = std::max(last, date);
        }
        devices.insert(run.deviceId);
    }
    const QSignalBlocker blockFrom(m_from), blockTo(m_to), blockDevice(m_device);
    m_from->setDate(first);
    m_to->setDate(last);
    m_device->clear();
    m_device->addItem(QStringLiteral("All devices"));
    for (const std::string& device : devices) {
        m_device->addItem(Text(device));
    }
    ApplyFilter();
}

void CRunHistoryDlg::ApplyFilter() {
    const std::string device =
        m_device->currentIndex() > 0 ? m_device->currentText().toStdString() : std::string();
    m_shown =
        FilterRuns(m_all, StartOfDay(m_from->date()), StartOfDay(m_to->date().addDays(1)), device);
    m_table->setUpdatesEnabled(false);
    m_table->setRowCount(static_cast<int>(m_shown.size()));
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const RunSummary& run = m_shown[static_cast<std::size_t>(row)];
        const QStringList cells = {
            StartText(run),
            Text(run.deviceId),
            QString::number(run.speedSetpoint),
            QString::number(run.timeSetpoint),
            run.endReason.empty() ? QStringLiteral("(never ended)") : Text(run.endReason),
            QString::number(run.samples),
            SealMark(run)};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == 2 || column == 3 || column == 5) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            if (column == 6) {
                item->setTextAlignment(Qt::AlignCenter);
                item->setToolTip(SealTip(run));
                if (run.seal == JournalCheck::State::Altered) {
                    item->setForeground(QColor(190, 20, 20));
                }
            }
            if (column == 0) {
                item->setToolTip(Text(run.path));
            }
            m_table->setItem(row, column, item);
        }
    }
    m_table->setUpdatesEnabled(true);
    m_count->setText(QStringLiteral("%1 of %2 runs").arg(m_shown.size()).arg(m_all.size()));
}

void CRunHistoryDlg::OpenRow(int row) {
    if (row < 0 || row >= static_cast<int>(m_shown.size())) {
        return;
    }
    std::string error;
    auto run = ReadJournal(m_shown[static_cast<std::size_t>(row)].path, &error);
    if (!run) {
        QMessageBox::warning(this, windowTitle(), Text(error));
        return;
    }
    auto* view = new CRunViewDlg(std::move(*run), this);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->show();
}

// ---- one run ------------------------------------------------------------------------------

CRunViewDlg::CRunViewDlg(JournalContents run, QWidget* parent)
    : QDialog(parent), m_run(std::move(run)) {
    setWindowTitle(QStringLiteral("Run of %1").arg(Text(m_run.startText)));
    auto* layout = new QVBoxLayout(this);
    const QString seal =
        m_run.check.state == JournalCheck::State::Sealed
            ? (m_run.check.signedRun ? "\u2713 sealed, signed by " + Text(m_run.check.signer)
                                     : QStringLiteral("\u2713 sealed"))
        : m_run.check.state == JournalCheck::State::Altered
            ? QStringLiteral("\u2717 altered at line %1").arg(m_run.check.alteredLine)
            : QStringLiteral("\u2014 not sealed (the run never ended)");
    auto* header = new QLabel(
        QStringLiteral("%1 on %2 (%3), started by %4\n"
                       "Start %5, end %6 (%7); speed %8 1/min, time %9; %10 samples; %11")
            .arg(Text(m_run.deviceId), Text(m_run.port),
                 m_run.simulated ? QStringLiteral("simulated") : QStringLiteral("instrument"),
                 m_run.startedBy.empty() ? QStringLiteral("?") : Text(m_run.startedBy),
                 Text(m_run.startText),
                 m_run.endText.empty() ? QStringLiteral("\u2014") : Text(m_run.endText),
                 m_run.endReason.empty() ? QStringLiteral("never ended") : Text(m_run.endReason))
            .arg(m_run.speedSetpoint)
            .arg(m_run.timeSetpoint)
            .arg(m_run.samples.size())
            .arg(seal),
        this);
    header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(header);

    auto* graph = new CVexGraphWnd(this);
    SetupSpeedGraph(*graph);
    std::vector<double> xs;
    std::vector<double> ys;
    double low = 0;
    double high = 1;
    for (const JournalSample& sample : m_run.samples) {
        xs.push_back(sample.number);
        ys.push_back(sample.speed);
        high = std::max(high, static_cast<double>(sample.speed));
    }
    if (!xs.empty() && graph->AddSeries(static_cast<unsigned>(xs.size()), xs.data(), ys.data())) {
        if (CVexGraphSeries* series = graph->m_pGraph->GetSeries(0)) {
            series->m_nLineWidth = 3;
            series->m_crColor = Palette::kSpeedCurve;
        }
    }
    graph->SetAxisRange(eGraphAxisY, low, high + (high - low) * 0.025, 1);
    graph->SetAxisRange(eGraphAxisX, 0.0, std::max(xs.empty() ? 1.0 : xs.back(), 1.0) + 1.0, 1);
    graph->setMinimumSize(640, 360);
    layout->addWidget(graph, 1);

    auto* buttons = new QDialogButtonBox(this);
    for (const QString& kind :
         {QStringLiteral("TSV"), QStringLiteral("CSV"), QStringLiteral("PDF report")}) {
        QPushButton* button =
            buttons->addButton("Save as " + kind + "\u2026", QDialogButtonBox::ActionRole);
        connect(button, &QPushButton::clicked, this, [this, kind] { Save(kind); });
    }
    buttons->addButton(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
}

void CRunViewDlg::Save(const QString& kind) {
    const QString suffix = kind == QStringLiteral("TSV")   ? QStringLiteral("xls")
                           : kind == QStringLiteral("CSV") ? QStringLiteral("csv")
                                                           : QStringLiteral("pdf");
    const QString filter =
        kind == QStringLiteral("TSV")   ? QStringLiteral("Tab-separated text (*.xls)")
        : kind == QStringLiteral("CSV") ? QStringLiteral("CSV with time stamps (*.csv)")
                                        : QStringLiteral("PDF report (*.pdf)");
    const QString suggested =
        QDir::home().filePath(QFileInfo(Text(m_run.path)).completeBaseName() + "." + suffix);
    const QString path = QFileDialog::getSaveFileName(this, windowTitle(), suggested, filter);
    if (path.isEmpty()) {
        return;
    }
    const std::string target = QFile::encodeName(path).toStdString();
    bool saved = false;
    std::string error;
    if (suffix == QStringLiteral("pdf")) {
        saved = WriteRunReport(m_run, target, &error);
    } else {
        CRunRecord record;
        for (const JournalSample& sample : m_run.samples) {
            record.AppendSpeed(static_cast<std::uint32_t>(std::max(sample.speed, 0)));
            record.AppendRemainingTime(static_cast<std::uint32_t>(std::max(sample.remaining, 0)));
            const QDateTime when = QDateTime::fromString(Text(sample.localTime), Qt::ISODateWithMs);
            record.AppendSampleTime(std::chrono::system_clock::time_point(
                std::chrono::milliseconds(when.isValid() ? when.toMSecsSinceEpoch() : 0)));
        }
        saved = suffix == QStringLiteral("csv")
                    ? ExportCsv(target, CsvSamples{record.SpeedSeries(), record.TimeSeries(),
                                                   record.SampleTimes()}) != 0
                    : ExportRecord(target, record, static_cast<DeviceType>(m_run.deviceType)) != 0;
    }
    if (!saved) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("%1 could not be written.%2")
                                 .arg(path, error.empty() ? QString() : "\n" + Text(error)));
    }
}

void ShowRunHistory(QWidget* parent, const QString& folder) {
    auto* dialog = new CRunHistoryDlg(folder, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
