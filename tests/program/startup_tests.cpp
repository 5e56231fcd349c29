#include <sys/wait.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/runtime/main_window.h"
#include "program_fixture.h"
#include "recording_backend.h"
#include "watched_backend.h"

namespace kovra610::testing {
namespace {

namespace fs = std::filesystem;

const char kSuccessfulOpen[] =
    "Checking for FTDI devices...\n"
    "2 FTDI devices found - the count includes individual ports on a single chip\n"
    "\nAssume first device has the MPSSE and open it...\n"
    "\nConfiguring port for MPSSE use...\n"
    "MPSSE Initialize Successfull, 0\n"
    "Synchronize Completed\n";

const char kCheckBoardPower[] =
    " \n **** Check Board Power \n **** Check to see if the FT2332 Device USB cable is "
    "connected and/or FT2332 driver is installed  ****\n"
    " **** No board? Install the udev rule 99-kovra610-ftdi.rules to open the FT2232H as a "
    "normal user (see the README), or run with KOVRA610_BOARD=virtual\n";

TEST_F(ProgramTest, StartUpResetsTheChipAndSendsTheDefaultSetupInEntryOrder) {
    std::string textBox;
    EXPECT_EQ(runProgram([&] { textBox = driver::shownText(panelHandle, DAC1TEXTBOX); }), 0);

    EXPECT_EQ(console, kSuccessfulOpen);
    EXPECT_EQ(board->chip().resets(), 1u);
    EXPECT_EQ(textBox, (setupDir / "kovra610_defaults.sbus").string());
    EXPECT_EQ(g_DACSETUPFILES, workDir.string() + "/Dac/");

    const auto& words = board->chip().words();
    ASSERT_EQ(words.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(words[i].ch, static_cast<unsigned>(sbus_structure.ch[i])) << i;
        EXPECT_EQ(words[i].addr, static_cast<unsigned>(sbus_structure.addr[i])) << i;
        EXPECT_EQ(words[i].rw, 1u) << i;
        EXPECT_EQ(words[i].data, static_cast<unsigned>(sbus_structure.data[i])) << i;
    }
    // What the default file says: DVH 3.0 V on both channels, the converting
    // entries 8 and 9 (5.0 V and -1.0 V) as the codes of their levels, the
    // driver enabled and the thermal alarm at 125 degrees.
    EXPECT_EQ(board->chip().reg(0, 0x00), 36044);
    EXPECT_EQ(board->chip().reg(1, 0x00), 36044);
    EXPECT_EQ(board->chip().reg(0, 0x08), 49151);
    EXPECT_EQ(board->chip().reg(0, 0x09), 9830);
    EXPECT_EQ(board->chip().reg(0, 0x19), 0x0001);
    EXPECT_EQ(board->chip().reg(1, 0x1D), 0x00A0);
    // exit: the link is closed, the port back in reset mode
    EXPECT_FALSE(board->portConfig(0).open);
}

// The operator sees the panel, with its resource defaults, before the link
// is in use: the panel's window is exposed and painted by the link's first
// driver call, whatever that call is.
TEST_F(ProgramTest, ThePanelIsOnScreenBeforeTheLinksFirstDriverCall) {
    int calls = 0;
    std::string firstCall;
    bool onScreen = false;
    std::string boxAtFirstCall;
    d2xx::installBackend(std::make_shared<WatchedBackend>(board, [&](const char* call) {
        if (calls++ > 0) return;
        firstCall = call;
        for (const QWidget* w : QApplication::topLevelWidgets())
            onScreen |=
                w->isVisible() && w->windowHandle() != nullptr && w->windowHandle()->isExposed();
        boxAtFirstCall = driver::shownText(panelHandle, DAC1TEXTBOX);
    }));
    EXPECT_EQ(runProgram(), 0);
    EXPECT_GT(calls, 40);
    EXPECT_EQ(firstCall, "createDeviceInfoList");
    EXPECT_TRUE(onScreen);
    EXPECT_EQ(boxAtFirstCall, "None Loaded");
}

TEST_F(ProgramTest, ASecondStartUpElsewhereKeepsTheSetupDirectoryOfTheFirst) {
    runProgram([&] {
        fs::current_path(setupDir);
        StdoutCapture quiet;
        sbus_initialize();
        EXPECT_EQ(g_DACSETUPFILES, workDir.string() + "/Dac/");
        fs::current_path(workDir);
    });
}

TEST_F(ProgramTest, ASecondTransferWithNothingChangedSendsNothingButLightsTheLed) {
    runProgram([&] {
        board->chip().clearLists();
        sbus_structure_write_to_testequip();
        EXPECT_TRUE(board->chip().words().empty());
        EXPECT_EQ(driver::shownText(panelHandle, LED), "0");

        // a change to one entry sends that entry alone, with the LED lit
        // while the word goes out
        std::string ledDuring;
        sbus_structure.data[3] = 1234;
        atNextEvents([&] { ledDuring = driver::shownText(panelHandle, LED); });
        sbus_structure_write_to_testequip();
        ASSERT_EQ(board->chip().words().size(), 1u);
        EXPECT_EQ(board->chip().words()[0].data, 1234u);
        EXPECT_EQ(ledDuring, "1");
        EXPECT_EQ(driver::shownText(panelHandle, LED), "0");
    });
}

// Without a default setup it can load the chip is reset and left so: the
// image's initial contents are not sent. A file that is no setup file is
// judged by the setup-file reader, as kovra610-cli judges it.
TEST_F(ProgramTest, WithoutTheDefaultFileTheChipKeepsItsResetState) {
    removeDefaultSetupFile();
    board->chip().setReg(0, 0x01, 0x1234);  // cleared by the reset
    std::string textBox;
    runProgram([&] { textBox = driver::shownText(panelHandle, DAC1TEXTBOX); });
    EXPECT_EQ(textBox, "None Loaded");
    EXPECT_EQ(board->chip().resets(), 1u);
    EXPECT_TRUE(board->chip().words().empty());
    EXPECT_EQ(board->chip().reg(0, 0x01), 0);
    EXPECT_EQ(console, std::string(kSuccessfulOpen) + "Default setup file not loaded (" +
                           setupDir.string() +
                           "/kovra610_defaults.sbus: no such file): the chip is left in its "
                           "reset state, nothing sent\n");
}

TEST_F(ProgramTest, ADefaultFileThatIsNoSetupFileIsNotLoaded) {
    writeSetupFile("kovra610_defaults.sbus", "level 3 1.25\n");
    runProgram();
    EXPECT_TRUE(board->chip().words().empty());
    EXPECT_NE(console.find("/kovra610_defaults.sbus: not a setup file (no setup record"),
              std::string::npos)
        << console;
}

// With no setup loaded no edit sends the image's placeholders: each action
// that would transfer says so once, on the console and in the status bar.
// Single words still go out, and a setup loaded later is sent.
TEST_F(ProgramTest, WithNoSetupLoadedEditsSendNothingAndSaySoOnceEach) {
    const std::string defaults = readFile(setupDir / "kovra610_defaults.sbus");
    removeDefaultSetupFile();
    const std::string later = writeSetupFile("later.sbus", defaults);
    const std::string kNoSetup = "No setup loaded: nothing sent - load a setup file first";
    std::vector<std::string> status;
    runProgram([&] {
        auto shown = [] {
            const auto* action =
                kovra610::runtime::window::mainWindow()->findChild<QLabel*>("statusLastAction");
            return action->text().toStdString();
        };
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0), 3.3);
        status.push_back(shown());
        driver::commit(panelHandle, DRVFORCE, 3);  // "Vh"
        driver::press(panelHandle, ALL);           // "Write All Reg"
        driver::press(panelHandle, SBUSWRITE);     // "Write to Part"
        status.push_back(shown());
        driver::press(panelHandle, ALL_2);  // "Read all Regs": no placeholder is read either
        status.push_back(shown());
        driver::press(panelHandle, SBUSLRN);  // "Save Setup": nor saved, and no file asked for
        status.push_back(shown());
        EXPECT_TRUE(board->chip().words().empty());

        driver::commit(panelHandle, ADDR, 0x12u);
        driver::commit(panelHandle, DATA_1, 5u);
        driver::press(panelHandle, COMMANDBUTTON);  // "Single Write To Part"
        EXPECT_EQ(board->chip().reg(0, 0x12), 5);

        board->chip().clearLists();
        driver::answerNextFilePopup(later);
        driver::press(panelHandle, SBUSSEL);  // "Load Setup"
        EXPECT_EQ(board->chip().words().size(), 40u);
        EXPECT_EQ(chipValueOf(0), sbus_structure.data[0]);
    });
    const std::string kNoSetupRead = "No setup loaded: nothing read - load a setup file first";
    EXPECT_EQ(status, (std::vector<std::string>{
                          "DAC1_0: " + kNoSetup, "Write to Part: " + kNoSetup,
                          "Read all Regs: " + kNoSetupRead,
                          "Save Setup: No setup loaded: nothing saved - load a setup file first"}));
    EXPECT_NE(console.find(kNoSetupRead), std::string::npos) << console;
    std::size_t said = 0;
    for (std::size_t at = console.find(kNoSetup); at != std::string::npos;
         at = console.find(kNoSetup, at + 1))
        ++said;
    EXPECT_EQ(said, 4u) << console;
}

