#include <gtest/gtest.h>

#include <cstdlib>

#ifdef KORU_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Worker threads use Qt's UNIX dispatcher, exactly as the program sets it up.
    setenv("QT_NO_THREADED_GLIB", "1", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
