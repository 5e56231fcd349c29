// kovra610-cli as a child process with KOVRA610_BOARD=usb over the board
// under test. On the emulated bus the child writes its chip model to a file
// at exit (KOVRA610_USB_CHIP_FILE), which the tests read.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "board_under_test.h"
#include "cli_process.h"
#include "json_line.h"

namespace kovra610::usbe2e {
namespace {

using cli::testing::lines;
using cli::testing::Outcome;
using cli::testing::readWhole;
using cli::testing::WorkDir;

// What the chip model of one device saw, from the chip file.
struct ChipSeen {
    std::vector<std::string> words;           // "CH ADDR RW DATA", hex as the file has them
    std::map<std::string, std::string> regs;  // "CH ADDR" -> "DATA"
    int resets = -1;
    int divisor = -1;
};

std::map<std::string, ChipSeen> readChipFile(const std::string& text) {
    std::map<std::string, ChipSeen> chips;
    ChipSeen* chip = nullptr;
    std::istringstream in(text);
    for (std::string key; in >> key;) {
        std::string a, b, c, d;
        if (key == "device") {
            in >> a >> b;
            chip = &chips[b];
        } else if (chip == nullptr) {
            break;
        } else if (key == "word") {
            in >> a >> b >> c >> d;
            chip->words.push_back(a + " " + b + " " + c + " " + d);
        } else if (key == "reg") {
            in >> a >> b >> c;
            chip->regs[a + " " + b] = c;
        } else {
            in >> (key == "resets" ? chip->resets : chip->divisor);
        }
    }
    return chips;
}

class CliOverUsb : public ::testing::Test {
protected:
    void SetUp() override { KOVRA610_BOARD_UNDER_TEST(board); }

    // Runs the CLI on `devices` (the emulated bus) with KOVRA610_BOARD set to
    // `setting` (the board under test when empty), `input` on its standard
    // input.
    Outcome run(const std::vector<std::string>& args, const std::string& devices = "",
                const std::string& setting = "", const std::string& input = "") {
        std::vector<std::string> env = {"KOVRA610_BOARD=" + (setting.empty() ? board : setting),
                                        "KOVRA610_USB_CHIP_FILE=" + (dir / "chip.txt").string()};
        if (!devices.empty()) env.push_back("KOVRA610_USB_DEVICES=" + devices);
        const auto start = std::chrono::steady_clock::now();
        Outcome outcome = dir.run(args, env, input);
        took = std::chrono::steady_clock::now() - start;
        chips = readChipFile(readWhole(dir / "chip.txt"));
        return outcome;
    }

    bool emulated() const { return !onHardware(); }