// A default setup of three records defines three entries: an edit of
// another is said, in the status bar and on the console, not sent unseen.
TEST_F(ProgramTest, AnEditOfAnEntryNoSetupDefinedIsSaidNotDroppedUnseen) {
    const std::string defaults = readFile(setupDir / "kovra610_defaults.sbus");
    std::size_t cut = 0;
    for (int comma = 0; comma < 3 * 6; ++comma) cut = defaults.find(',', cut) + 1;
    writeSetupFile("kovra610_defaults.sbus", defaults.substr(0, cut) + "EOF");
    const std::string kUnsent =
        "Entry 5 holds no setup: its change is not sent - load a setup file that defines it";
    std::string status;
    runProgram([&] {
        board->chip().clearLists();
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 5), 1.0);
        status = kovra610::runtime::window::mainWindow()
                     ->findChild<QLabel*>("statusLastAction")
                     ->text()
                     .toStdString();
        EXPECT_TRUE(board->chip().words().empty());
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0), 1.0);
        EXPECT_EQ(board->chip().words().size(), 1u);
    });
    EXPECT_EQ(status, "DAC1_5: " + kUnsent);
    EXPECT_NE(console.find(kUnsent + "\n"), std::string::npos) << console;
}

TEST_F(ProgramTest, WithTheBoardAbsentThePanelStillRunsAndExitEndsWithZero) {
    board->faults().setDevicePresent(false);
    std::string textBox;
    EXPECT_EQ(runProgram([&] { textBox = driver::shownText(panelHandle, DAC1TEXTBOX); }), 0);
    EXPECT_EQ(console, std::string("Checking for FTDI devices...\n"
                                   "There are no FTDI devices installed\n") +
                           kCheckBoardPower);
    EXPECT_EQ(textBox, "None Loaded");
    EXPECT_TRUE(board->chip().words().empty());
}

