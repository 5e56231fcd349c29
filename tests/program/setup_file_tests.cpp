#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <optional>

#include "codec/codec.h"
#include "program_fixture.h"
#include "recording_backend.h"
#include "setup_entry.h"

namespace kovra610::testing {
namespace {

namespace fs = std::filesystem;

// The image as start-up leaves it before anything is loaded.
void startUpImage() {
    sbus_structure = sbus_structure_initial_contents();
    sbus_set_startup_constants(&sbus_structure);
}

std::string record(const std::string& name, double volts, int addr, int rw, int ch, int data) {
    char text[700];
    std::snprintf(text, sizeof text, "%s ,%f ,%d,%d,%d,%d,", name.c_str(), volts, addr, rw, ch,
                  data);
    return text;
}

class SetupFileTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        startUpImage();
    }
    void load(const std::string& contents) {
        write_setup_file_to_sbus_structure(writeSetupFile("t.sbus", contents).c_str());
    }
    // A setup loaded, as a save needs one.
    void loadDefaults() { load(readFile(setupDir / "kovra610_defaults.sbus")); }
};

TEST_F(SetupFileTest, SixtyFourRecordsFillTheSpareEntriesToo) {
    std::string text;
    auto name = [](int i) { return std::string("R").append(std::to_string(i)); };
    for (int i = 0; i < 70; ++i) text += record(name(i), 0.5, i, 1, 2, 100 + i);
    load(text + "EOF");
    for (int i = 0; i < 64; ++i) {
        const bool converting = i == 8 || i == 9;
        expectEntry(sbus_structure, i,
                    {.name = name(i),
                     .addr = i,
                     .ch = 2,
                     .data = converting ? std::nullopt : std::optional<int>(100 + i)});
    }
    EXPECT_EQ(sbus_structure.data[8], 19660);  // the code of 0.5 V
}

TEST_F(SetupFileTest, OnlyTheEndMarkerChangesNothingButTheConvertedCodes) {
    const SBUS_STRUCTURE before = sbus_structure;
    load("EOF");
    for (int i = 0; i < 64; ++i) {
        EXPECT_STREQ(sbus_structure.name[i], before.name[i]);
        EXPECT_EQ(sbus_structure.volts[i], before.volts[i]);
        EXPECT_EQ(sbus_structure.data[i], (i == 8 || i == 9) ? 22937 : before.data[i]) << i;
    }
}

TEST_F(SetupFileTest, FewerRecordsLeaveTheRestAsTheyWere) {
    load(record("A", 2.0, 5, 0, 2, 77) + record("B", -1.0, 6, 1, 1, 88) + "EOF");
    expectEntry(sbus_structure, 0,
                {.name = "A", .volts = 2.0, .addr = 5, .rw = 0, .ch = 2, .data = 77});
    EXPECT_EQ(sbus_structure.data[1], 88);
    expectEntry(sbus_structure, 2, {.name = "", .data = 1});
}

TEST_F(SetupFileTest, LongNamesAreCutAndTheFollowingFieldsStillRead) {
    const std::string eighty(80, 'n');
    load(record(eighty + "tail beyond eighty", 1.5, 9, 1, 2, 4321) + record(eighty, 0, 1, 1, 1, 5) +
         "EOF");
    expectEntry(sbus_structure, 0, {.name = eighty, .volts = 1.5, .addr = 9, .data = 4321});
    EXPECT_EQ(std::string(sbus_structure.name[1]), eighty);
}

TEST_F(SetupFileTest, EmptyAndSloppyNumericFieldsReadAsTheStandardConversionsDo) {
    load("A ,,,,,,B ,  2.5volts , 7x,+1, -3,99999999999,C\n ,1e0 ,0x1F,1,1,12,EOF");
    expectEntry(sbus_structure, 0, {.volts = 0.0, .addr = 0, .data = 0});
    // the data saturates, never overflows
    expectEntry(sbus_structure, 1,
                {.volts = 2.5, .addr = 7, .rw = 1, .ch = -3, .data = 2147483647});
    // every character but the comma counts; "0x1F" in decimal is 0
    expectEntry(sbus_structure, 2, {.name = "C\n", .addr = 0});
}

