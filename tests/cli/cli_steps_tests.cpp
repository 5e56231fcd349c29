// Reading kovra610-cli's command line and bench scripts.
#include <gtest/gtest.h>

#include "app/cli/cli.h"
#include "app/core/setup_files.h"
#include "cli_process.h"
#include "platform/text/text_lines.h"

using namespace kovra610::cli;
using namespace kovra610::text;
using kovra610::cli::testing::WorkDir;
using kovra610::cli::testing::writeWhole;

namespace {

// Two register fields as a panel would describe them.
PanelFields panelFields() {
    PanelFields f;
    f.fields.push_back(
        {"DRVFORCE", 156, "DRVREG", 1, {0, 1, 3, 5, 7}, {"Data / Rcv", "Vl", "Vh", "HiZ", "Vt"}});
    f.fields.push_back(
        {"ALMTHRES", 26, "ALARMREG", 3, {0, 1}, {"  0 DegC  - 000 ", "  25 DegC - 001"}});
    return f;
}
const PanelFields kFields = panelFields();

Parsed parse(std::vector<std::string> args) {
    return parseCommandLine(args, kFields);
}

TEST(CliNumbers, DecimalAndHexWithinTheirLimits) {
    EXPECT_EQ(parseNumber("0", 127), 0u);
    EXPECT_EQ(parseNumber("127", 127), 127u);
    EXPECT_EQ(parseNumber("0x7F", 127), 127u);
    EXPECT_EQ(parseNumber("0XfF", 255), 255u);
    EXPECT_EQ(parseNumber("0xFFFF", 65535), 65535u);
    EXPECT_EQ(parseNumber("007", 127), 7u);  // leading zeros are decimal, not octal

    EXPECT_FALSE(parseNumber("128", 127));
    EXPECT_FALSE(parseNumber("0x80", 127));
    EXPECT_FALSE(parseNumber("65536", 65535));
    EXPECT_FALSE(parseNumber("99999999999999999999999", 65535));  // no wrap-around
    EXPECT_FALSE(parseNumber("", 10));
    EXPECT_FALSE(parseNumber("0x", 10));
    EXPECT_FALSE(parseNumber("-1", 10));
    EXPECT_FALSE(parseNumber("+1", 10));
    EXPECT_FALSE(parseNumber("1a", 255));
    EXPECT_FALSE(parseNumber("0x1g", 255));
    EXPECT_FALSE(parseNumber(" 1", 10));
    EXPECT_FALSE(parseNumber("1.0", 10));
}

TEST(CliNumbers, Volts) {
    EXPECT_EQ(parseDecimal("1.25"), 1.25);
    EXPECT_EQ(parseDecimal("-2.5"), -2.5);
    EXPECT_EQ(parseDecimal("7"), 7.0);
    EXPECT_EQ(parseDecimal(".5"), 0.5);
    EXPECT_FALSE(parseDecimal(""));
    EXPECT_FALSE(parseDecimal("1,25"));  // never a decimal comma
    EXPECT_FALSE(parseDecimal("1.2V"));
    EXPECT_FALSE(parseDecimal("nan"));
    EXPECT_FALSE(parseDecimal("inf"));
    EXPECT_FALSE(parseDecimal("1e400"));
}

TEST(CliScriptLines, WordsQuotesAndComments) {
    std::vector<std::string> words;
    ASSERT_TRUE(splitWords("  level\t3   1.25  ", &words));
    EXPECT_EQ(words, (std::vector<std::string>{"level", "3", "1.25"}));
    ASSERT_TRUE(splitWords("load \"my setup.sbus\" # the bench's", &words));
    EXPECT_EQ(words, (std::vector<std::string>{"load", "my setup.sbus"}));
    ASSERT_TRUE(splitWords("save \"a#b.sbus\"", &words));
    EXPECT_EQ(words, (std::vector<std::string>{"save", "a#b.sbus"}));
    ASSERT_TRUE(splitWords("# only a comment", &words));
    EXPECT_TRUE(words.empty());
    EXPECT_FALSE(splitWords("load \"unclosed.sbus", &words));
}

TEST(CliCommandLine, EachSubCommandWithItsArguments) {
    const Parsed p =
        parse({"load",     "a.sbus", "level", "3",    "1.25",     "code",
               "0x1D",     "0xFFFF", "write", "3",    "1",        "0x1D",
               "12",       "read",   "2",     "0x1A", "bits",     "11001110110000000000001100",
               "ovd-mask", "reset",  "clock", "59",   "read-all", "save",
               "b.sbus"});
    ASSERT_TRUE(p.invocation) << p.error;
    const std::vector<Step>& s = p.invocation->steps;
    ASSERT_EQ(s.size(), 11u);
    EXPECT_EQ(s[0].kind, StepKind::Load);
    EXPECT_EQ(s[0].path, "a.sbus");
    EXPECT_EQ(s[0].label, "1 (load a.sbus)");
    EXPECT_EQ(s[1].kind, StepKind::Level);
    EXPECT_EQ(s[1].row, 3u);
    EXPECT_EQ(s[1].volts, 1.25);
    EXPECT_EQ(s[2].kind, StepKind::Code);
    EXPECT_EQ(s[2].row, 29u);
    EXPECT_EQ(s[2].code, 65535u);
    EXPECT_EQ(s[3].kind, StepKind::Write);
    EXPECT_EQ(s[3].ch, 3u);
    EXPECT_EQ(s[3].rw, 1u);
    EXPECT_EQ(s[3].addr, 29u);
    EXPECT_EQ(s[3].data, 12u);
    EXPECT_EQ(s[3].label, "4 (write 3 1 0x1D 12)");
    EXPECT_EQ(s[4].kind, StepKind::Read);
    EXPECT_EQ(s[4].ch, 2u);
    EXPECT_EQ(s[4].addr, 26u);
    EXPECT_EQ(s[5].bits, "11001110110000000000001100");
    EXPECT_EQ(s[6].kind, StepKind::OvdMask);
    EXPECT_EQ(s[7].kind, StepKind::Reset);
    EXPECT_EQ(s[8].divisor, 59u);
    EXPECT_EQ(s[9].kind, StepKind::ReadAll);
    EXPECT_EQ(s[10].kind, StepKind::Save);
    EXPECT_FALSE(p.invocation->json);
}

TEST(CliCommandLine, OptionsAnywhereBetweenSubCommands) {
    const Parsed p = parse({"read-all", "--json", "reset"});
    ASSERT_TRUE(p.invocation) << p.error;
    EXPECT_TRUE(p.invocation->json);
    EXPECT_EQ(p.invocation->steps.size(), 2u);
    EXPECT_EQ(p.invocation->steps[1].label, "2 (reset)");
    const Parsed help = parse({"--help"});
    ASSERT_TRUE(help.invocation);
    EXPECT_EQ(help.invocation->mode, Mode::Help);
    EXPECT_EQ(parse({"--version"}).invocation->mode, Mode::Version);
    EXPECT_EQ(parse({"serve"}).invocation->mode, Mode::Serve);
}

TEST(CliCommandLine, RegisterFieldsByNameAndByValueOrCaption) {
    const Parsed p = parse({"set", "drvforce", "Vh", "set", "DRVFORCE", "5", "set", "ALMTHRES",
                            "25 DegC - 001", "get", "AlmThres", "channels", "3", "channels", "2"});
    ASSERT_TRUE(p.invocation) << p.error;
    const std::vector<Step>& s = p.invocation->steps;
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0].field->control, 156);
    EXPECT_EQ(s[0].value, 3);
    EXPECT_EQ(s[1].value, 5);
    EXPECT_EQ(s[2].value, 1);
    EXPECT_EQ(s[3].kind, StepKind::Get);
    EXPECT_EQ(s[3].field->name, "ALMTHRES");
    EXPECT_EQ(s[4].value, 0);  // both channels: "RW Ch0/Ch1"
    EXPECT_EQ(s[5].value, 2);  // channel 1 alone: "RW CH1"
}