TEST_F(ProgramTest, AFailingLinkOpenIsReportedAndThePanelRunsOn) {
    board->faults().setEchoFault(vboard::EchoFault::Missing, vboard::FaultInjector::kAlways);
    int result = -2;
    result = runProgram([&] {
        // single words fail in the link, the panel keeps working, and the
        // failed read leaves its fields as they were
        driver::commit(panelHandle, ADDR2, 0x21u);
        driver::press(panelHandle, SINGLEREAD);
        EXPECT_EQ(driver::shownText(panelHandle, ADDR2), std::to_string(0x21));
        EXPECT_EQ(driver::shownText(panelHandle, DAT2), "0");
    });
    EXPECT_EQ(result, 0);
    EXPECT_NE(console.find("Error in synchronizing the MPSSE\n"), std::string::npos);
    EXPECT_NE(console.find(kCheckBoardPower), std::string::npos);
    EXPECT_NE(console.find("Error - GPIO cannot be read\n"), std::string::npos);
}

TEST_F(ProgramTest, ASetupDirectoryTooLongForTheDefaultPathIsSaidOnTheConsole) {
    fs::path deep = workDir;
    while (deep.string().size() < 120) deep /= "a-rather-long-folder-name";
    fs::create_directories(deep / "Dac");
    fs::copy_file(setupDir / "kovra610_defaults.sbus", deep / "Dac/kovra610_defaults.sbus");
    fs::current_path(deep);
    runProgram();
    EXPECT_NE(console.find("Default setup file not loaded (" + deep.string() +
                           "/Dac/kovra610_defaults.sbus: its path is longer than 127 "
                           "characters): the chip is left in its reset state, nothing sent\n"),
              std::string::npos)
        << console;
    EXPECT_TRUE(board->chip().words().empty());
}

