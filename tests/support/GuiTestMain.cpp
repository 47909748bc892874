// main() for window tests: one QApplication for all cases, headless unless told otherwise, and
// large blocks mapped as the program's start has them.
#include "platform/Memory.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    // Test discovery runs the binary at build time, where there is no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    tarnwick::platform::MapLargeBlocks();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
