// kovra610-cli serve on the virtual board, run as a child process: one JSON
// object line per command, the session going on after a refused one.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "cli_process.h"
#include "json_line.h"

using namespace kovra610::cli::testing;

namespace {

// The answers of a session fed `commands`, one object per line.
std::vector<QJsonObject> answers(const Outcome& r) {
    std::vector<QJsonObject> out;
    for (const std::string& line : lines(r.out)) {
        const auto o = parseJsonLine(line);
        EXPECT_TRUE(o) << "not one JSON object: " << line;
        if (o) out.push_back(*o);
    }
    return out;
}

std::string error(const QJsonObject& answer) {
    return answer.value("error").toString().toStdString();
}

TEST(CliServe, EachCommandGetsOneAnswerAndARefusedOneEndsNothing) {
    WorkDir dir;
    const Outcome r = dir.run({"serve"}, {},
                              "\xEF\xBB\xBFset DRVFORCE Vh\r\n"  // as a BOM-writing editor saves it
                              "read 2 0x19\n"
                              "channels 1\n"
                              "set drvforce \"Vl\"\n"
                              "get DRVFORCE\n"
                              "read 2 0x19\n"
                              "frobnicate 3\n"
                              "level 30 1.0\n"
                              "load bench.txt\n"
                              "set DRVFORCE 2\n"
                              "\n"
                              "level 0 3.3\n"
                              "read 1 0\n"
                              "reset" +
                                  std::string(4091, ' ') + "\r\n" +  // 4096 characters
                                  "reset" + std::string(4092, ' ') + "\n" +
                                  "quit\n"
                                  "reset\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 17u) << r.out;
    EXPECT_EQ(a[0].value("hello").toString(), "kovra610-cli");
    EXPECT_EQ(a[0].value("version").toString(), KOVRA610_VERSION);
    EXPECT_EQ(a[0].value("board").toString(), "virtual");

    // Vh on both channels: the driver word's bits 3..1 hold 3.
    EXPECT_EQ(a[1].value("caption").toString(), "Vh");
    EXPECT_EQ(a[2].value("data").toInt() & 0xE, 3 << 1);
    // Channel 0 alone: channel 1 keeps Vh.
    EXPECT_EQ(a[3].value("channels").toInt(), 1);
    EXPECT_EQ(a[3].value("caption").toString(), "RW Ch0");
    EXPECT_EQ(a[5].value("value").toInt(), 1);
    EXPECT_EQ(a[5].value("caption").toString(), "Vl");
    EXPECT_EQ(a[5].value("ch0").toInt(), 1);
    EXPECT_EQ(a[5].value("ch1").toInt(), 3);
    EXPECT_EQ(a[6].value("data").toInt() & 0xE, 3 << 1);

    for (std::size_t i : {7u, 8u, 9u, 10u, 11u}) {
        EXPECT_EQ(a[i].value("ok"), QJsonValue(false)) << i;
        EXPECT_FALSE(error(a[i]).empty()) << i;
    }
    EXPECT_EQ(a[7].value("step").toString(), "frobnicate 3");
    EXPECT_EQ(error(a[7]), "unknown sub-command \"frobnicate\" (see --help)");
    EXPECT_NE(error(a[8]).find("no DAC entry"), std::string::npos);
    EXPECT_EQ(error(a[9]), "no such file");
    EXPECT_NE(error(a[10]).find("must be one of"), std::string::npos);
    EXPECT_EQ(error(a[11]), "empty command");

    EXPECT_EQ(a[12].value("code").toInt(), 38010);
    EXPECT_EQ(a[13].value("data").toInt(), 38010);
    EXPECT_EQ(a[14].value("ok"), QJsonValue(true)) << error(a[14]);
    EXPECT_EQ(error(a[15]), "the line is longer than 4096 characters");
    EXPECT_EQ(a[16].value("ok"), QJsonValue(true));  // quit; the reset after it never ran
}

TEST(CliServe, TheEndOfTheInputEndsTheSession) {
    WorkDir dir;
    const Outcome r = dir.run({"serve"}, {}, "read-all\nread 1 0x1D");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 3u) << r.out;
    const QJsonArray entries = a[1].value("entries").toArray();
    ASSERT_EQ(entries.size(), 40);
    EXPECT_EQ(entries[30].toObject().value("name").toString(), "DrvRegCh0");
    EXPECT_TRUE(entries[30].toObject().value("volts").isNull());
    EXPECT_EQ(a[2].value("addr").toInt(), 0x1D);
    // The console went to standard error.
    EXPECT_NE(r.err.find("Checking for FTDI devices..."), std::string::npos);
}

// Without a setup the image holds placeholders: what would send it or list
// it is refused, single words still reach the chip, and a setup loaded in
// the session lifts the refusal.
TEST(CliServe, WithoutASetupOnlySingleWordsReachTheChip) {
    WorkDir dir;
    fs::remove(dir / "Dac" / "kovra610_defaults.sbus");
    writeWhole(dir / "mine.sbus", readWhole(KOVRA610_DEFAULT_SETUP));
    const Outcome r = dir.run({"serve"}, {},
                              "level 0 3.3\n"
                              "set DRVFORCE Vh\n"
                              "read 1 0\n"
                              "read-all --fast\n"
                              "verify\n"
                              "write 1 1 0 5\n"
                              "read 1 0\n"
                              "load mine.sbus\n"
                              "level 0 3.3\n"
                              "read 1 0\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 11u) << r.out;
    for (std::size_t i : {1u, 2u, 4u, 5u}) EXPECT_EQ(a[i].value("ok"), QJsonValue(false)) << i;
    EXPECT_EQ(error(a[1]), "no setup loaded: nothing sent - load a setup file first");
    EXPECT_EQ(error(a[2]), error(a[1]));
    EXPECT_EQ(a[3].value("data").toInt(), 0);  // the refused level never reached the chip
    EXPECT_EQ(error(a[4]), "no setup loaded: no entry to read back - load a setup file first");
    EXPECT_EQ(error(a[5]), error(a[4]));
    EXPECT_EQ(a[7].value("data").toInt(), 5);
    EXPECT_EQ(a[8].value("ok"), QJsonValue(true));
    EXPECT_EQ(a[9].value("code").toInt(), 38010);
    EXPECT_EQ(a[10].value("data").toInt(), 38010);
}

}  // namespace
