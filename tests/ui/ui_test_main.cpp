// The UI tests share one application object; without a display they use Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start a fresh copy of this program: the application and its threads are not
    // forked.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
