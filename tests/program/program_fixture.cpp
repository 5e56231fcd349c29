#include "program_fixture.h"

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "recording_backend.h"

namespace kovra610::testing {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void ProgramTest::SetUp() {
    static char arg0[] = "kovra610";
    static char* argv[] = {arg0, nullptr};
    ASSERT_NE(InitCVIRTE(nullptr, argv, nullptr), 0);
    driver::setScriptedPopups(true);
    driver::clearShownMessagePopups();

    char pattern[] = "/tmp/kovra610-program-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    setupDir = workDir / "Dac";
    fs::create_directories(setupDir);
    fs::copy_file(fs::path(KOVRA610_SOURCE_DIR) / "app/setups/kovra610_defaults.sbus",
                  setupDir / "kovra610_defaults.sbus");
    previousDir_ = fs::current_path();
    fs::current_path(workDir);

    // Each test is a fresh start of the program.
    delete[] g_DACSETUPFILES;
    g_DACSETUPFILES = nullptr;
    sbus_structure = sbus_structure_initial_contents();
    std::fill(std::begin(sbus_entry_defined), std::end(sbus_entry_defined), 0);
    sbus_no_setup_refused = nullptr;
    sbus_action_outcome = nullptr;
    std::memset(&sbus_last_sent, 0xFF, sizeof sbus_last_sent);

    board = std::make_shared<vboard::VirtualBoard>();
    d2xx::installBackend(board);
}

void ProgramTest::TearDown() {
    fs::current_path(previousDir_);
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    d2xx::installBackend(nullptr);
}

int ProgramTest::runProgram(const std::function<void()>& operate) {
    bool operated = false;
    std::function<void()> whenOperating;
    whenOperating = [&] {
        // Events processed during start-up (inside a transfer) come before
        // the event loop runs: wait for the loop.
        if (QThread::currentThread()->loopLevel() == 0) {
            QTimer::singleShot(1, whenOperating);
            return;
        }
        operated = true;
        if (operate) operate();
        driver::press(panelHandle, COMMANDBUTTON_7);
    };
    QTimer::singleShot(0, whenOperating);

    static char arg0[] = "kovra610";
    static char* argv[] = {arg0, nullptr};
    StdoutCapture capture;
    const int result = kovra610_main(1, argv);
    console = capture.text();
    EXPECT_TRUE(operated) << "the event loop never ran";
    // Failures reported while the console was captured are in it.
    if (HasFailure()) std::fprintf(stderr, "--- console of the run ---\n%s---\n", console.c_str());
    return result;
}

std::string ProgramTest::writeSetupFile(const std::string& name, const std::string& contents) {
    const fs::path path = fs::path(name).is_absolute() ? fs::path(name) : setupDir / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
}

void ProgramTest::removeDefaultSetupFile() {
    fs::remove(setupDir / "kovra610_defaults.sbus");
}

int ProgramTest::chipValueOf(int entry) const {
    const int channel = sbus_structure.ch[entry] == 2 ? 1 : 0;
    return board->chip().reg(channel, static_cast<unsigned>(sbus_structure.addr[entry]));
}

void ProgramTest::atNextEvents(std::function<void()> probe) {
    QTimer::singleShot(0, std::move(probe));
}

}  // namespace kovra610::testing
