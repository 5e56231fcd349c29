// The command line of kovra610-cli: options, sub-commands and bench scripts,
// read and checked in full before the board is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/protocol/sbus_registers.h"

namespace kovra610::cli {

enum class StepKind {
    Load,      // load FILE
    Save,      // save FILE
    ReadAll,   // read-all
    Write,     // write CH RW ADDR DATA
    Read,      // read CH ADDR
    Bits,      // bits BITSTRING
    OvdMask,   // ovd-mask
    Reset,     // reset
    Clock,     // clock DIVISOR
    Level,     // level ROW VOLTS
    Code,      // code ROW CODE
    Verify,    // verify
    Set,       // set FIELD VALUE
    Get,       // get FIELD
    Channels,  // channels 1|2|3
    Reopen,    // reopen (serve)
    Quit,      // quit (serve)
    Script,    // script FILE: its lines' steps
    Serve,     // serve: a mode of its own
    Devices,   // devices: a mode of its own, and a command of serve
};

// What a run does: sub-commands in order, a session of commands read from
// standard input, the list of FTDI ports, or a text.
enum class Mode { Steps, Serve, Devices, Help, Version };

// A register-field control of the panel (a ring or ring slide whose commit
// packs the register groups and sends them), as the panel file describes it.
struct RegisterField {
    std::string name;                   // constant name, e.g. DRVFORCE
    int control = 0;                    // control ID
    std::string array;                  // control array (DRVREG, PMUREG, ...); empty for LOAD
    int item = 0;                       // item index in that array
    std::vector<int> values;            // ring values, in item order
    std::vector<std::string> captions;  // their captions
};

// The register fields, and the channel-selection ring (values and captions
// of MODECHSEL), read from the panel.
struct PanelFields {
    std::vector<RegisterField> fields;
    RegisterField channelSelection;
    // The field named `name`, compared without regard to case; null if none.
    const RegisterField* find(const std::string& name) const;
};

// Limits of the arguments, as the panel and the serial-bus word have them.
inline constexpr unsigned kChannelMin = sbus::kChannel0, kChannelMax = sbus::kChannelMax;
inline constexpr unsigned kAddressMax = sbus::kAddressMax;
inline constexpr unsigned kDataMax = sbus::kDataMax;
inline constexpr unsigned kDivisorMax = 59;
// Rows from the first register entry on have no DAC entry.
inline constexpr unsigned kRowMax = sbus::kDriverEntries.entry - 1;
inline constexpr unsigned kPanelRows = 32;
inline constexpr double kVoltsMin = -2.5, kVoltsMax = 7.5;
inline constexpr std::size_t kWordBits = sbus::kWordBits;

// Bench scripts: how deep `script` may nest, and how big a script may be.
inline constexpr int kScriptDepthLimit = 8;
inline constexpr std::size_t kScriptSizeLimit = 1 << 20;
inline constexpr std::size_t kScriptLineLimit = 4096;

struct Command;

struct Step {
    StepKind kind = StepKind::Reset;
    const Command* command = nullptr;  // the sub-command's row
    // Where the step came from, for messages: "3 (load missing.sbus)", or for
    // a line of a script "2 (script bench.txt), line 5 (level 3 1.25)".
    std::string label;
    std::string path;  // load, save
    std::string bits;  // bits
    unsigned ch = 0, rw = 0, addr = 0, data = 0;
    unsigned row = 0, code = 0, divisor = 0;
    double volts = 0.0;
    bool fast = false;                     // read-all --fast
    const RegisterField* field = nullptr;  // set, get
    int value = 0;                         // set: the ring value; channels: MODECHSEL's value
};

struct Invocation {
    Mode mode = Mode::Steps;
    bool json = false;
    bool attach = false;
    std::vector<Step> steps;
};

// Result of reading the command line: the invocation, or the one line that
// says what is wrong with it (without the program name).
struct Parsed {
    std::optional<Invocation> invocation;
    std::string error;
};

// Reads the arguments after the program name. Scripts named by `script`
// are read here, so that a script with a bad line runs nothing at all.
// `fields` names what set and get accept.
Parsed parseCommandLine(const std::vector<std::string>& args, const PanelFields& fields);

// One command line of a serve session, as one step (a script is not
// accepted there). The step's label is the line as given.
Parsed parseServeLine(const std::string& line, const PanelFields& fields);

// Files the steps read (load) that cannot be loaded: the first such step's
// label and why, or nothing. Checked before the board is touched.
std::optional<std::string> checkSetupFiles(const std::vector<Step>& steps);
// Why a file cannot be loaded as a setup file (missing, not a regular file,
// unreadable, no record the setup-file reader takes), or "" when it can.
std::string setupFileProblem(const std::string& path);

// A sub-command: one row each, which the command line, a serve session,
// --help and the completion all read.
struct Answer;
using ArgumentReader = bool (*)(const std::vector<std::string>& words, Step* step,
                                const PanelFields& fields, std::string* why);
using Handler = Answer (*)(const Step& step, const PanelFields& fields);
enum CommandUse {
    kStep = 0,        // a step of the command line, a script or a serve session
    kServeOnly = 1,   // a command of serve alone (reopen, quit)
    kStandalone = 2,  // runs alone on the command line; in serve, a command if it has a handler
    kScript = 3,      // script FILE: expanded into the steps of the file
};
struct Command {
    const char* name;
    StepKind kind;
    std::size_t arguments;
    const char* usage;  // its line in --help and in usage errors: "write CH RW ADDR DATA"
    const char* help;   // what it does, as --help lines ("\n" between); null: not listed
    ArgumentReader readArguments;
    Handler run;  // null for what does not run as a step
    CommandUse use = kStep;
    bool needsLink = true;  // fails while the link is down
};
// The row named `name`, or null.
const Command* findCommand(const std::string& name);

// Number parsing, shared with the tests. Decimal or 0x hexadecimal, no sign,
// the whole text, at most `max`.
std::optional<unsigned> parseNumber(const std::string& text, unsigned max);
// A level in volts: decimal, optional minus sign, finite.
std::optional<double> parseVolts(const std::string& text);
// Splits a script line into words; "double quotes" keep blanks in one word,
// `#` outside quotes starts a comment. False for an unterminated quote.
bool splitScriptLine(const std::string& line, std::vector<std::string>* words);

// The text of --help.
const char* helpText();

}  // namespace kovra610::cli
