// kovra610-cli end to end on the virtual board, run as a child process:
// output, JSON lines, exit status and what is left on disk.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <algorithm>
#include <cmath>

#include "cli_process.h"
#include "json_line.h"

using namespace kovra610::cli::testing;

namespace {

const char kStartupLine[] = "Checking for FTDI devices...";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The records of a setup file: name, volts, addr, rw, ch, data.
struct Record {
    std::string name;
    double volts;
    int addr, rw, ch, data;
};
std::vector<Record> records(const std::string& text) {
    std::vector<Record> out;
    std::size_t pos = 0;
    while (pos < text.size() && text.compare(pos, 3, "EOF") != 0) {
        std::string f[6];
        for (std::string& field : f) {
            const std::size_t comma = text.find(',', pos);
            if (comma == std::string::npos) return out;
            field = text.substr(pos, comma - pos);
            pos = comma + 1;
        }
        while (!f[0].empty() && f[0].back() == ' ') f[0].pop_back();
        out.push_back({f[0], std::stod(f[1]), std::stoi(f[2]), std::stoi(f[3]), std::stoi(f[4]),
                       std::stoi(f[5])});
    }
    return out;
}

TEST(CliRun, HelpDocumentsEverySubCommandAndTheExitStatus) {
    WorkDir dir;
    const Outcome r = dir.run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word :
         {"load FILE",       "save FILE",       "read-all",       "write CH RW ADDR DATA",
          "read CH ADDR",    "bits BITSTRING",  "ovd-mask",       "reset",
          "clock DIVISOR",   "level ROW VOLTS", "code ROW CODE",  "script FILE",
          "set FIELD VALUE", "get FIELD",       "channels 1|2|3", "serve",
          "--json",          "--version",       "Exit status",    "NOFILE"})
        EXPECT_TRUE(contains(r.out, word)) << word;
    EXPECT_FALSE(contains(r.out, kStartupLine));
}

