// The panel's session log (KOVRA610_LOG): what an operator did at the panel,
// on record, and a log that cannot be written stopping the program before
// the board is touched.
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "program_fixture.h"

namespace kovra610::testing {
namespace {

std::vector<QJsonObject> logLines(const std::filesystem::path& path) {
    std::vector<QJsonObject> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        EXPECT_TRUE(document.isObject()) << line;
        lines.push_back(document.object());
    }
    return lines;
}

std::string sha256Of(const std::filesystem::path& path) {
    return QCryptographicHash::hash(QByteArray::fromStdString(readFile(path)),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string text(const QJsonObject& line, const char* key) {
    return line.value(key).toString().toStdString();
}

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

    const auto lines = logLines(log);
    ASSERT_GE(lines.size(), 4u);
    std::vector<std::string> events;
    const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
    for (const QJsonObject& line : lines) {
        events.push_back(text(line, "event"));
        EXPECT_TRUE(time.match(line.value("time").toString()).hasMatch()) << text(line, "time");
        EXPECT_EQ(text(line, "board"), "usb");  // KOVRA610_BOARD is not set here
    }
    EXPECT_EQ(text(lines[0], "tool"), "kovra610");
    EXPECT_EQ(text(lines[0], "version"), KOVRA610_VERSION);

    const auto startUp = std::find(events.begin(), events.end(), "start-up") - events.begin();
    ASSERT_LT(startUp, static_cast<long>(lines.size()));
    EXPECT_TRUE(lines[startUp].value("ok").toBool());
    EXPECT_EQ(text(lines[startUp], "serial"), "PANEL1");
    EXPECT_EQ(text(lines[startUp], "name"), "VIRTUAL PANEL1");

    std::vector<std::pair<std::string, std::string>> files, actions;
    for (const QJsonObject& line : lines) {
        if (text(line, "event") == "setup-file")
            files.emplace_back(text(line, "path"), text(line, "sha256"));
        if (text(line, "event") == "action")
            actions.emplace_back(text(line, "action"), text(line, "outcome"));
    }
    const auto defaults = setupDir / "kovra610_defaults.sbus";
    EXPECT_EQ(files, (std::vector<std::pair<std::string, std::string>>{
                         {defaults.string(), sha256Of(defaults)}, {saved, sha256Of(saved)}}));
    ASSERT_EQ(actions.size(), 6u);
    EXPECT_EQ(actions[0], std::make_pair(std::string("Read all Regs"), std::string("done")));
    EXPECT_EQ(actions[1], std::make_pair(std::string("DVH_Ch0 VOLTAGE"), std::string("done")));
    EXPECT_EQ(actions[4], std::make_pair(std::string("Write All Reg"), std::string("link lost")));
    EXPECT_EQ(events.back(), "end");
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
    EXPECT_FALSE(std::filesystem::exists(log));
}

}  // namespace
}  // namespace kovra610::testing
