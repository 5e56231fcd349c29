#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/runtime/panel_runtime.h"
#include "tests/runtime/test_driver.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!InitCVIRTE(nullptr, argv, nullptr)) return 1;
    kovra610::runtime::testing::setScriptedPopups(true);
    return RUN_ALL_TESTS();
}
