#include <gtest/gtest.h>
#include <QApplication>
#include <QTemporaryDir>

// Widget tests need a QApplication; the platform comes from QT_QPA_PLATFORM (offscreen under
// CTest).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // What the program remembers between starts goes to a folder of the test's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