TEST(CliServeLines, OneStepPerLineAndTheSessionCommands) {
    Parsed p = parseServeLine("  set DRVFORCE \"Vt\"  ", kFields);
    ASSERT_TRUE(p.invocation) << p.error;
    EXPECT_EQ(p.invocation->steps[0].value, 7);
    EXPECT_EQ(p.invocation->steps[0].label, "set DRVFORCE \"Vt\"");
    EXPECT_EQ(parseServeLine("reopen", kFields).invocation->steps[0].kind, StepKind::Reopen);
    EXPECT_EQ(parseServeLine("quit", kFields).invocation->steps[0].kind, StepKind::Quit);
    EXPECT_NE(parseServeLine("script x.txt", kFields).error.find("not a command of serve"),
              std::string::npos);
    EXPECT_NE(parseServeLine("reset reset", kFields).error.find("usage: reset"), std::string::npos);
    EXPECT_NE(parse({"reopen"}).error.find("a command of serve"), std::string::npos);
    EXPECT_NE(parse({"reset", "serve"}).error.find("serve runs alone"), std::string::npos);
}

// Why a file cannot be loaded as a setup file, as the CLI checks it.
std::string setupProblem(const std::filesystem::path& path) {
    return sbus_setup_file_problem(path.c_str());
}

