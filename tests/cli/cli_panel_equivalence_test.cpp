// A bench sequence run by kovra610-cli reaches the chip exactly as the same
// steps taken at the panel: the panel program runs in-process (its main,
// with the panel shown offscreen) and is operated through the run-time's
// test driver; kovra610-cli runs the same steps as a script in a child
// process. Both run on a fresh virtual board with its pin trace on. The two
// traces, the saved setup files and the read-back must be identical.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QThread>
#include <QTimer>
#include <memory>

#include "app/kovra610 evaluation board.h"
#include "cli_process.h"
#include "json_line.h"
#include "panel/callbacks.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "platform/runtime/panel_runtime.h"
#include "tests/runtime/test_driver.h"

int kovra610_main(int argc, char* argv[]);

using namespace kovra610::cli::testing;
namespace driver = kovra610::runtime::testing;

namespace {

const int kSingleWriteButton = 35;  // "Single Write To Part"
const char kResetPartButton[] = "Reset Part ";
const char kBits[] = "10001110010000000011110000";  // ch 2, addr 0x1C, write, data 0xF0

// The bench sequence, as a script for kovra610-cli.
std::string benchScript(const std::string& setup, const std::string& saved) {
    return "# bench sequence\n"
           "reset\n"
           "load \"" +
           setup +
           "\"\n"
           "level 3 1.25\n"
           "level 12 -1.0\n"
           "code 4 20000\n"
           "clock 7\n"
           "write 3 1 0x1B 5\n"
           "ovd-mask\n"
           "bits " +
           kBits +
           "\n"
           "read-all\n"
           "save \"" +
           saved + "\"\n";
}

int buttonWithCaption(const char* caption) {
    for (int id = 2; id <= 172; ++id) {
        if (driver::shownText(panelHandle, id) == caption) return id;
    }
    return -1;
}

// The same sequence, operated at the panel.
void operatePanel(const std::string& setup, const std::string& saved) {
    const int resetButton = buttonWithCaption(kResetPartButton);
    ASSERT_GT(resetButton, 0);
    EXPECT_EQ(driver::press(panelHandle, resetButton), 0);
    driver::answerNextFilePopup(setup);
    EXPECT_EQ(driver::press(panelHandle, SBUSSEL), 0);  // "Load Setup"
    EXPECT_EQ(driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 3), 1.25), 0);
    EXPECT_EQ(driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 12), -1.0), 0);
    EXPECT_EQ(driver::commit(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, 4), 20000u), 0);
    EXPECT_EQ(driver::commit(panelHandle, CLKFREQ, 7u), 0);
    EXPECT_EQ(driver::commit(panelHandle, CH, 3u), 0);
    EXPECT_EQ(driver::commit(panelHandle, REG, 1u), 0);
    EXPECT_EQ(driver::commit(panelHandle, ADDR, 0x1Bu), 0);
    EXPECT_EQ(driver::commit(panelHandle, DATA_1, 5u), 0);
    EXPECT_EQ(driver::press(panelHandle, kSingleWriteButton), 0);
    set_ovdmask(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);  // no control is bound to it
    vector_data_serial_bus_write(kBits);                       // nor to this
    EXPECT_EQ(driver::press(panelHandle, ALL_2), 0);           // "Read all Regs"
    write_structure_to_sbus_setupfile_pass_filename(saved.c_str());
}

// A setup of the bench's own, in both folders: the defaults with other
// levels on row 0 and on row 8, which the transfer converts from its level.
void writeBenchSetup(const WorkDir& panelDir, const WorkDir& cliDir) {
    std::string setup = readWhole(panelDir / "Dac" / "kovra610_defaults.sbus");
    const std::string row0 = "DVH_Ch0 ,3.000000 ,0,1,1,36044,";
    ASSERT_NE(setup.find(row0), std::string::npos);
    setup.replace(setup.find(row0), row0.size(), "DVH_Ch0 ,2.000000 ,0,1,1,29491,");
    const std::string row8 = "CLAMPH_Ch0 ,5.000000 ,8,1,1,49151,";
    ASSERT_NE(setup.find(row8), std::string::npos);
    setup.replace(setup.find(row8), row8.size(), "CLAMPH_Ch0 ,4.500000 ,8,1,1,1,");
    for (const WorkDir* d : {&panelDir, &cliDir}) writeWhole(*d / "Dac" / "bench.sbus", setup);
}

// The panel program, in this process, operated once its event loop runs
// (start-up is over).
void runThePanelProgram(const WorkDir& panelDir) {
    ASSERT_EQ(chdir(panelDir.path().c_str()), 0);
    static char name[] = "kovra610";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    QApplication app(argc, argv);
    driver::setScriptedPopups(true);
    QTimer operate;
    bool done = false;
    QObject::connect(&operate, &QTimer::timeout, [&] {
        if (done || QThread::currentThread()->loopLevel() == 0) return;
        done = true;
        operate.stop();
        operatePanel((panelDir / "Dac" / "bench.sbus").string(),
                     (panelDir / "Dac" / "saved.sbus").string());
        QuitUserInterface(0);
    });
    operate.start(20);
    ASSERT_EQ(kovra610_main(1, argv), 0);
    ASSERT_TRUE(done);
    EXPECT_TRUE(driver::shownMessagePopups().empty());
}

