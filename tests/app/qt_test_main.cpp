// Widget tests run inside the program's own application object, offscreen unless
// QT_QPA_PLATFORM names another platform (on Windows the caption measures run on a desktop).

#include "app/glimmerly_application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    glimmerly::GlimmerlyApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
