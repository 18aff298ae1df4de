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

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
