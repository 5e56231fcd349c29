// The panel's session log (KOVRA610_LOG): what an operator did at the panel,
// on record, and a log that cannot be written stopping the program before
// the board is touched.
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "program_fixture.h"

namespace kovra610::testing {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class SessionLogTest : public ProgramTest {
protected:
    void TearDown() override {
        ::unsetenv("KOVRA610_LOG");
        ProgramTest::TearDown();
    }
};

TEST_F(SessionLogTest, EachActionItsOutcomeAndEverySetupFileAreOnRecord) {
    board = std::make_shared<vboard::VirtualBoard>("PANEL1");
    d2xx::installBackend(board);
    const auto log = workDir / "bench.jsonl";
    ::setenv("KOVRA610_LOG", log.c_str(), 1);
    const std::string saved = (setupDir / "lot7.sbus").string();
    runProgram([&] {
        driver::press(panelHandle, ALL_2);
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 0), 3.3);
        driver::answerNextFilePopup(saved);
        driver::press(panelHandle, SBUSLRN);
        driver::answerNextFilePopup(saved);
        driver::press(panelHandle, SBUSSEL);
        board->faults().pullCable();
        driver::press(panelHandle, ALL);
    });

    std::vector<std::string> events;
    Pairs files, actions;
    std::ifstream in(log);
    std::string text;
    auto sha256Of = [](const std::filesystem::path& path) {
        return QCryptographicHash::hash(QByteArray::fromStdString(readFile(path)),
                                        QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    };
    while (std::getline(in, text)) {
        const QJsonObject line = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
        auto get = [&](const char* key) { return line.value(key).toString().toStdString(); };
        events.push_back(get("event"));
        EXPECT_EQ(get("board"), "usb");  // KOVRA610_BOARD is not set here
        if (events.back() == "start") {
            EXPECT_EQ(get("tool") + " " + get("version"), "kovra610 " KOVRA610_VERSION);
        }
        if (events.back() == "start-up") {
            EXPECT_TRUE(line.value("ok").toBool());
            EXPECT_EQ(get("serial") + ", " + get("name"), "PANEL1, VIRTUAL PANEL1");
        }
        if (events.back() == "setup-file") files.emplace_back(get("path"), get("sha256"));
        if (events.back() == "action") actions.emplace_back(get("action"), get("outcome"));
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "start");
    EXPECT_EQ(events.back(), "end");
    const auto defaults = setupDir / "kovra610_defaults.sbus";
    EXPECT_EQ(files, (Pairs{{defaults.string(), sha256Of(defaults)}, {saved, sha256Of(saved)}}));
    ASSERT_EQ(actions.size(), 6u);  // ... and "Exit"
    EXPECT_EQ(actions[0], Pairs::value_type("Read all Regs", "done"));
    EXPECT_EQ(actions[1], Pairs::value_type("DVH_Ch0 VOLTAGE", "done"));
    EXPECT_EQ(actions[4], Pairs::value_type("Write All Reg", "link lost"));
}

TEST_F(SessionLogTest, ALogThatCannotBeWrittenEndsTheProgramBeforeTheBoardIsTouched) {
    const auto log = workDir / "no such folder" / "bench.jsonl";
    ::setenv("KOVRA610_LOG", log.c_str(), 1);
    static char arg0[] = "kovra610";
    static char* argv[] = {arg0, nullptr};
    EXPECT_EQ(kovra610_main(1, argv), 2);
    const auto popups = driver::shownMessagePopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Session log");
    EXPECT_NE(popups[0].message.find(log.string()), std::string::npos) << popups[0].message;
    EXPECT_EQ(board->portConfig(0).openCount, 0u);
}

}  // namespace
}  // namespace kovra610::testing
