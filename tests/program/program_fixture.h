// Runs the whole program in-process on a virtual board, headless, from a
// fresh working directory, and lets a test operate the panel once the event
// loop runs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/kovra610 evaluation board.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "platform/runtime/panel_runtime.h"
#include "tests/runtime/test_driver.h"

int kovra610_main(int argc, char* argv[]);

namespace kovra610::testing {

namespace driver = kovra610::runtime::testing;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program, runs `operate` once the event loop runs, then
    // presses "Exit". Returns main's result; the console is in `console`.
    int runProgram(const std::function<void()>& operate = {});

    // Writes a setup file into the working directory's Dac folder (or at a
    // path of its own) and returns its full path.
    std::string writeSetupFile(const std::string& name, const std::string& contents);
    void removeDefaultSetupFile();

    // What the chip holds for image entry i (its channel select and
    // address), as the image would have it: the low 16 bits.
    int chipValueOf(int entry) const;

    // Runs `probe` at the next event processing, e.g. in the middle of a
    // transfer.
    static void atNextEvents(std::function<void()> probe);

    std::shared_ptr<vboard::VirtualBoard> board;
    std::filesystem::path workDir;
    std::filesystem::path setupDir;
    std::string console;

private:
    std::filesystem::path previousDir_;
};

std::string readFile(const std::filesystem::path& path);

}  // namespace kovra610::testing
