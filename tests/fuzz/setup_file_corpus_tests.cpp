// The setup-file reader on every file of the fuzz corpus: the image stays
// sound and survives a save and load for all of them, and the files that
// stand for a known case give the entries that case calls for.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "setup_reader_checks.h"
#include "tests/support/setup_entry.h"

namespace {

using kovra610::testing::expectEntry;

namespace fs = std::filesystem;

const fs::path kCorpus = SETUP_CORPUS_DIR;

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads a corpus file into the start-up image and returns the result.
SBUS_STRUCTURE load(const std::string& name) {
    panelHandle = 0;  // no panel: the file name shown goes nowhere
    sbus_structure = setup_checks::startup_image();
    write_setup_file_to_sbus_structure((kCorpus / name).c_str());
    return sbus_structure;
}

int code(double volts) {
    const SBUS_STRUCTURE image = setup_checks::startup_image();
    return sbus_volts_to_code(volts, &image.dac_scale[0]);
}

void expectUntouchedFrom(const SBUS_STRUCTURE& image, int first) {
    const SBUS_STRUCTURE fresh = setup_checks::startup_image();
    for (int i = first; i < SBUS_MAX_REGISTERS; ++i) {
        if (i == 8 || i == 9) continue;
        EXPECT_TRUE(setup_checks::same_entry(fresh, image, i)) << "entry " << i;
    }
}

TEST(SetupFileCorpus, EveryFileLeavesASoundImageThatSurvivesSaveAndLoad) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kCorpus))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 10u);

    const std::string saveFile =
        (fs::temp_directory_path() / ("setup-corpus-" + std::to_string(getpid()) + ".sbus"))
            .string();
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = bytesOf(file);
        const SBUS_STRUCTURE before = setup_checks::startup_image();
        panelHandle = 0;
        sbus_structure = before;
        write_setup_file_to_sbus_structure(file.c_str());
        const int records = setup_checks::whole_records(bytes.data(), bytes.size());
        for (const std::string& fault : setup_checks::image_faults(before, sbus_structure, records))
            ADD_FAILURE() << fault;
        for (const std::string& fault : setup_checks::round_trip_faults(saveFile))
            ADD_FAILURE() << fault;
    }
}

TEST(SetupFileCorpus, WholeFilesFillTheirEntries) {
    SBUS_STRUCTURE image = load("valid_40_records.sbus");
    expectEntry(image, 0, {.name = "DVH_Ch0", .data = 36044});
    expectEntry(image, 39, {.name = "Load Reg", .addr = 27, .ch = 2});
    EXPECT_EQ(image.data[8], code(5.0));
    EXPECT_EQ(image.data[9], code(-1.0));
    expectUntouchedFrom(image, 40);

    // Without the end marker the data simply ends after the last record.
    const SBUS_STRUCTURE noMarker = load("no_eof.sbus");
    for (int i = 0; i < SBUS_MAX_REGISTERS; ++i)
        EXPECT_TRUE(setup_checks::same_entry(image, noMarker, i)) << "entry " << i;

    image = load("records_64.sbus");
    EXPECT_STREQ(image.name[40], "Spare40");
    expectEntry(image, 63, {.name = "Spare63", .volts = 15.75, .addr = 103, .ch = 3, .data = 1063});
}

TEST(SetupFileCorpus, FilesWithoutRecordsOnlyRemakeTheConvertedCodes) {
    for (const char* name : {"only_eof.sbus", "empty.sbus", "marker_past_limit.sbus"}) {
        SCOPED_TRACE(name);
        const SBUS_STRUCTURE image = load(name);
        expectUntouchedFrom(image, 0);
        EXPECT_EQ(image.data[8], code(1.0));
        EXPECT_EQ(image.data[9], code(1.0));
    }
}

