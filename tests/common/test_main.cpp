// GoogleTest entry for every test binary: a Qt application object exists for the whole run
// (offscreen unless a platform is named), so widgets, timers, threads and fonts work.
#include <gtest/gtest.h>

#include <cstdlib>

#ifdef MS42K_TEST_APP_MAIN
#include "app/application.h"
using TestApplication = Ms42kApplication;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
