#include "ui/run_history_dlg.h"

void ShowRunHistory(QWidget* /*parent*/, const QString& /*folder*/) {}