TEST_F(SetupFileTest, DataWithoutTheEndMarkerEndsAtTheLastWholeRecord) {
    const std::string one = record(std::string(130, 'f'), 0.25, 3, 1, 1, 7);
    std::string text;
    while (text.size() < 7000) text += one;
    // 6096 bytes cut the file inside a record: the whole records before it
    // are read, the cut one is not used
    const size_t whole = 6096 / one.size();
    ASSERT_LT(whole, 64u);
    ASSERT_NE(6096 % one.size(), 0u);
    sbus_structure.addr[whole] = 55;
    load(text);
    for (size_t i = 0; i < whole; ++i) EXPECT_EQ(sbus_structure.addr[i], 3) << i;
    EXPECT_EQ(sbus_structure.addr[whole], 55);
    // a file that simply stops mid-record
    startUpImage();
    load(record("X", 1, 2, 1, 1, 3) + "Y ,1.0 ,4,1");
    EXPECT_STREQ(sbus_structure.name[0], "X");
    EXPECT_STREQ(sbus_structure.name[1], "");
    EXPECT_EQ(sbus_structure.addr[1], 1);
}

TEST_F(SetupFileTest, OverlongFieldsAndBinaryGarbageNeverOverflow) {
    load(std::string(3000, '7') + "," + std::string(600, ' ') + "1.25," + "2,1,1,9,EOF");
    EXPECT_EQ(std::strlen(sbus_structure.name[0]), 80u);
    EXPECT_EQ(sbus_structure.volts[0], 0.0);  // 511 blanks of a 600-blank field: no number
    EXPECT_EQ(sbus_structure.addr[0], 2);

    std::string garbage;
    for (int i = 0; i < 6200; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
    load(garbage);
    for (int i = 0; i < 64; ++i) EXPECT_LT(std::strlen(sbus_structure.name[i]), 81u);
    EXPECT_GE(sbus_structure.data[8], 0);
    EXPECT_LE(sbus_structure.data[8], 65535);
}

TEST_F(SetupFileTest, ConvertingEntriesTakeTheCodeOfTheirLevelSaturated) {
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += record("D", i == 8 ? 7.6 : (i == 9 ? -3.0 : 1.0), i, 1, 1, 5);
    load(text + "EOF");
    EXPECT_EQ(sbus_structure.data[7], 5);      // not converting: the file's code
    EXPECT_EQ(sbus_structure.data[8], 65535);  // 7.6 V does not wrap round to near -2.5 V
    EXPECT_EQ(sbus_structure.data[9], 0);
}

TEST_F(SetupFileTest, AReadOnlySetupFileLoadsLikeAnyOther) {
    const std::string path = writeSetupFile("ro.sbus", record("RO", 0.0, 4, 1, 2, 16384) + "EOF");
    chmod(path.c_str(), 0444);
    write_setup_file_to_sbus_structure(path.c_str());
    EXPECT_STREQ(sbus_structure.name[0], "RO");
    EXPECT_EQ(sbus_structure.addr[0], 4);
}

TEST_F(SetupFileTest, NofileIsExactAndCaseSensitive) {
    EXPECT_EQ(sbus_test_setup_write("NOFILE"), 1);
    EXPECT_STREQ(sbus_structure.name[1], "");
    // another spelling is a file name like any other (here a missing one)
    EXPECT_EQ(sbus_test_setup_write("NoFile"), 0);
}

TEST_F(ProgramTest, SaveThenLoadRestoresEverythingTheFormatKeeps) {
    runProgram([&] {
        // an operator's edits: a label with trailing blanks, a level, a ring
        driver::commit(panelHandle, GetCtrlArrayItem(LabelArr, 2), std::string("Trimmed   "));
        driver::commit(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, 4), 1.23456);
        driver::commit(panelHandle, DRVFORCE, 5);
        const SBUS_STRUCTURE edited = sbus_structure;

        for (int cycle = 0; cycle < 3; ++cycle) {
            const std::string path = (setupDir / "bench.sbus").string();
            driver::answerNextFilePopup(path);
            driver::press(panelHandle, SBUSLRN);
            EXPECT_EQ(driver::shownText(panelHandle, DAC1TEXTBOX), "bench.sbus");
            const std::string saved = readFile(path);
            EXPECT_EQ(saved.substr(saved.size() - 3), "EOF");

            // scramble the image, then load the file back
            for (int i = 0; i < 40; ++i) sbus_structure.data[i] = 7;
            board->chip().clearLists();
            driver::answerNextFilePopup(path);
            EXPECT_EQ(driver::press(panelHandle, SBUSSEL), 0);
            for (int i = 0; i < 40; ++i) {
                std::string name = edited.name[i];
                while (!name.empty() && name.back() == ' ') name.pop_back();
                EXPECT_EQ(sbus_structure.name[i], name) << i;
                EXPECT_NEAR(sbus_structure.volts[i], edited.volts[i], 5e-7) << i;
                EXPECT_EQ(sbus_structure.data[i], edited.data[i]) << i;
                EXPECT_EQ(sbus_structure.addr[i], edited.addr[i]) << i;
                EXPECT_EQ(sbus_structure.ch[i], edited.ch[i]) << i;
                EXPECT_EQ(chipValueOf(i), edited.data[i] & 0xFFFF) << i;
            }
            EXPECT_STREQ(sbus_structure.name[2], "Trimmed");
            EXPECT_EQ(driver::shownText(panelHandle, DAC1TEXTBOX), path);
        }
        // the dialogs were asked with the setup directory and their texts
        const auto calls = driver::filePopupCalls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - 2].title, "Save As");
        EXPECT_EQ(calls[calls.size() - 2].typeList, "*.sbus");
        EXPECT_EQ(calls.back().title, "Select SBUS Setup File");
        EXPECT_EQ(calls.back().directory, setupDir.string() + "/");
    });
}

