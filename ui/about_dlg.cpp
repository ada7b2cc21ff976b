#include "ui/about_dlg.h"

#include "resources/dialog_templates.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(IDD_ABOUTBOX, parent) {}
