#include "ui/instrument_app.h"

#include <QCoreApplication>

#include "framework/bcgp_dialog.h"
#include "ui/embedded_simulator.h"
#include "ui/main_dlg.h"

bool CInstrumentApp::InitInstance() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(kRegistryKey));
    QCoreApplication::setApplicationName(QStringLiteral("velmora"));

    CMainDlg dialog;
    dialog.DoModal();
    return false;
}

int CInstrumentApp::ExitInstance() {
    BCGCBProCleanUp();
    CEmbeddedSimulator::Shutdown();
    return 0;
}