TEST_F(ProgramTest, SavedFilesHoldTheEntriesInUseOrAllSixtyFour) {
    runProgram([&] {
        const std::string path = (setupDir / "forty.sbus").string();
        driver::answerNextFilePopup(path);
        driver::press(panelHandle, SBUSLRN);
        const std::string saved = readFile(path);
        EXPECT_EQ(std::count(saved.begin(), saved.end(), ','), 40 * 6);
        EXPECT_EQ(saved.rfind("DVH_Ch0 ,3.000000 ,0,1,1,36044,", 0), 0u);

        const fs::path elsewhere = workDir / "other" / "all.sbus";
        fs::create_directories(elsewhere.parent_path());
        write_structure_to_sbus_setupfile_pass_filename(elsewhere.c_str());
        const std::string all = readFile(elsewhere);
        EXPECT_EQ(std::count(all.begin(), all.end(), ','), 64 * 6);
        // a file outside the setup directory shows with its whole path
        EXPECT_EQ(driver::shownText(panelHandle, DAC1TEXTBOX), elsewhere.string());
    });
}

TEST_F(ProgramTest, AFileThatCannotBeCreatedIsReportedByEitherWriter) {
    runProgram([&] {
        const std::string bad = (workDir / "no-such-folder" / "x.sbus").string();
        driver::clearShownMessagePopups();
        driver::answerNextFilePopup(bad);
        driver::press(panelHandle, SBUSLRN);
        write_structure_to_sbus_setupfile_pass_filename(bad.c_str());
        const auto popups = driver::shownMessagePopups();
        ASSERT_EQ(popups.size(), 2u);
        for (const auto& p : popups) {
            EXPECT_EQ(p.title, "Error");
            EXPECT_EQ(p.message, "Unable to Create  " + bad);
        }
        EXPECT_EQ(driver::shownText(panelHandle, DAC1TEXTBOX),
                  (setupDir / "kovra610_defaults.sbus").string());
    });
}

