#pragma once

#include <QApplication>

// The one QApplication the widget benchmarks paint with, on the offscreen platform unless
// another is asked for; it lives as long as the process.
inline void EnsureBenchApplication() {
    if (QApplication::instance() != nullptr)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velmora_bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}