// The same pins, edge for edge and tick for tick, and the same saved file.
void expectSamePinsAndSavedFile(const std::string& panelTrace, const std::string& cliTrace,
                                const WorkDir& panelDir, const WorkDir& cliDir) {
    const std::string panelPins = readWhole(panelTrace), cliPins = readWhole(cliTrace);
    ASSERT_GT(panelPins.size(), 1000u);
    EXPECT_TRUE(panelPins == cliPins)
        << "the pin traces differ (" << panelPins.size() << " and " << cliPins.size() << " bytes)";
    const std::string panelSaved = readWhole(panelDir / "Dac" / "saved.sbus");
    EXPECT_FALSE(panelSaved.empty());
    EXPECT_EQ(readWhole(cliDir / "Dac" / "saved.sbus"), panelSaved);
}

TEST(CliPanelEquivalence, ABenchScriptReachesTheChipAsThePanelDoes) {
    WorkDir panelDir, cliDir;
    ASSERT_NO_FATAL_FAILURE(writeBenchSetup(panelDir, cliDir));

    // kovra610-cli, from a script.
    writeWhole(cliDir / "bench.txt",
               benchScript((cliDir / "Dac" / "bench.sbus").string(), "Dac/saved.sbus"));
    const std::string cliTrace = (cliDir / "cli.vcd").string();
    const Outcome cli =
        cliDir.run({"--json", "script", "bench.txt"}, {"KOVRA610_BOARD_TRACE=" + cliTrace});
    ASSERT_EQ(cli.status, 0) << cli.err;

    // The panel program, in this process.
    auto board = std::make_shared<kovra610::vboard::VirtualBoard>();
    const std::string panelTrace = (panelDir / "panel.vcd").string();
    ASSERT_TRUE(board->startTrace(panelTrace));
    kovra610::d2xx::installBackend(board);
    ASSERT_NO_FATAL_FAILURE(runThePanelProgram(panelDir));
    board->stopTrace();
    kovra610::d2xx::installBackend(nullptr);

    expectSamePinsAndSavedFile(panelTrace, cliTrace, panelDir, cliDir);

    // The same read-back: the CLI's JSON lines against the panel's image and
    // the chip the panel set.
    const std::vector<std::string> json = lines(cli.out);
    ASSERT_EQ(json.size(), 40u) << cli.out;
    for (int i = 0; i < 40; ++i) {
        const auto o = parseJsonLine(json[static_cast<std::size_t>(i)]);
        ASSERT_TRUE(o) << json[static_cast<std::size_t>(i)];
        EXPECT_EQ(o->value("name").toString().toStdString(), sbus_structure.name[i]) << i;
        EXPECT_EQ(o->value("ch").toDouble(), sbus_structure.ch[i]) << i;
        EXPECT_EQ(o->value("addr").toDouble(), sbus_structure.addr[i]) << i;
        EXPECT_EQ(o->value("rw").toDouble(), sbus_structure.rw[i]) << i;
        EXPECT_EQ(o->value("data").toDouble(), sbus_structure.data[i]) << i;
        EXPECT_EQ(o->value("volts").toDouble(), sbus_structure.volts[i]) << i;
        EXPECT_EQ(o->value("data").toDouble(),
                  board->chip().reg(sbus_structure.ch[i] - 1,
                                    static_cast<unsigned>(sbus_structure.addr[i])))
            << i;
    }
    // What the steps did, seen on the chip the panel set.
    EXPECT_EQ(board->chip().reg(0, 0), 29491);  // the loaded setup's 2.0 V
    EXPECT_EQ(board->chip().reg(0, 8), 45874);  // row 8 converted from its 4.5 V
    EXPECT_EQ(board->chip().reg(0, 3), 24575);  // level 3 1.25
    EXPECT_EQ(board->chip().reg(0, 0x1B), 5);   // write 3 1 0x1B 5, both channels
    EXPECT_EQ(board->chip().reg(1, 0x1B), 5);
    EXPECT_EQ(board->chip().reg(0, 0x1D), 12);    // ovd-mask
    EXPECT_EQ(board->chip().reg(1, 0x1C), 0xF0);  // bits
    EXPECT_EQ(board->engine().divisor(), 7);      // clock 7
    EXPECT_EQ(board->chip().reg(0, 4), 25558);    // sent by the load after the reset; a code is not
    EXPECT_EQ(board->chip().resets(), 2u);        // start-up and the reset step
}

}  // namespace
