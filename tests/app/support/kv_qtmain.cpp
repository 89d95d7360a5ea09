// main() of the program's test programs: the program's application object
// (a QApplication) for the widgets, settings and folders of the test mode,
// then GoogleTest.
#include "shell/kivrelapp.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Test discovery runs the program without CTest's environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QStandardPaths::setTestModeEnabled(true);
    CKivrelApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