TEST(CliSetupFiles, OnlyAFileStartingWithASetupRecordLoads) {
    WorkDir dir;
    writeWhole(dir / "good.sbus", "DVH_Ch0 ,3.000000 ,0,1,1,36044,EOF");
    writeWhole(dir / "script.txt", "level 3 1.25\nread-all\n");
    writeWhole(dir / "empty.sbus", "");
    writeWhole(dir / "eof.sbus", "EOF");
    EXPECT_EQ(setupProblem(dir / "good.sbus"), "");
    EXPECT_EQ(setupProblem(dir / "Dac" / "kovra610_defaults.sbus"), "");
    for (const char* name : {"script.txt", "empty.sbus", "eof.sbus"})
        EXPECT_NE(setupProblem(dir / name).find("no setup record"), std::string::npos) << name;
    // What the program's reader takes a record from, the command line
    // accepts: empty or odd number fields read as 0 at the panel too.
    writeWhole(dir / "blank_numbers.sbus", "DVH_Ch0 ,,,,,,EOF");
    writeWhole(dir / "hex_address.sbus", "DVH_Ch0 ,3.0 ,0x19,1,1,5,EOF");
    EXPECT_EQ(setupProblem(dir / "blank_numbers.sbus"), "");
    EXPECT_EQ(setupProblem(dir / "hex_address.sbus"), "");
    EXPECT_EQ(setupProblem(dir / "missing.sbus"), "no such file");
    EXPECT_NE(setupProblem(dir.path()).find("not a regular file"), std::string::npos);

    const Parsed p = parse({"reset", "load", "NOFILE", "load", (dir / "script.txt").string()});
    ASSERT_TRUE(p.invocation);
    const auto problem = checkSetupFiles(p.invocation->steps);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->rfind("step 3 (load ", 0), 0u) << *problem;
}

TEST(CliCommandLine, ErrorsNameTheStepAndWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{}, "no sub-command given (see --help)"},
        {{"--json"}, "no sub-command given (see --help)"},
        {{"reset", "frobnicate"}, "step 2 (frobnicate): unknown sub-command \"frobnicate\""},
        {{"--verbose"}, "step 1 (--verbose): unknown option \"--verbose\""},
        {{"write", "0", "1", "2", "3"}, "step 1 (write 0 1 2 3): CH must be 1..3"},
        {{"write", "4", "1", "2", "3"}, "step 1 (write 4 1 2 3): CH must be 1..3"},
        {{"write", "1", "2", "2", "3"}, "RW must be 0..1"},
        {{"write", "1", "1", "128", "3"}, "ADDR must be 0..127"},
        {{"write", "1", "1", "0x19", "65536"}, "DATA must be 0..65535"},
        {{"write", "1", "1", "0x19"}, "step 1 (write 1 1 0x19): usage: write CH RW ADDR DATA"},
        {{"read", "1"}, "usage: read CH ADDR"},
        {{"read", "1", "x"}, "ADDR must be 0..127 (decimal or 0x hex), not \"x\""},
        {{"clock", "60"}, "DIVISOR must be 0..59"},
        {{"level", "32", "1.0"}, "ROW must be 0..29"},
        {{"level", "30", "1.0"}, "ROW 30 has no DAC entry"},
        {{"code", "31", "0"}, "ROW 31 has no DAC entry"},
        {{"set", "DRVFORCE", "2"}, "VALUE of DRVFORCE must be one of 0 \"Data / Rcv\", 1 \"Vl\""},
        {{"set", "DRVFORCE", "vh"}, "not \"vh\""},
        {{"set", "MODECHSEL", "0"}, "FIELD must be one of the panel's register fields (DRVFORCE"},
        {{"get"}, "usage: get FIELD"},
        {{"channels", "0"}, "channels must be 1..3"},
        {{"read-all", "--slow"}, "unknown option \"--slow\""},
        {{"level", "3", "7.6"}, "VOLTS must be a level from -2.5 to 7.5"},
        {{"level", "3", "-2.51"}, "VOLTS must be a level from -2.5 to 7.5"},
        {{"code", "3", "70000"}, "CODE must be 0..65535"},
        {{"bits", "1100111011000000000000110"}, "exactly 26 characters"},  // 25
        {{"bits", "110011101100000000000011000"}, "exactly 26 characters"},
        {{"bits", "1100111011000000000000110x"}, "exactly 26 characters"},
        {{"load"}, "usage: load FILE"},
        {{"load", ""}, "the file name is empty"},
        {{"script"}, "usage: script FILE"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_FALSE(p.invocation) << c.error;
        EXPECT_NE(p.error.find(c.error), std::string::npos)
            << "expected \"" << c.error << "\" in \"" << p.error << "\"";
    }
}

