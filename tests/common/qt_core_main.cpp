#include <gtest/gtest.h>

#include <QCoreApplication>

// The poller hands its notifications to the main thread's event loop, so every test program
// here runs with an application object on the main thread.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
