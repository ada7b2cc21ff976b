#pragma once

#include "framework/dialog.h"

// The About box: the program's icon, its name and version, and OK.
class CAboutDlg : public CDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