TEST(CliRun, JsonLinesAloneOnStandardOutputMatchTheChip) {
    WorkDir dir;
    const Outcome r = dir.run({"--json", "level", "3", "1.25", "read-all", "read", "2", "0x1A"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 42u) << r.out;
    // The first line names the tool, its version and the board.
    const auto hello = parseJsonLine(out[0]);
    ASSERT_TRUE(hello) << out[0];
    EXPECT_EQ(hello->value("hello").toString(), "kovra610-cli");
    EXPECT_EQ(hello->value("version").toString(), KOVRA610_VERSION);
    EXPECT_EQ(hello->value("board").toString(), "virtual");
    out.erase(out.begin());

    const std::vector<Record> defaults = records(readWhole(dir / "Dac" / "kovra610_defaults.sbus"));
    ASSERT_GE(defaults.size(), 30u);
    for (int i = 0; i < 40; ++i) {
        const auto o = parseJsonLine(out[static_cast<std::size_t>(i)]);
        ASSERT_TRUE(o) << "not JSON: " << out[static_cast<std::size_t>(i)];
        ASSERT_EQ(o->size(), 7u);
        EXPECT_EQ(o->value("index").toDouble(), i);
        const double data = o->value("data").toDouble();
        EXPECT_GE(data, 0);
        EXPECT_LE(data, 65535);
        EXPECT_EQ(o->value("rw").toDouble(), 0) << i;  // as the listing: the read cycle's flag
        // The level of a DAC entry is the code read back, converted and
        // rounded to mV; a register entry has none.
        const double volts = std::floor(1000 * ((data - 16384) * (10.0 / 65535) + 0.0005)) / 1000;
        EXPECT_EQ(o->value("volts").isNull(), i >= 30) << i;
        if (i < 30) {
            EXPECT_NEAR(o->value("volts").toDouble(), volts, 1e-9) << i;
            EXPECT_EQ(o->value("name").toString().toStdString(),
                      defaults[static_cast<std::size_t>(i)].name);
            EXPECT_EQ(o->value("ch").toDouble(), defaults[static_cast<std::size_t>(i)].ch);
            EXPECT_EQ(o->value("addr").toDouble(), defaults[static_cast<std::size_t>(i)].addr);
            if (i != 3) {
                EXPECT_EQ(data, defaults[static_cast<std::size_t>(i)].data) << i;
            }
        }
    }
    // Row 3 took the committed level: 1.25 V is code 24575.
    EXPECT_EQ(parseJsonLine(out[3])->value("data").toDouble(), 24575);
    EXPECT_EQ(parseJsonLine(out[30])->value("name").toString().toStdString(), "DrvRegCh0");
    EXPECT_EQ(parseJsonLine(out[30])->value("addr").toDouble(), 0x19);

    // The single read answers with channel 1 (select 2) and address 0x1A,
    // the data of entry 35 (CompReg of channel 1).
    const auto read = parseJsonLine(out[40]);
    ASSERT_TRUE(read) << out[40];
    EXPECT_EQ(read->value("ch").toDouble(), 2);
    EXPECT_EQ(read->value("addr").toDouble(), 0x1A);
    EXPECT_EQ(read->value("rw").toDouble(), 0);
    EXPECT_EQ(read->value("data").toDouble(), parseJsonLine(out[35])->value("data").toDouble());
    EXPECT_EQ(read->value("word").toDouble(),
              (2 << 24) | (0x1A << 17) | static_cast<int>(read->value("data").toDouble()));

    // The console (link progress and the listing) went to standard error.
    EXPECT_TRUE(contains(r.err, kStartupLine));
    EXPECT_TRUE(contains(r.err, "CPH_Ch0    ch=0x1 addr=0x3 rw=0x0 data=0x5FFF 24575"));
}

TEST(CliRun, TheFastReadBackListsWhatTheSlowOneDoesAndVerifyFailsOnADifference) {
    WorkDir dir;
    Outcome r = dir.run({"--json", "level", "3", "1.25", "read-all", "read-all", "--fast"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 81u) << r.out;
    for (std::size_t i = 1; i <= 40; ++i) EXPECT_EQ(out[i], out[i + 40]) << i;
    // The listing too, line for line.
    const std::string listing = "CPH_Ch0    ch=0x1 addr=0x3 rw=0x0 data=0x5FFF 24575\n";
    EXPECT_EQ(r.err.find(listing) != std::string::npos, true);
    EXPECT_NE(r.err.find(listing), r.err.rfind(listing));

    r = dir.run({"--json", "write", "2", "1", "0x1A", "0x0F00", "verify", "save", "after.sbus"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err,
                         "kovra610-cli: step 2 (verify): 1 of 40 entries differ from the "
                         "image: 35 CompReg ch=0x2 addr=0x1A image=0x0 chip=0xF00\n"))
        << r.err;
    ASSERT_EQ(lines(r.out).size(), 2u) << r.out;
    EXPECT_EQ(lines(r.out)[1],
              "{\"index\":35,\"name\":\"CompReg\",\"ch\":2,\"addr\":26,\"image\":0,\"chip\":3840}");
    EXPECT_FALSE(fs::exists(dir / "after.sbus"));
}

TEST(CliRun, WithoutJsonTheListingIsOnStandardOutput) {
    WorkDir dir;
    // A plain run says nothing on standard error, not even Qt's note about
    // its runtime folder.
    const Outcome r = dir.run({"read-all", "read", "1", "0x1D"}, {"XDG_RUNTIME_DIR="});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, kStartupLine));
    EXPECT_TRUE(contains(r.out, "DVH_Ch0    ch=0x1 addr=0x0 rw=0x0 data=0x8CCC 36044\n"));
    EXPECT_TRUE(contains(r.out, "Load Reg   ch=0x2 addr=0x1B rw=0x0 data="));
    EXPECT_TRUE(contains(r.out, "\nch=0x1 addr=0x1D rw=0x0 data=0x"));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '{'), 0);
}