// "Exit" pressed while start-up still runs ends the program as soon as the
// event loop would start: start-up finishes, nothing hangs.
TEST_F(ProgramTest, ExitPressedDuringStartUpEndsTheProgramOnceStartUpIsDone) {
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        pressed = true;
        driver::press(panelHandle, COMMANDBUTTON_7);
    });
    static char arg0[] = "kovra610";
    static char* argv[] = {arg0, nullptr};
    int result = -2;
    {
        StdoutCapture quiet;
        result = kovra610_main(1, argv);
    }
    EXPECT_TRUE(pressed);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(board->chip().words().size(), 40u);
    EXPECT_FALSE(board->portConfig(0).open);
}

// The real program as a process: it ends with -1 when the panel cannot be
// brought up.
int runProcess(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ProgramTest, ProgramEndsWithMinusOneWithoutItsPanelFileOrADisplay) {
    const fs::path lone = workDir / "lone";
    fs::create_directories(lone);
    fs::copy_file(KOVRA610_PROGRAM, lone / "kovra610");
    EXPECT_EQ(runProcess("cd '" + workDir.string() +
                         "' && KOVRA610_BOARD=virtual QT_QPA_PLATFORM=offscreen '" +
                         (lone / "kovra610").string() + "' > out.txt 2>&1"),
              255);
    EXPECT_EQ(runProcess("cd '" + workDir.string() +
                         "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                         "KOVRA610_BOARD=virtual '" KOVRA610_PROGRAM "' > out.txt 2>&1"),
              255);
    EXPECT_TRUE(readFile(workDir / "out.txt").find("Checking for FTDI") == std::string::npos);
}

// An engineer watching the console through a pipe or a log sees each line
// as it is printed, not when the program ends.
TEST_F(ProgramTest, ConsoleLinesReachAPipeAsTheyArePrinted) {
    const std::string command = "cd '" + workDir.string() +
                                "' && KOVRA610_BOARD=virtual QT_QPA_PLATFORM=offscreen "
                                "timeout -s KILL 5 '" KOVRA610_PROGRAM "' 2>/dev/null";
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256];
    std::string seen;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        seen += line;
        if (seen.find("Synchronize Completed\n") != std::string::npos) break;
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    pclose(pipe);  // the program runs its event loop until the time-out ends it
    EXPECT_NE(seen.find("Synchronize Completed\n"), std::string::npos) << seen;
    EXPECT_LT(waited, std::chrono::seconds(4));
}

}  // namespace
}  // namespace kovra610::testing
