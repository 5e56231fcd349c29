// kovra610-cli inside: its command line, sub-commands and bench scripts
// (read and checked in full before the board is touched), the runner of
// its steps, the serve session, the list of ports and their JSON answers.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/register_fields.h"
#include "platform/json/json_text.h"
#include "platform/protocol/sbus_registers.h"
#include "platform/runtime/popup_answers.h"

namespace kovra610::cli {

// --- JSON text: one object per line (the platform's, shared with the
// session log) -----------------------------------------------------------------
using kovra610::json::jsonArray;
using kovra610::json::JsonMembers;
using kovra610::json::jsonString;
using kovra610::runtime::CollectedPopups;

// --- The command line ------------------------------------------------------
// Which sub-command a step is; the sub-command's row (commands.cpp) names
// its arguments.
// clang-format off
enum class StepKind { Load, Save, ReadAll, Write, Read, Bits, OvdMask, Reset, Clock, Level, Code,
                      Verify, Set, Get, Channels, Reopen, Quit, Script, Serve, Devices };
// clang-format on

// What a run does: sub-commands in order, a session of commands read from
// standard input, the list of FTDI ports, or a text.
enum class Mode { Steps, Serve, Devices, Help, Version };

// A line of a bench script or a serve session longer than this is refused.
inline constexpr std::size_t kLineLimit = 4096;

struct Command;

struct Step {
    StepKind kind = StepKind::Reset;
    const Command* command = nullptr;  // the sub-command's row
    // Where the step came from, for messages: "3 (load missing.sbus)", or for
    // a line of a script "2 (script bench.txt), line 5 (level 3 1.25)".
    std::string label;
    std::string text;  // the sub-command and its arguments: "level 3 1.25"
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
    std::string log;  // --log FILE: the session log, or empty
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
// The first step that needs a setup with none loaded before it (`loaded`:
// start-up loads one): its label and why, or nothing. Checked before the
// board is touched.
std::optional<std::string> checkSetupLoaded(const std::vector<Step>& steps, bool loaded);
// Why a step that needs a setup is refused while none is loaded.
std::string noSetupReason(const Step& step);

// A sub-command: one row each, which the command line, a serve session,
// --help and the completion all read.
struct Answer;
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
    // Its line in --help and in usage errors, which names its arguments:
    // "write CH RW ADDR DATA".
    const char* usage;
    const char* help;  // what it does, as --help lines ("\n" between); null: not listed
    Handler run;       // null for what does not run as a step
    CommandUse use = kStep;
    bool needsLink = true;  // fails while the link is down
    bool needsSetup =
        false;  // refused while no setup is loaded: it sends, reads or saves the image
};
// The row named `name`, or null; all the rows, in --help's order.
const Command* findCommand(const std::string& name);
std::span<const Command> commandRows();

// The text of --help.
const char* helpText();

// --- Running steps ---------------------------------------------------------
inline constexpr char kProgram[] = "kovra610-cli";

enum ExitStatus { kDone = 0, kUsage = 2, kLinkDown = 3, kStepFailed = 4 };

struct Answer {
    bool ok = true;
    int failure = kStepFailed;  // exit status of a run that this step ends
    std::string why;
    JsonMembers members;            // what the step answers
    std::vector<std::string> rows;  // its JSON lines in a --json run
    std::string note;               // said on standard error by a script run
    bool differs = false;           // verify found entries that differ
};

// Whether the link to the board is up.
bool linkUp();

// Runs one step with its row's handler: refused while the link is down
// when it needs the link, failed when the link is lost on the way or a
// popup (collected in `popups`) reports an error.
Answer runStep(const Step& step, const PanelFields& fields, CollectedPopups& popups);

// --- serve: commands one per line on standard input, each answered by
// exactly one JSON object line -----------------------------------------------
// The first line of a serve session and of a --json run: the tool, its
// version and the board it opened (the KOVRA610_BOARD setting and, for a
// USB board, the port as devices lists it).
//   {"ok":true,"hello":"kovra610-cli","version":"1.0.0","board":"virtual"}
std::string helloLine();
// An error answer: {"ok":false,"error":"...","step":"..."}.
std::string errorLine(const std::string& step, const std::string& why);
// A step's answer as serve gives it and the session log records it: "ok"
// and the step's members, or the error answer.
std::string answerObject(const Step& step, const Answer& answer);

// Answers the commands read from `in` on `out` until the end of the input
// or quit. Returns the exit status: 0, or 4 when an answer cannot be
// written (the reader has gone) or a command cannot be recorded in the
// session log, which ends the session at once.
int serve(const PanelFields& fields, CollectedPopups& popups, FILE* in, FILE* out);

// --- The session log (--log FILE) --------------------------------------------
// Records a command as given and its answer object; false, after one line
// on standard error, when the log is open and the line cannot be written.
bool logCommand(const std::string& command, const std::string& label, const std::string& answer);

// --- devices: the FTDI ports attached, and the one the tool would open -----
// Lists the ports on standard output, one line each, or one JSON object
// each with `json`. Returns the exit status: 0, or 3 when the USB bus
// cannot be read.
int listDevices(bool json);

}  // namespace kovra610::cli