TEST(CliRun, UsageErrorsRunNothing) {
    WorkDir dir;
    writeWhole(dir / "bench.txt", "level 3 1.25\n");
    fs::create_directory(dir / "folder.sbus");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"save", "first.sbus", "level", "3", "9.0"},
          std::vector<std::string>{"save", "first.sbus", "frobnicate"},
          std::vector<std::string>{"save", "first.sbus", "level", "30", "1.0"},
          std::vector<std::string>{"save", "first.sbus", "load", "missing.sbus"},
          std::vector<std::string>{"save", "first.sbus", "load", "bench.txt"},
          std::vector<std::string>{"save", "first.sbus", "load", "folder.sbus"},
          std::vector<std::string>{}}) {
        const Outcome r = dir.run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_TRUE(contains(r.err, "kovra610-cli: ")) << r.err;
        EXPECT_FALSE(contains(r.out, kStartupLine));
    }
    const Outcome r = dir.run({"save", "first.sbus"}, {"KOVRA610_BOARD=usb-port-2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "KOVRA610_BOARD=usb-port-2: \"usb-port-2\" is not a known board"))
        << r.err;
    EXPECT_TRUE(contains(dir.run({"load", "missing.sbus"}).err,
                         "kovra610-cli: step 1 (load missing.sbus): no such file\n"));
    EXPECT_TRUE(contains(dir.run({"load", "bench.txt"}).err, "no setup record"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bench.txt", "folder.sbus"}));
}

TEST(CliRun, AFailedStepEndsTheRunWithItsNameAndStatus4) {
    WorkDir dir;
    const Outcome r = dir.run({"reset", "save", "no-such-folder/x.sbus", "save", "after.sbus"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err, "kovra610-cli: step 2 (save no-such-folder/x.sbus): ")) << r.err;
    EXPECT_TRUE(dir.entries().empty());  // the steps after it did not run
}

TEST(CliRun, AFailedSaveLeavesNoFileBehind) {
    WorkDir dir;
    const std::string target = (dir / "no-such-folder" / "out.sbus").string();
    Outcome r = dir.run({"save", target});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err, "kovra610-cli: step 1 (save " + target +
                                    "): Error: Unable to Create  " + target + "\n"))
        << r.err;

    // A folder in the way: the temporary file beside it is removed again.
    fs::create_directory(dir / "taken.sbus");
    r = dir.run({"save", "taken.sbus"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err, "Unable to Create  " + (dir / "taken.sbus").string())) << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.sbus"});
    EXPECT_TRUE(fs::is_empty(dir / "taken.sbus"));

    // A path too long for the setup file routines is refused before them.
    const std::string longName(300, 'n');
    r = dir.run({"save", longName + ".sbus"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err, "the path is longer than 259 characters")) << r.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken.sbus"});
}