// A save writes the file it is given: through a link into the file it
// names, into every name of a file with several, keeping an existing
// file's mode; a new file gets 0666 less the umask.
TEST_F(SetupFileTest, SavingWritesTheFileItIsGiven) {
    loadDefaults();
    const fs::path real = workDir / "real.sbus", link = setupDir / "link.sbus";
    writeSetupFile(real.string(), "old");
    fs::create_symlink("../real.sbus", link);
    fs::create_hard_link(real, workDir / "also.sbus");
    write_structure_to_sbus_setupfile_pass_filename(link.c_str());
    EXPECT_EQ(readFile(workDir / "also.sbus"), readFile(real));
    fs::remove(workDir / "also.sbus");
    chmod(real.c_str(), 0600);
    write_structure_to_sbus_setupfile_pass_filename(link.c_str());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(real).permissions(), fs::perms(0600));
    const mode_t previous = umask(0007);
    write_structure_to_sbus_setupfile_pass_filename((setupDir / "new.sbus").c_str());
    umask(previous);
    EXPECT_EQ(fs::status(setupDir / "new.sbus").permissions(), fs::perms(0660));
    EXPECT_EQ(readFile(real), readFile(setupDir / "new.sbus"));
    EXPECT_TRUE(driver::shownMessagePopups().empty());
}

