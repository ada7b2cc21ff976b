#include <gtest/gtest.h>
#include <QApplication>

// Widget tests need a QApplication; the platform comes from QT_QPA_PLATFORM (offscreen under
// CTest).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