TEST(CliRun, SaveWritesAll64EntriesAndLoadSendsThemBack) {
    WorkDir dir;
    Outcome r = dir.run({"level", "0", "2.0", "save", "Dac/changed.sbus"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string saved = readWhole(dir / "Dac" / "changed.sbus");
    EXPECT_EQ(records(saved).size(), 64u);
    EXPECT_EQ(saved.substr(saved.size() - 3), "EOF");
    EXPECT_EQ(records(saved)[0].data, 29491);

    // A fresh start sends the defaults; loading the saved file brings 2.0 V back.
    r = dir.run({"--json", "load", "Dac/changed.sbus", "read-all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parseJsonLine(lines(r.out)[1])->value("data").toDouble(), 29491);
    EXPECT_EQ(parseJsonLine(lines(r.out)[1])->value("volts").toDouble(), 2.0);
}

TEST(CliRun, NofileLoadsNothingAndIsNoError) {
    WorkDir dir;
    const Outcome r = dir.run({"--json", "level", "0", "2.0", "load", "NOFILE", "read-all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "step 2 (load NOFILE): NOFILE: nothing loaded, nothing sent"));
    EXPECT_EQ(parseJsonLine(lines(r.out)[1])->value("data").toDouble(), 29491);  // still 2.0 V
}

TEST(CliRun, ScriptRunsABenchSequenceAndReportsTheFailingLine) {
    WorkDir dir;
    // Saved by an editor that writes a byte-order mark and CRLF line ends.
    writeWhole(dir / "bench.txt",
               "\xEF\xBB\xBF# levels for the comparator test\r\n"
               "level 3 1.25\r\n"
               "code 4 0x6000\n"
               "save \"Dac/bench out.sbus\"\n"
               "save missing/x.sbus\n"
               "save never.sbus\n");
    const Outcome r = dir.run({"script", "bench.txt"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(
        contains(r.err, "kovra610-cli: step 1 (script bench.txt), line 5 (save missing/x.sbus): "))
        << r.err;
    const std::vector<Record> saved = records(readWhole(dir / "Dac" / "bench out.sbus"));
    ASSERT_EQ(saved.size(), 64u);
    EXPECT_EQ(saved[3].data, 24575);
    EXPECT_EQ(saved[4].data, 0x6000);
    EXPECT_DOUBLE_EQ(saved[4].volts, 1.25);  // the level of code 0x6000, to the mV
    EXPECT_FALSE(fs::exists(dir / "never.sbus"));
}

// In a folder without the default setup file, steps that would send the
// image, list it or save it are refused before the board is opened; single
// words run, and a setup loaded first makes a level go out.
TEST(CliRun, WithoutASetupStepsThatSendOrListTheImageAreRefusedBeforeTheBoard) {
    WorkDir dir;
    fs::remove(dir / "Dac" / "kovra610_defaults.sbus");
    const fs::path pins = dir / "pins.vcd";
    const std::vector<std::string> trace = {"KOVRA610_BOARD_TRACE=" + pins.string()};
    const std::vector<std::vector<std::string>> refused = {{"level", "0", "3.3", "read", "1", "0"},
                                                           {"reset", "set", "DRVFORCE", "Vh"},
                                                           {"read-all", "--fast"},
                                                           {"--json", "verify"},
                                                           {"read-all"},
                                                           {"save", "placeholders.sbus"}};
    for (const auto& args : refused) {
        const Outcome r = dir.run(args, trace);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_TRUE(contains(r.err, "no setup loaded: ")) << r.err;
        EXPECT_TRUE(contains(r.err, "load a setup file first")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(fs::exists(pins)) << "the board was opened for " << args[0];
    }
    EXPECT_FALSE(fs::exists(dir / "placeholders.sbus"));
    EXPECT_EQ(dir.run({"reset", "set", "DRVFORCE", "Vh"}).err,
              "kovra610-cli: step 2 (set DRVFORCE Vh): no setup loaded: nothing sent - load a "
              "setup file first\n");

    Outcome r = dir.run({"--json", "write", "1", "1", "0", "5", "read", "1", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parseJsonLine(lines(r.out).back())->value("data").toInt(), 5);

    writeWhole(dir / "mine.sbus", readWhole(KOVRA610_DEFAULT_SETUP));
    r = dir.run({"--json", "load", "mine.sbus", "level", "0", "3.3", "read", "1", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parseJsonLine(lines(r.out).back())->value("data").toInt(), 38010);

    // A setup of three records defines three entries: the read-backs read
    // and list those, never the placeholders of the rest, and a save keeps
    // those three, so that loading it back defines no placeholder.
    const std::string defaults = readWhole(KOVRA610_DEFAULT_SETUP);
    std::size_t cut = 0;
    for (int comma = 0; comma < 3 * 6; ++comma) cut = defaults.find(',', cut) + 1;
    writeWhole(dir / "three.sbus", defaults.substr(0, cut) + "EOF");
    for (const bool fast : {false, true}) {
        std::vector<std::string> args = {"--json", "load", "three.sbus", "read-all"};
        if (fast) args.push_back("--fast");
        r = dir.run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> rows = lines(r.out);
        ASSERT_EQ(rows.size(), 4u) << r.out;  // the hello line and three entries
        EXPECT_EQ(parseJsonLine(rows[3])->value("name").toString(), "DVT_Ch0") << rows[3];
    }
    r = dir.run({"load", "three.sbus", "level", "5", "1.0", "level", "0", "1.0"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(contains(r.err,
                         "step 2 (level 5 1.0): entry 5 holds no setup: its change is not "
                         "sent - load a setup file that defines it"))
        << r.err;
    r = dir.run({"load", "three.sbus", "save", "again.sbus"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "three.sbus: 3 records loaded: entries 3..39 keep what they held"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Only the 3 entries a setup defined are saved")) << r.out;
    const std::string again = readWhole(dir / "again.sbus");
    EXPECT_EQ(std::count(again.begin(), again.end(), ','), 3 * 6) << again;  // three records
}

TEST(CliRun, DevicesListsEveryFtdiPortAndTheOneTheToolOpens) {
    WorkDir dir;
    const std::vector<std::string> bus = {
        std::string("LD_LIBRARY_PATH=") + KOVRA610_USB_DEVICE_DIR,
        "KOVRA610_USB_DEVICES=ft232r:A10K7Q,ft2232h:KV610001,ft2232h:KV610002"};
    auto with = [&bus](const char* board) {
        std::vector<std::string> env = bus;
        env.push_back(board);
        return env;
    };
    Outcome r = dir.run({"devices"}, with("KOVRA610_BOARD=usb:serial=KV610002"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 6u) << r.out;  // a heading and five ports
    EXPECT_TRUE(contains(out[1], "FT232R   A10K7Q")) << out[1];
    EXPECT_TRUE(contains(out[4], "FT2232H  KV610002     \"Dual RS232-HS\""));
    EXPECT_TRUE(contains(out[4], "interface A  <- the tool opens this one")) << out[4];
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '<'), 1);
    EXPECT_FALSE(contains(r.out, kStartupLine));  // no board was opened

    // The hello line names the port opened; devices in the session answers
    // every port in one object.
    r = dir.run({"serve"}, with("KOVRA610_BOARD=usb:serial=KV610002"), "devices\nquit\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(lines(r.out).size(), 3u) << r.out;
    const auto hello = parseJsonLine(lines(r.out)[0]);
    ASSERT_TRUE(hello) << r.out;
    EXPECT_EQ(hello->value("board").toString(), "usb:serial=KV610002");
    EXPECT_EQ(hello->value("device").toObject().value("serial").toString(), "KV610002");
    EXPECT_EQ(hello->value("device").toObject().value("interface").toString(), "A");
    const auto listed = parseJsonLine(lines(r.out)[1]);
    ASSERT_TRUE(listed) << r.out;
    EXPECT_EQ(listed->value("ok").toBool(), true);
    const QJsonArray ports = listed->value("devices").toArray();
    ASSERT_EQ(ports.size(), 5);
    EXPECT_EQ(ports[0].toObject().value("chip").toString(), "FT232R");
    EXPECT_EQ(ports[3].toObject().value("serial").toString(), "KV610002");
    EXPECT_EQ(ports[3].toObject().value("open").toBool(), true);
    EXPECT_EQ(ports[4].toObject().value("interface").toString(), "B");

    r = dir.run({"--json", "devices"}, with("KOVRA610_BOARD=usb"));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(lines(r.out).size(), 5u) << r.out;
    const auto first = parseJsonLine(lines(r.out)[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->value("chip").toString(), "FT232R");
    EXPECT_EQ(first->value("open").toBool(), false);  // port 0 has no MPSSE: never opened
    EXPECT_EQ(parseJsonLine(lines(r.out)[3])->value("serial").toString(), "KV610002");
    EXPECT_EQ(parseJsonLine(lines(r.out)[3])->value("interface").toString(), "A");
    r = dir.run({"devices"}, with("KOVRA610_BOARD=usb"));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '<'), 0) << r.out;
    EXPECT_TRUE(contains(r.out, "the tool opens none of these. Name the board with usb:serial=SN"))
        << r.out;
}

TEST(CliRun, RunsWithoutADisplayAndFindsThePanelThroughALink) {
    WorkDir dir;
    // Started through a symbolic link in another folder, as bin/ holds it.
    fs::create_directory(dir / "bin");
    fs::create_symlink(KOVRA610_CLI_PATH, dir / "bin" / "kovra610-cli");
    const std::string command = "cd " + quoted(dir.path().string()) +
                                " && env -u DISPLAY -u QT_QPA_PLATFORM KOVRA610_BOARD=virtual " +
                                "bin/kovra610-cli reset >/dev/null 2>&1";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
}

TEST(CliRun, APanelFileMissingBesideTheProgramIsStatus4) {
    WorkDir dir;
    fs::create_directory(dir / "bin");
    fs::copy_file(KOVRA610_CLI_PATH, dir / "bin" / "kovra610-cli");
    const std::string command = "cd " + quoted(dir.path().string()) +
                                " && KOVRA610_BOARD=virtual bin/kovra610-cli reset >out 2>err";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 4);
    const std::string err = readWhole(dir / "err");
    EXPECT_TRUE(contains(err,
                         "kovra610-cli: start-up: the panel \"kovra610 evaluation board "
                         "uir.uir\" could not be loaded from the program's folder"))
        << err;
    EXPECT_FALSE(contains(readWhole(dir / "out"), kStartupLine));  // the board was not touched
}

}  // namespace