    std::string board;
    WorkDir dir;
    std::map<std::string, ChipSeen> chips;
    std::chrono::steady_clock::duration took{};
};

TEST_F(CliOverUsb, ReadAllAndASingleReadShowWhatTheChipHolds) {
    const Outcome r = run({"read-all", "read", "2", "0x1A"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 41u);
    const std::vector<std::string> listing(out.end() - 41, out.end() - 1);
    EXPECT_EQ(out.back().substr(0, 28), "ch=0x2 addr=0x1A rw=0x0 data");
    if (!emulated()) return;

    EXPECT_EQ(out[4],
              "Opened FT2232H \"Dual RS232-HS\" serial KV610001 (bus 001, address 002), "
              "interface A");
    const ChipSeen& chip = chips["KV610001"];
    ASSERT_EQ(chip.words.size(), 40u + 40u + 1u);  // start-up, read-all, the single read
    EXPECT_EQ(chip.resets, 1);
    for (std::size_t i = 0; i < 40; ++i) {
        // "NAME ch=0x1 addr=0x3 rw=0x0 data=0x68F5 26869" against "1 03 1 68F5"
        unsigned ch = 0, addr = 0, rw = 9, data = 0;
        const std::size_t fields = listing[i].find("ch=");
        ASSERT_NE(fields, std::string::npos) << listing[i];
        ASSERT_EQ(std::sscanf(listing[i].c_str() + fields, "ch=0x%x addr=0x%x rw=0x%x data=0x%x",
                              &ch, &addr, &rw, &data),
                  4);
        char word[32];
        std::snprintf(word, sizeof word, "%u %02X 1 ", ch, addr);
        EXPECT_EQ(chip.words[i].substr(0, std::strlen(word)), word) << i;
        char reg[16];
        std::snprintf(reg, sizeof reg, "%u %02X", ch == 2 ? 1u : 0u, addr);
        EXPECT_EQ(data, std::stoul(chip.regs.at(reg), nullptr, 16)) << listing[i];
    }
    EXPECT_EQ(chip.words.back(), "2 1A 0 0000");
}

TEST_F(CliOverUsb, ChipResetAndClockDivisorReachTheBoard) {
    const Outcome r = run({"write", "1", "1", "0x05", "0x1234", "reset", "clock", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    if (!emulated()) return;
    const ChipSeen& chip = chips["KV610001"];
    EXPECT_EQ(chip.resets, 2);
    EXPECT_EQ(chip.regs.at("0 05"), "0000");  // the reset cleared the write
    EXPECT_EQ(chip.divisor, 4);
}

constexpr const char* kBench = "ft232r:A10K7Q,ft2232h:KV610001,ft2232h:KV610002";

TEST_F(CliOverUsb, ASerialNumberChoosesTheSecondFt2232hBehindAnFt232r) {
    KOVRA610_NEEDS_EMULATED_BUS();
    const Outcome r = run({"read", "1", "0x19"}, kBench, "usb:serial=KV610002");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2 FTDI devices found"), std::string::npos);
    EXPECT_NE(r.out.find("Opened FT2232H \"Dual RS232-HS\" serial KV610002 (bus 001, address "
                         "004), interface A\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(chips["KV610002"].words.size(), 41u);
    EXPECT_TRUE(chips["KV610001"].words.empty());
}

TEST_F(CliOverUsb, AnUnknownSerialNumberEndsInTheNoBoardPath) {
    KOVRA610_NEEDS_EMULATED_BUS();
    const Outcome r = run({"read-all"}, kBench, "usb:serial=KV6199");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("KOVRA610_BOARD=usb:serial=KV6199: no FT2232H with serial number KV6199 "
                         "is attached (attached: FT232R A10K7Q, FT2232H KV610001, FT2232H "
                         "KV610002)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("There are no FTDI devices installed"), std::string::npos);
    EXPECT_NE(r.out.find("Check Board Power"), std::string::npos);
    for (const auto& [serial, chip] : chips) EXPECT_TRUE(chip.words.empty()) << serial;
}

TEST_F(CliOverUsb, ACablePulledDuringReadAllEndsTheRunWithoutHanging) {
    KOVRA610_NEEDS_EMULATED_BUS();
    const Outcome r = run({"read-all"}, "ft2232h:KV610001:unplug-after=100");
    EXPECT_EQ(r.status, 3) << r.err;
    // Every call after the pull fails at once: the run ends within the
    // link's own waits (40 reads of 10 ms at most) and start-up.
    EXPECT_LT(took, std::chrono::seconds(5));
    // pulled during read-all: start-up's 40 words and some of the 40 reads
    EXPECT_GT(chips["KV610001"].words.size(), 40u);
    EXPECT_LT(chips["KV610001"].words.size(), 80u);
}

// A re-open that finds no board answers with the driver's reason, not a
// guess. The cable is pulled somewhere among the reads (how many bulk
// transfers a read takes depends on timing), always before the re-open.
// With plain "usb" the board is the one the session opened: a second
// FT2232H, now first on the bus, is not opened in its place.
TEST_F(CliOverUsb, AFailedReopenSaysWhyTheBoardCouldNotBeOpened) {
    KOVRA610_NEEDS_EMULATED_BUS();
    std::string input;
    for (int i = 0; i < 8; ++i) input += "read 1 0\n";
    const struct {
        const char* devices;
        const char* setting;
        const char* why;
    } cases[] = {{"ft2232h:KV610001:unplug-after=64", "usb:serial=KV610001",
                  "\"link down: KOVRA610_BOARD=usb:serial=KV610001: no FT2232H with serial "
                  "number KV610001 is attached"},
                 {"ft2232h:KV610001:unplug-after=64,ft2232h:KV610002", "usb",
                  "\"link down: KOVRA610_BOARD=usb: the board opened before, FT2232H KV610001, is "
                  "not attached (attached: FT2232H KV610002)"}};
    for (const auto& c : cases) {
        const Outcome r = run({"serve"}, c.devices, c.setting, input + "reopen\nwrite 1 1 0 1\n");
        const std::vector<std::string> answers = lines(r.out);
        ASSERT_EQ(answers.size(), 11u) << r.out << r.err;
        EXPECT_NE(answers[8].find("link down"), std::string::npos) << answers[8];
        EXPECT_NE(answers[9].find(c.why), std::string::npos) << answers[9];
        EXPECT_NE(answers[10].find("link down"), std::string::npos) << answers[10];
        EXPECT_TRUE(chips["KV610002"].words.empty());
    }
}

// A port whose latency timer stays at 125 ms whatever the tool sets: the
// last four bytes of every answer come after a single read has given up
// (10 ms and 100 ms more), but within a batched read's wait for forty
// (100 ms and 1 ms a word). Every single read fails and leaves its late
// bytes on their way.
constexpr const char* kSlowPort = "ft2232h:KV610001:latency=125";

// What the chip holds behind channel select `ch` (1 or 2) at `addr`.
long chipData(const ChipSeen& chip, long ch, long addr) {
    char reg[16];
    std::snprintf(reg, sizeof reg, "%ld %02lX", ch == 2 ? 1L : 0L, addr);
    const auto it = chip.regs.find(reg);
    return it == chip.regs.end() ? -1 : std::stol(it->second, nullptr, 16);
}

// A read row (a `read` answer or a read-all entry) holds the chip's data
// for the channel and address it names, and names the ones asked for when
// given.
void expectChipsData(const ChipSeen& chip, const QJsonObject& row, long ch = 0, long addr = 0) {
    const long rowCh = row.value("ch").toInteger(), rowAddr = row.value("addr").toInteger();
    if (ch != 0) {
        EXPECT_EQ(rowCh, ch);
        EXPECT_EQ(rowAddr, addr);
    }
    EXPECT_EQ(row.value("data").toInteger(), chipData(chip, rowCh, rowAddr))
        << "ch " << rowCh << " addr " << rowAddr;
}

// After a read that timed out, no later read takes its reply: each later
// read gives the chip's data or fails saying so, and the image keeps only
// what the chip holds.
TEST_F(CliOverUsb, AReplyArrivingAfterItsReadGaveUpIsNeverAnotherReadsAnswer) {
    KOVRA610_NEEDS_EMULATED_BUS();
    const Outcome r = run({"serve"}, kSlowPort, "",
                          "read 1 0\nread 1 0\nread 1 0\nread-all --fast\nread 1 1\n"
                          "read-all --fast\nread 2 0x19\nread-all --fast\nsave after.sbus\nquit\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<QJsonObject> a;
    for (const std::string& line : lines(r.out))
        a.push_back(cli::testing::parseJsonLine(line).value_or(QJsonObject{}));
    ASSERT_EQ(a.size(), 11u) << r.out;
    const ChipSeen& chip = chips["KV610001"];
    // Three tries, so that a loaded machine that once overslept its wait
    // still shows a read that gave up before its reply came.
    EXPECT_TRUE(!a[1].value("ok").toBool() || !a[2].value("ok").toBool() ||
                !a[3].value("ok").toBool())
        << "the slow port did not delay the reply";

    const long asked[][3] = {{1, 1, 0}, {2, 1, 0}, {3, 1, 0}, {5, 1, 1}, {7, 2, 0x19}};
    for (const auto& [at, ch, addr] : asked) {
        const QJsonObject& answer = a[static_cast<std::size_t>(at)];
        if (answer.value("ok").toBool())
            expectChipsData(chip, answer, ch, addr);
        else
            EXPECT_FALSE(answer.value("error").toString().isEmpty());
    }
    int readBack = 0;
    for (std::size_t at : {4u, 6u, 8u}) {
        if (!a[at].value("ok").toBool()) {
            EXPECT_FALSE(a[at].value("error").toString().isEmpty());
            continue;
        }
        ++readBack;
        const QJsonArray entries = a[at].value("entries").toArray();
        EXPECT_EQ(entries.size(), 40);
        for (const QJsonValue& entry : entries) expectChipsData(chip, entry.toObject());
    }
    // With the late bytes before it taken first, a batched read gets its
    // own answers from the slow port.
    EXPECT_GE(readBack, 1);

    // The image saved at the end holds what the chip holds: the data
    // field of each record NAME,LEVEL,ADDR,RW,CH,DATA.
    std::vector<std::string> fields;
    std::istringstream saved(readWhole(dir / "after.sbus"));
    for (std::string field; std::getline(saved, field, ',');) fields.push_back(field);
    ASSERT_GE(fields.size(), 40u * 6u);
    for (std::size_t i = 0; i < 40; ++i) {
        const std::string* record = &fields[i * 6];
        EXPECT_EQ(std::stol(record[5]), chipData(chip, std::stol(record[4]), std::stol(record[2])))
            << "entry " << i << " " << record[0];
    }

    // Read one by one, every read but perhaps the odd lucky one fails: the
    // listing holds no row of data the chip does not hold.
    const Outcome all = run({"--json", "read-all"}, kSlowPort);
    EXPECT_EQ(all.status, 4) << all.err;
    const std::vector<std::string> rows = lines(all.out);
    ASSERT_FALSE(rows.empty());
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto row = cli::testing::parseJsonLine(rows[i]);
        ASSERT_TRUE(row) << rows[i];
        expectChipsData(chips["KV610001"], *row);
    }
}

}  // namespace
}  // namespace kovra610::usbe2e
