#pragma once

#include <QString>

class QWidget;

// "Runs…": the past runs of `folder` in a list (start, device ID, speed, time, end reason,
// samples, seal ✓/✗) filtered by date and device; a run opens in a read-only window with its
// graph, from where it is saved as TSV, CSV or a PDF report. Modeless; returns at once.
void ShowRunHistory(QWidget* parent, const QString& folder);