// Saves `path` in a child process made ready by `prepare` (false: it could
// not be): 0 saved, 1 the "Unable to Create" popup.
int savedInChild(const fs::path& path, const std::function<bool()>& prepare) {
    const pid_t child = fork();
    if (child == 0) {
        if (!prepare()) _exit(9);
        driver::clearShownMessagePopups();
        write_structure_to_sbus_setupfile_pass_filename(path.c_str());
        const auto popups = driver::shownMessagePopups();
        if (popups.empty()) _exit(0);
        _exit(popups[0].title == "Error" &&
                      popups[0].message == "Unable to Create  " + path.string()
                  ? 1
                  : 8);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Saves `path` as an ordinary user (root, who may write any file, drops to
// `user`).
int savedByOrdinaryUser(const fs::path& path, uid_t user, gid_t group) {
    return savedInChild(path, [&] {
        return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(group) == 0 &&
                                  setuid(user) == 0 && geteuid() != 0);
    });
}

// A save that fails part-way, here at a file-size limit, says so and
// leaves the file it was to replace byte for byte, with nothing beside it.
TEST_F(SetupFileTest, ASaveThatFailsPartWayLeavesTheOldFileAsItWas) {
    loadDefaults();
    const std::string old = record("DVH_Ch0", 1.0, 0, 1, 1, 22937) + "EOF";
    const fs::path path = writeSetupFile("kept.sbus", old);
    std::vector<fs::path> before;
    for (const auto& entry : fs::directory_iterator(setupDir)) before.push_back(entry.path());

    EXPECT_EQ(savedInChild(path,
                           [] {
                               // The write past the limit fails with EFBIG.
                               std::signal(SIGXFSZ, SIG_IGN);
                               const rlimit limit{1024, 1024};
                               return setrlimit(RLIMIT_FSIZE, &limit) == 0;
                           }),
              1);
    EXPECT_EQ(readFile(path), old);
    std::vector<fs::path> after;
    for (const auto& entry : fs::directory_iterator(setupDir)) after.push_back(entry.path());
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
}

// A file the user may not write is left untouched and the save fails with
// the popup; a file the user may write, in a folder the user may not
// write, is written in place.
TEST_F(SetupFileTest, SavingAsAnOrdinaryUserWritesOnlyWhatTheUserMayWrite) {
    loadDefaults();
    const passwd* nobody = getpwnam("nobody");
    const bool root = geteuid() == 0;
    const uid_t user = !root ? geteuid() : nobody != nullptr ? nobody->pw_uid : 65534;
    const gid_t group = !root ? getegid() : nobody != nullptr ? nobody->pw_gid : 65534;
    const fs::path mine = workDir / "mine", locked = workDir / "locked";
    const fs::path readOnly = mine / "ro.sbus", inPlace = locked / "w.sbus";
    fs::create_directories(mine);
    fs::create_directories(locked);
    writeSetupFile(readOnly.string(), "kept");
    writeSetupFile(inPlace.string(), "old");
    chmod(workDir.c_str(), 0755);
    chmod(readOnly.c_str(), 0444);
    for (const fs::path& p : {mine, readOnly, inPlace}) ASSERT_EQ(chown(p.c_str(), user, group), 0);
    chmod(locked.c_str(), 0555);
    struct stat before {};
    stat(inPlace.c_str(), &before);

    EXPECT_EQ(savedByOrdinaryUser(readOnly, user, group), 1);
    EXPECT_EQ(readFile(readOnly), "kept");
    EXPECT_EQ(fs::status(readOnly).permissions(), fs::perms(0444));
    EXPECT_EQ(savedByOrdinaryUser(inPlace, user, group), 0);
    struct stat after {};
    stat(inPlace.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    write_structure_to_sbus_setupfile_pass_filename((workDir / "reference.sbus").c_str());
    EXPECT_EQ(readFile(inPlace), readFile(workDir / "reference.sbus"));
    chmod(locked.c_str(), 0755);
}

TEST_F(ProgramTest, CancelledDialogsChangeNothing) {
    runProgram([&] {
        const SBUS_STRUCTURE before = sbus_structure;
        board->chip().clearLists();
        driver::answerNextFilePopup("");
        EXPECT_EQ(driver::press(panelHandle, SBUSSEL), 1);
        driver::answerNextFilePopup("");
        EXPECT_EQ(driver::press(panelHandle, SBUSLRN), 0);
        EXPECT_EQ(std::memcmp(&before, &sbus_structure, sizeof before), 0);
        EXPECT_TRUE(board->chip().words().empty());
        EXPECT_EQ(std::distance(fs::directory_iterator(setupDir), fs::directory_iterator()), 1);
    });
}

TEST_F(ProgramTest, NamesWithCommasAndDecimalCommaLocalesKeepTheFileReadable) {
    runProgram([&] {
        driver::commit(panelHandle, GetCtrlArrayItem(LabelArr, 0), std::string("VH, ch0"));
        const char* comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        const std::string path = (setupDir / "c.sbus").string();
        driver::answerNextFilePopup(path);
        driver::press(panelHandle, SBUSLRN);
        std::setlocale(LC_NUMERIC, "C");
        const std::string saved = readFile(path);
        EXPECT_EQ(saved.rfind("VH; ch0 ,3.000000 ,0,1,1,36044,", 0), 0u) << saved.substr(0, 60);
        if (comma == nullptr) GTEST_LOG_(INFO) << "no decimal-comma locale here";
    });
}

}  // namespace
}  // namespace kovra610::testing

namespace kovra610::testing {
namespace {

TEST_F(SetupFileTest, ASavedFileTooLongToLoadBackWhollyIsSaidOnTheConsole) {
    loadDefaults();
    for (int i = 0; i < 64; ++i) sbus_set_name(&sbus_structure, i, std::string(80, 'x').c_str());
    const std::string path = (setupDir / "long.sbus").string();
    std::string console;
    {
        StdoutCapture out;
        write_structure_to_sbus_setupfile_pass_filename(path.c_str());
        console = out.text();
    }
    const std::string size = std::to_string(std::filesystem::file_size(path));
    EXPECT_EQ(console, "Setup file " + path + " is " + size +
                           " bytes: records past its first 6096 bytes will not load back\n");
}

}  // namespace
}  // namespace kovra610::testing
