#include <QApplication>

#include "ui/instrument_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    CInstrumentApp app;
    if (app.InitInstance()) {
        QApplication::exec();
    }
    return app.ExitInstance();
}