TEST(SetupFileCorpus, OverlongTextIsCutAndTheFollowingFieldsStillLineUp) {
    SBUS_STRUCTURE image = load("name_over_80.sbus");
    expectEntry(
        image, 0,
        {.name = std::string(80, 'N'), .volts = 2.5, .addr = 7, .rw = 1, .ch = 2, .data = 4242});
    expectEntry(image, 1, {.name = "Next", .addr = 8, .rw = 0});

    // Fields of 550 to 700 characters: the number fields saturate, the
    // record's short fields and the next record are read as written.
    image = load("fields_over_511.sbus");
    expectEntry(
        image, 0,
        {.name = std::string(80, 'A'), .addr = INT_MAX, .rw = 1, .ch = INT_MIN, .data = 77});
    expectEntry(image, 1, {.name = "Short", .volts = 0.5, .data = 100});
    expectUntouchedFrom(image, 2);
}

TEST(SetupFileCorpus, EmptyAndOddNumberFields) {
    SBUS_STRUCTURE image = load("empty_numeric_fields.sbus");
    expectEntry(image, 0, {.name = "Blank", .volts = 0.0, .addr = 0, .rw = 0, .ch = 0, .data = 0});
    expectEntry(image, 1, {.name = "Half", .rw = 1, .ch = 0, .data = 5});

    image = load("extreme_numbers.sbus");
    // data "0x1F": the number ends at the x
    expectEntry(image, 0, {.addr = INT_MAX, .rw = INT_MIN, .ch = 7, .data = 0});
    EXPECT_TRUE(std::isnan(image.volts[1]));
    EXPECT_TRUE(std::isinf(image.volts[2]));
    EXPECT_TRUE(std::isinf(image.volts[4]));
    // Levels beyond the converter's span give its end codes, never a code
    // that would wrap on the wire.
    EXPECT_STREQ(image.name[8], "Clamp8");
    EXPECT_EQ(image.data[8], 65535);
    EXPECT_EQ(image.data[9], 0);

    // A decimal comma splits the level; the fields after it move along by one.
    image = load("decimal_comma.sbus");
    expectEntry(image, 0, {.volts = 1.0, .addr = 5, .rw = 3, .data = 1});
    expectUntouchedFrom(image, 1);
}

TEST(SetupFileCorpus, BlanksBreaksAndNulsInNames) {
    SBUS_STRUCTURE image = load("blanks_and_breaks.sbus");
    expectEntry(
        image, 0,
        {.name = "  Lead and trail", .volts = 1.5, .addr = 3, .rw = 1, .ch = 2, .data = -4});
    EXPECT_STREQ(image.name[1], "Two\r\n");

    image = load("embedded_nul.sbus");
    expectEntry(image, 0, {.name = "Ab", .addr = 3, .data = 10});
}

TEST(SetupFileCorpus, ReadingStopsAtTheMarkerTheLimitOrACutRecord) {
    // A record named "EOF..." is the end marker.
    SBUS_STRUCTURE image = load("eof_named_record.sbus");
    EXPECT_STREQ(image.name[0], "Zero");
    expectUntouchedFrom(image, 1);

    // A record cut off by the end of the file is not used.
    image = load("cut_mid_record.sbus");
    EXPECT_STREQ(image.name[7], "IOL_Ch0");
    expectUntouchedFrom(image, 8);

    // Only the first 6096 bytes count: the records wholly inside them.
    const std::string bytes = bytesOf(kCorpus / "over_6096_bytes.sbus");
    ASSERT_GT(bytes.size(), 6096u);
    const size_t lastComma = bytes.rfind(',', 6095);
    size_t commas = std::count(bytes.begin(), bytes.begin() + lastComma + 1, ',');
    const int inside = static_cast<int>(commas / 6);
    ASSERT_GT(inside, 0);
    ASSERT_LT(inside, 64);
    image = load("over_6096_bytes.sbus");
    char expected[24];
    std::snprintf(expected, sizeof expected, "Filler%05d", inside - 1);
    EXPECT_EQ(std::string(image.name[inside - 1]).substr(0, 11), expected);
    EXPECT_EQ(std::strlen(image.name[inside - 1]), 80u);
    expectUntouchedFrom(image, inside);
}

}  // namespace
