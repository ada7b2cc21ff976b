#include <QApplication>
#include <cstdio>
#include <cstring>

#include "resources/version.h"
#include "ui/instrument_app.h"

int main(int argc, char** argv) {
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velmora %s\n", kVelmoraVersion);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    CInstrumentApp app;
    if (app.InitInstance()) {
        QApplication::exec();
    }
    return app.ExitInstance();
}
