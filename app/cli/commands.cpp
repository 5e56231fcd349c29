// The sub-commands of kovra610-cli, one row each: name, arguments, help and
// the handler that runs it through the same routines as the panel's
// controls. The command line, serve and --help (and so the manual page
// check and the completion, which read --help) all take them from here.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>

#include "app/cli/cli.h"
#include "app/core/setup_files.h"
#include "app/core/transfer.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/callbacks.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/d2xx/backend.h"
#include "platform/runtime/panel_operator.h"
#include "platform/runtime/panel_runtime.h"

namespace kovra610::cli {
namespace {

namespace operate = kovra610::runtime::operate;

Answer failed(const std::string& why, int failure = kStepFailed) {
    Answer a;
    a.ok = false;
    a.why = why;
    a.failure = failure;
    return a;
}

Answer committed(int result) {
    if (result >= 0) return {};
    return failed(result == UIE_OUT_OF_RANGE ? "the panel refused the value"
                                             : "the panel control could not be operated (error " +
                                                   std::to_string(result) + ")");
}

// A file name as the panel's file dialog hands it over: a full path.
std::string fullPath(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path full = std::filesystem::absolute(path, failed);
    return failed ? path : full.string();
}

bool pathFits(const std::string& path, std::string* why) {
    if (path.size() < SETUP_PATH_SIZE) return true;
    *why =
        "the path is longer than " + std::to_string(SETUP_PATH_SIZE - 1) + " characters: " + path;
    return false;
}

int rowControl(int array, unsigned row) {
    return GetCtrlArrayItem(array, static_cast<int>(row));
}

// The caption of a ring value, or null JSON when the ring lists no such
// value.
std::string captionJson(const RegisterField& field, int value) {
    const std::optional<std::string> caption = field.captionOf(value);
    return caption ? jsonString(*caption) : "null";
}

int channelSelection() {
    int mode = 0;
    GetCtrlVal(panelHandle, MODECHSEL, &mode);
    return mode;
}

// The entries the last read-back answered, or verify found different, as
// rows and as the member `name`.
Answer entriesAnswer(const char* name, bool differences) {
    Answer a;
    a.rows = sbus_read_back_rows(differences ? 1 : 0);
    a.members.raw(name, jsonArray(a.rows));
    return a;
}

// A register field's value in the image, for channel 0 or channel 1.
int fieldValue(const RegisterField& field, bool channel1) {
    return sbus_field_value(field.array.c_str(), field.item, channel1 ? 1 : 0);
}

// Reads every entry in use back in one batched stream; false with the
// reason (then nothing was stored).
bool readEntriesFast(std::string* why) {
    std::fflush(stdout);
    const int result = sbus_read_entries_fast();
    std::fflush(stdout);
    if (result == 0) return true;
    *why = sbus_batched_read_failure();
    return false;
}

// A DAC row committed: the row, its level and its code as the image now has
// them.
Answer rowCommitted(int result, unsigned row) {
    Answer a = committed(result);
    if (!a.ok) return a;
    a.members.add("row", row).number("volts", sbus_structure.volts[row]);
    a.members.add("code", sbus_structure.data[row]);
    return a;
}

Answer loadStep(const Step& step, const PanelFields&) {
    // "NOFILE" names no file: the routine loads and sends nothing, which is
    // not an error.
    if (step.path == "NOFILE") {
        sbus_test_setup_write(step.path.c_str());
        Answer a;
        a.members.add("loaded", "NOFILE");
        a.note = "NOFILE: nothing loaded, nothing sent";
        return a;
    }
    const std::string path = fullPath(step.path);
    std::string why;
    if (!pathFits(path, &why)) return failed(why);
    // Checked again: the file may have gone since the command was read.
    const std::string problem = sbus_setup_file_problem(path.c_str());
    if (!problem.empty()) return failed(problem);
    sbus_test_setup_write(path.c_str());
    Answer a;
    a.members.add("loaded", path);
    // A file shorter than the entries in use leaves the others as they were.
    if (const char* partly = sbus_say_partly_loaded(path.c_str())) a.members.add("note", partly);
    return a;
}

Answer saveStep(const Step& step, const PanelFields&) {
    const std::string path = fullPath(step.path);
    std::string why;
    if (!pathFits(path, &why)) return failed(why);
    write_structure_to_sbus_setupfile_pass_filename(path.c_str());  // a failure is a popup
    Answer a;
    a.members.add("saved", path);
    return a;
}

// "Read all Regs" leaves the entries whose read failed as they were and
// marks which were answered; only those give a row. --fast reads them all
// in one batched stream and stores them only when every answer arrived.
Answer readAllStep(const Step& step, const PanelFields&) {
    std::string why;
    if (step.fast) {
        if (!readEntriesFast(&why)) return failed(why);
        sbus_store_read_back(1);
    } else {
        std::fflush(stdout);
        const int result = operate::press(panelHandle, ALL_2);
        std::fflush(stdout);
        if (result < 0)
            return failed("the \"Read all Regs\" button could not be pressed (error " +
                          std::to_string(result) + ")");
    }
    Answer a = entriesAnswer("entries", false);
    const std::string unanswered = sbus_unanswered_entries();
    if (unanswered.empty()) return a;
    Answer partial =
        failed("no answer from the chip for entries " + unanswered + "; they keep their data");
    partial.rows = std::move(a.rows);
    return partial;
}

Answer verifyStep(const Step&, const PanelFields&) {
    std::string why;
    if (!readEntriesFast(&why)) return failed(why);
    const int differing = sbus_verify_read_back();
    Answer a = entriesAnswer("differences", true);
    a.differs = differing > 0;
    a.members.add("checked", sbus_entries_defined());
    if (a.differs)
        a.why = std::to_string(differing) + " of " + std::to_string(sbus_entries_defined()) +
                " entries differ from the image: " + sbus_differences();
    return a;
}

Answer writeStep(const Step& step, const PanelFields&) {
    if (FTD232_sbus_single_write(static_cast<int>(step.ch), static_cast<int>(step.rw),
                                 static_cast<int>(step.addr), static_cast<int>(step.data)) != 0)
        return failed("the word was not sent: the driver refused the write");
    return {};
}

Answer readStep(const Step& step, const PanelFields&) {
    const unsigned int word =
        FTD232_sbus_single_read(static_cast<int>(step.ch), 0, static_cast<int>(step.addr), 0);
    // A read that failed gives 1; an answer word always carries its
    // channel select in bits 25-24.
    if (word == 1) return failed("no answer from the chip");
    const kovra610::sbus::Word reply = kovra610::sbus::unpack(word);
    std::printf("ch=0x%X addr=0x%X rw=0x%X data=0x%X %u\n", reply.ch, reply.addr, reply.rw,
                reply.data, reply.data);
    Answer a;
    a.members.add("ch", reply.ch).add("addr", reply.addr).add("rw", reply.rw);
    a.members.add("data", reply.data).add("word", word);
    a.rows.push_back(a.members.object());
    return a;
}

Answer bitsStep(const Step& step, const PanelFields&) {
    vector_data_serial_bus_write(step.bits.c_str());
    return {};
}

Answer ovdMaskStep(const Step&, const PanelFields&) {
    set_ovdmask(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
    return {};
}

Answer resetStep(const Step&, const PanelFields&) {
    reset(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);  // as "Reset Part " does
    return {};
}

Answer clockStep(const Step& step, const PanelFields&) {
    return committed(operate::commit(panelHandle, CLKFREQ, step.divisor));
}

Answer levelStep(const Step& step, const PanelFields&) {
    return rowCommitted(
        operate::commit(panelHandle, rowControl(VoltDataCtrlArr, step.row), step.volts), step.row);
}

Answer codeStep(const Step& step, const PanelFields&) {
    return rowCommitted(
        operate::commit(panelHandle, rowControl(HexDataCtrlArr, step.row), step.code), step.row);
}

Answer getStep(const Step& step, const PanelFields&);

Answer setStep(const Step& step, const PanelFields& fields) {
    const Answer a = committed(operate::commit(panelHandle, step.field->control, step.value));
    return a.ok ? getStep(step, fields) : a;
}

Answer getStep(const Step& step, const PanelFields&) {
    const RegisterField& field = *step.field;
    const int value = fieldValue(field, channelSelection() == 2);
    Answer a;
    a.members.add("field", field.name)
        .add("value", value)
        .raw("caption", captionJson(field, value));
    a.members.add("ch0", fieldValue(field, false)).add("ch1", fieldValue(field, true));
    a.rows.push_back(a.members.object());
    return a;
}

Answer channelsStep(const Step& step, const PanelFields& fields) {
    Answer a = committed(operate::commit(panelHandle, MODECHSEL, step.value));
    if (!a.ok) return a;
    a.members.add("channels", step.value == 0 ? 3 : step.value);
    a.members.raw("caption", captionJson(fields.channelSelection, step.value));
    a.rows.push_back(a.members.object());
    return a;
}

Answer reopenStep(const Step&, const PanelFields&) {
    kovra610::d2xx::forgetBoardProblem();  // the reason, if any, is this re-open's
    const int result = operate::press(panelHandle, COMMANDBUTTON_6);  // "Reset FTDI232H"
    std::fflush(stdout);
    if (result < 0)
        return failed("the \"Reset FTDI232H\" button could not be pressed (error " +
                      std::to_string(result) + ")");
    const std::string problem = kovra610::d2xx::lastBoardProblem();
    if (!linkUp())
        return failed(
            "link down: " + (problem.empty() ? "the board did not answer the re-open" : problem),
            kLinkDown);
    return {};
}

// The ports as a "devices" array of objects, as --json devices lists them.
Answer devicesStep(const Step&, const PanelFields&) {
    std::vector<kovra610::d2xx::FtdiPort> ports;
    Answer a;
    if (!kovra610::d2xx::listFtdiPorts(ports, &a.why)) {
        a.ok = false;
        return a;
    }
    for (const kovra610::d2xx::FtdiPort& p : ports) a.rows.push_back(kovra610::d2xx::portJson(p));
    a.members.raw("devices", jsonArray(a.rows));
    return a;
}

// The sub-commands, one row each: name, arguments, help and handler.
const Command kCommands[] = {
    {"load", StepKind::Load, "load FILE",
     "read a setup file into the image, show it, send it\n"
     "(the name NOFILE loads nothing, as at the panel)",
     loadStep},
    {"save", StepKind::Save, "save FILE",
     "write all 64 entries of the image to a setup file;\n"
     "if some entries in use hold no setup, only the\n"
     "entries a setup defined",
     saveStep, kStep, false, true},
    {"read-all", StepKind::ReadAll, "read-all [--fast]",
     "\"Read all Regs\": read every entry back and list it;\n"
     "--fast reads them all in one batched stream",
     readAllStep, kStep, true, true},
    {"verify", StepKind::Verify, "verify",
     "read every entry back (fast) and list those whose\n"
     "chip value differs from the image (a difference\n"
     "fails the step)",
     verifyStep, kStep, true, true},
    {"write", StepKind::Write, "write CH RW ADDR DATA", "send one serial-bus word", writeStep},
    {"read", StepKind::Read, "read CH ADDR",
     "read one register and print the answer word (no\n"
     "answer from the chip fails the step)",
     readStep},
    {"bits", StepKind::Bits, "bits BITSTRING",
     "send one word given as exactly 26 characters of 0/1:\n"
     "2 channel select, 7 address, 1 read/write, 16 data",
     bitsStep},
    {"set", StepKind::Set, "set FIELD VALUE",
     "set a register field of the panel (DRVFORCE,\n"
     "PMUPOWER, LOAD, ...) to a value or the caption of\n"
     "one (\"set DRVFORCE Vh\"); it is packed and sent as\n"
     "the panel's rings do, to the channels chosen",
     setStep, kStep, true, true},
    {"get", StepKind::Get, "get FIELD", "a register field's value in the image", getStep, kStep,
     false},
    {"channels", StepKind::Channels, "channels 1|2|3",
     "the channels register fields go to, as \"Write Read\n"
     "Ch0/1\": 1 channel 0, 2 channel 1, 3 both",
     channelsStep, kStep, false},
    {"ovd-mask", StepKind::OvdMask, "ovd-mask",
     "mask the over-voltage alarm of both channels\n"
     "(alarm register 0x1D := 12)",
     ovdMaskStep},
    {"reset", StepKind::Reset, "reset", "pulse the chip's reset line", resetStep},
    {"clock", StepKind::Clock, "clock DIVISOR", "\"Sclk Divider\" 0..59, then \"Set SCLK Freq\"",
     clockStep},
    {"level", StepKind::Level, "level ROW VOLTS",
     "commit a DAC level (row 0..29, -2.5..7.5 V); its\n"
     "code is computed and the image is sent",
     levelStep, kStep, true, true},
    {"code", StepKind::Code, "code ROW CODE",
     "commit a DAC code (row 0..29, 0..65535); its level\n"
     "is computed, it goes out with the next transfer",
     codeStep, kStep, false},
    {"script", StepKind::Script, "script FILE",
     "run the sub-commands of FILE, one per line; blank\n"
     "lines and everything after # are ignored, \"double\n"
     "quotes\" keep blanks in a file name",
     nullptr, kScript},
    {"serve", StepKind::Serve, "serve",
     "one start-up, then commands one per line on\n"
     "standard input, each answered by one JSON object\n"
     "line, until the end of the input or quit; reopen\n"
     "runs \"Reset FTDI232H\"",
     nullptr, kStandalone},
    {"devices", StepKind::Devices, "devices",
     "list the FTDI ports attached (index, chip, serial\n"
     "number, description, bus and address) and the one\n"
     "the tool would open; with --json one object each",
     devicesStep, kStandalone, false},
    {"reopen", StepKind::Reopen, "reopen", nullptr, reopenStep, kServeOnly, false},
    {"quit", StepKind::Quit, "quit", nullptr, nullptr, kServeOnly, false},
};

}  // namespace

const Command* findCommand(const std::string& name) {
    for (const Command& c : kCommands) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

std::span<const Command> commandRows() {
    return kCommands;
}

bool linkUp() {
    return FTD232_link_state() == LINK_UP;
}

Answer runStep(const Step& step, const PanelFields& fields, CollectedPopups& popups) {
    const bool link = step.command == nullptr || step.command->needsLink;
    if (link && !linkUp())
        return failed("link down: no board answers (reopen once it is connected)", kLinkDown);
    if (step.command != nullptr && step.command->needsSetup && !sbus_setup_loaded())
        return failed(noSetupReason(step), kUsage);
    popups.take();
    sbus_no_setup_refused = nullptr;
    Answer answer = step.command != nullptr && step.command->run != nullptr
                        ? step.command->run(step, fields)
                        : failed("not a step that runs here");
    std::fflush(stdout);
    const std::string collected = popups.take();
    if (link && !linkUp() && step.kind != StepKind::Reopen) {
        // The rows of what was read before the link went stay.
        Answer lost = failed("link down: the link to the board was lost", kLinkDown);
        lost.rows = std::move(answer.rows);
        return lost;
    }
    if (answer.ok && !collected.empty()) return failed(collected);
    // What the transfer left unsent for want of a setup fails the step.
    if (answer.ok && sbus_no_setup_refused != nullptr) {
        std::string why = sbus_no_setup_refused;
        why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
        return failed(why);
    }
    return answer;
}

}  // namespace kovra610::cli