TEST(CliScripts, LinesBecomeStepsLabelledWithTheirLine) {
    WorkDir dir;
    writeWhole(dir / "bench.txt",
               "# bench sequence\r\n"
               "load \"Dac/my setup.sbus\"\r\n"
               "\n"
               "   level 0 2.0   # DVH\n"
               "read-all");
    const Parsed p = parse({"reset", "script", (dir / "bench.txt").string(), "save", "x.sbus"});
    ASSERT_TRUE(p.invocation) << p.error;
    const std::vector<Step>& s = p.invocation->steps;
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[1].path, "Dac/my setup.sbus");
    const std::string script = "2 (script " + (dir / "bench.txt").string() + ")";
    // Quoted as written, so that the label and the logged command read back
    // as the same words.
    EXPECT_EQ(s[1].label, script + ", line 2 (load \"Dac/my setup.sbus\")");
    EXPECT_EQ(s[1].text, "load \"Dac/my setup.sbus\"");
    EXPECT_EQ(s[2].label, script + ", line 4 (level 0 2.0)");
    EXPECT_EQ(s[3].kind, StepKind::ReadAll);
    EXPECT_EQ(s[3].label, script + ", line 5 (read-all)");
    EXPECT_EQ(s[4].label, "3 (save x.sbus)");
}

TEST(CliScripts, ABadLineOrAMissingScriptStopsEverything) {
    WorkDir dir;
    writeWhole(dir / "bad.txt", "reset\nlevel 3 9.0\n");
    Parsed p = parse({"script", (dir / "bad.txt").string()});
    EXPECT_FALSE(p.invocation);
    EXPECT_NE(p.error.find(", line 2 (level 3 9.0): VOLTS must be"), std::string::npos) << p.error;

    writeWhole(dir / "extra.txt", "read 1 0x19 0\n");
    p = parse({"script", (dir / "extra.txt").string()});
    EXPECT_NE(p.error.find("line 1 (read 1 0x19 0): usage: read CH ADDR"), std::string::npos)
        << p.error;

    writeWhole(dir / "quote.txt", "load \"open.sbus\n");
    p = parse({"script", (dir / "quote.txt").string()});
    EXPECT_NE(p.error.find("line 1: a double quote is not closed"), std::string::npos) << p.error;

    p = parse({"script", (dir / "missing.txt").string()});
    EXPECT_NE(p.error.find("step 1 (script "), std::string::npos);
    EXPECT_NE(p.error.find("missing.txt): no such file"), std::string::npos) << p.error;

    writeWhole(dir / "long.txt", "reset # " + std::string(kLineLimit, 'x') + "\n");
    p = parse({"script", (dir / "long.txt").string()});
    EXPECT_NE(p.error.find("line 1: the line is longer than"), std::string::npos) << p.error;

    writeWhole(dir / "binary.txt", std::string("reset\n\0\x01\x02", 9));
    p = parse({"script", (dir / "binary.txt").string()});
    EXPECT_NE(p.error.find("line 2: the line is not text (it holds a NUL byte)"), std::string::npos)
        << p.error;
}

TEST(CliScripts, NestedScriptsRunAndASelfCallingScriptIsStopped) {
    WorkDir dir;
    writeWhole(dir / "inner.txt", "reset\n");
    writeWhole(dir / "outer.txt", "script " + (dir / "inner.txt").string() + "\nreset\n");
    Parsed p = parse({"script", (dir / "outer.txt").string()});
    ASSERT_TRUE(p.invocation) << p.error;
    EXPECT_EQ(p.invocation->steps.size(), 2u);

    writeWhole(dir / "loop.txt", "script " + (dir / "loop.txt").string() + "\n");
    p = parse({"script", (dir / "loop.txt").string()});
    EXPECT_FALSE(p.invocation);
    EXPECT_NE(p.error.find("scripts nest deeper than 8"), std::string::npos) << p.error;
}

}  // namespace
