#include "ui/instrument_app.h"

#include <QApplication>
#include <QCoreApplication>

#include "resources/fonts.h"
#include "resources/string_table.h"

#include "framework/bcgp_dialog.h"
#include "ui/embedded_simulator.h"
#include "ui/main_dlg.h"

void CInstrumentApp::ApplyProgramIdentity() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(kRegistryKey));
    // The display name follows the application name. Setting a display name of its own would
    // make the window system append it to every dialog's caption ("Information - Velmora").
    QCoreApplication::setApplicationName(LoadStringResource(IDS_APP_TITLE));
    // The machine's default face differs from one machine to the next (a bare one may have
    // only a monospaced face); message boxes and menus draw in the dialogs' face instead.
    QApplication::setFont(MakeTemplateFont(QStringLiteral("MS Shell Dlg"), 8));
}

bool CInstrumentApp::InitInstance() {
    ApplyProgramIdentity();

    CMainDlg dialog;
    dialog.DoModal();
    return false;
}

int CInstrumentApp::ExitInstance() {
    BCGCBProCleanUp();
    CEmbeddedSimulator::Shutdown();
    return 0;
}
