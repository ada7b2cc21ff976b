#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "run/journal_reader.h"
#include "run/run_history.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;
class QWidget;

// "Runs…": the past runs of a journal folder in a list (start, device ID, speed, time, end
// reason, samples, seal ✓/✗), filtered by date and device. A run opens in a read-only window.
class CRunHistoryDlg : public QDialog {
    Q_OBJECT
  public:
    CRunHistoryDlg(const QString& folder, QWidget* parent = nullptr);

    // The runs listed now, newest first.
    const std::vector<RunSummary>& Shown() const { return m_shown; }
    QTableWidget* Table() const { return m_table; }
    // Reads the folder again.
    void Reload();
    // Opens the run in row `row` of the list in its own window.
    void OpenRow(int row);

  private:
    void ApplyFilter();

    QString m_folder;
    std::vector<RunSummary> m_all;
    std::vector<RunSummary> m_shown;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QComboBox* m_device = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_count = nullptr;
};

// One past run, read-only: its header, its graph (zoom, cross-hair) and Save as TSV, CSV or a
// PDF report.
class CRunViewDlg : public QDialog {
    Q_OBJECT
  public:
    CRunViewDlg(JournalContents run, QWidget* parent = nullptr);

  private:
    void Save(const QString& kind);

    JournalContents m_run;
};

// Opens the history of `folder`, modeless; returns at once.
void ShowRunHistory(QWidget* parent, const QString& folder);
