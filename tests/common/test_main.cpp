// GoogleTest entry for every test binary: a Qt application object exists for the whole run
// (offscreen unless a platform is named), so widgets, timers, threads and fonts work; the core
// layers get a QCoreApplication.
#include <gtest/gtest.h>

#include <cstdlib>

#if defined(MS42K_TEST_APP_MAIN)
#include "app/application.h"
using TestApplication = Ms42kApplication;
#elif defined(MS42K_TEST_CORE_MAIN)
// The layers without widgets: an event loop, timers and threads, no Gui.
#include <QCoreApplication>
using TestApplication = QCoreApplication;
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
