// Test entry point: an application object for the event loop, the posting layer and timers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef TORVANE_UI_TESTS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <cstdlib>

int main(int argc, char** argv) {
    // Windows are drawn off screen, so the tests run (and are listed) without a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleMock(&argc, argv);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
