#include "app/cli/cli_runner.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/kovra610 evaluation board.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/callbacks.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/d2xx/backend.h"
#include "platform/protocol/sbus_protocol.h"
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
    if (!path.empty() && path[0] == '/') return path;
    char directory[4096];
    if (getcwd(directory, sizeof directory) == nullptr) return path;
    return std::string(directory) + "/" + path;
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

// The image entries a register field's control array is packed into: the
// channel-0 entry, channel 1's being the next.
struct FieldEntries {
    const char* array;
    SBUS_REGISTER_GROUP group;
    int entry;
};
constexpr FieldEntries kFieldEntries[] = {
    {"DRVREG", GROUP_DRIVER, 30},
    {"PMUREG", GROUP_PMU, 32},
    {"CMPREG", GROUP_COMPARATOR, 34},
    {"ALARMREG", GROUP_ALARM, 36},
};
constexpr int kLoadEntry = 38;  // LOAD: its value is the whole word

// The field's value in image entry `entry` (channel 0's, or channel 1's
// when `channel1`).
int fieldValue(const RegisterField& field, bool channel1) {
    for (const FieldEntries& f : kFieldEntries) {
        if (field.array != f.array) continue;
        const int data = sbus_structure.data[f.entry + (channel1 ? 1 : 0)];
        const std::vector<int> items = sbus_unpack_group(f.group, static_cast<uint16_t>(data));
        return field.item >= 0 && field.item < static_cast<int>(items.size()) ? items[field.item]
                                                                              : 0;
    }
    return sbus_structure.data[kLoadEntry + (channel1 ? 1 : 0)];
}

// The caption of a ring value, or null JSON when the ring lists no such
// value (a word read back from the chip may hold one).
std::string captionJson(const RegisterField& field, int value) {
    for (std::size_t i = 0; i < field.values.size() && i < field.captions.size(); ++i) {
        if (field.values[i] != value) continue;
        const std::string& c = field.captions[i];
        const std::size_t first = c.find_first_not_of(' ');
        return jsonString(
            first == std::string::npos ? "" : c.substr(first, c.find_last_not_of(' ') - first + 1));
    }
    return "null";
}

int channelSelection() {
    int mode = 0;
    GetCtrlVal(panelHandle, MODECHSEL, &mode);
    return mode;
}

std::string joinedRows(const std::vector<std::string>& rows) {
    std::string out;
    for (const std::string& row : rows) out += (out.empty() ? "" : ",") + row;
    return out;
}

// The image's entries in use, as read back: one row each.
Answer entriesAnswer(const std::vector<unsigned>& rwFlags) {
    Answer a;
    a.rows = imageRows(rwFlags);
    a.members.raw("entries", "[" + joinedRows(a.rows) + "]");
    return a;
}

}  // namespace

bool readEntriesFast(std::vector<unsigned>* words, std::string* why) {
    int n = sbus_structure.number_registers;
    if (n > SBUS_MAX_REGISTERS) n = SBUS_MAX_REGISTERS;
    if (n < 0) n = 0;
    std::vector<int> ch(sbus_structure.ch, sbus_structure.ch + n);
    std::vector<int> addr(sbus_structure.addr, sbus_structure.addr + n);
    std::vector<int> ok(static_cast<std::size_t>(n), 0);
    words->assign(static_cast<std::size_t>(n), 0);
    std::fflush(stdout);
    const int result = FTD232_sbus_read_words(ch.data(), addr.data(), n, words->data(), ok.data());
    std::fflush(stdout);
    if (result == 0) return true;
    const auto answered = std::count(ok.begin(), ok.end(), 1);
    *why = "the chip's reply to the batched read is short or missing (" + std::to_string(answered) +
           " of " + std::to_string(n) + " answers arrived); nothing was stored";
    words->clear();
    return false;
}

void storeReadBack(const std::vector<unsigned>& words) {
    const SBUS_DAC_SCALE& scale = sbus_structure.dac_scale[0];
    for (std::size_t i = 0; i < words.size(); ++i) {
        const int data = static_cast<int>(kovra610::sbus::unpack(words[i]).data);
        sbus_structure.volts[i] = round_dbl((data - scale.offset) * scale.lsb, 3);
        sbus_structure.data[i] = data;
    }
}

bool boardSettingKnown(std::string* why) {
    const char* value = std::getenv("KOVRA610_BOARD");
    if (value == nullptr) return true;
    const kovra610::d2xx::BoardSetting setting = kovra610::d2xx::parseBoardSetting(value);
    if (setting.kind != kovra610::d2xx::BoardSetting::Kind::Invalid) return true;
    *why = std::string("KOVRA610_BOARD=") + value + ": " + setting.reason;
    return false;
}

bool linkUp() {
    return FTD232_link_state() == LINK_UP;
}

bool needsLink(StepKind kind) {
    switch (kind) {
        case StepKind::Save:
        case StepKind::Get:
        case StepKind::Channels:
        case StepKind::Code:
        case StepKind::Reopen:
        case StepKind::Quit:
            return false;
        default:
            return true;
    }
}

std::vector<std::string> imageRows(const std::vector<unsigned>& rwFlags) {
    const SBUS_STRUCTURE& image = sbus_structure;
    std::vector<std::string> rows;
    for (int i = 0; i < image.number_registers && i < SBUS_MAX_REGISTERS; ++i) {
        JsonMembers row;
        row.add("index", i).add("name", image.name[i]).add("ch", image.ch[i]);
        row.add("addr", image.addr[i]);
        row.add("rw", static_cast<std::size_t>(i) < rwFlags.size() ? rwFlags[i] : 0);
        row.add("data", image.data[i]);
        if (i < image.number_dacs)
            row.number("volts", image.volts[i]);
        else
            row.raw("volts", "null");
        rows.push_back(row.object());
    }
    return rows;
}

Answer Runner::run(const Step& step) {
    if (needsLink(step.kind) && !linkUp())
        return failed("link down: no board answers (reopen once it is connected)", kLinkDown);
    popups_.take();
    Answer answer = perform(step);
    std::fflush(stdout);
    const std::string popups = popups_.take();
    if (needsLink(step.kind) && !linkUp() && step.kind != StepKind::Reopen) {
        // The rows of what was read before the link went stay.
        Answer lost = failed("link down: the link to the board was lost", kLinkDown);
        lost.rows = std::move(answer.rows);
        return lost;
    }
    if (answer.ok && !popups.empty()) return failed(popups);
    return answer;
}

Answer Runner::perform(const Step& step) {
    switch (step.kind) {
        case StepKind::Load:
            return load(step);
        case StepKind::Save:
            return save(step);
        case StepKind::ReadAll:
            return step.fast ? readAllFast() : readAll();
        case StepKind::Verify:
            return verify();
        case StepKind::Write:
            FTD232_sbus_single_write(static_cast<int>(step.ch), static_cast<int>(step.rw),
                                     static_cast<int>(step.addr), static_cast<int>(step.data));
            return {};
        case StepKind::Read:
            return read(step);
        case StepKind::Bits:
            vector_data_serial_bus_write(step.bits.c_str());
            return {};
        case StepKind::OvdMask:
            set_ovdmask(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
            return {};
        case StepKind::Reset:
            reset(panelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);  // as "Reset Part " does
            return {};
        case StepKind::Clock:
            return committed(operate::commit(panelHandle, CLKFREQ, step.divisor));
        case StepKind::Level:
            return level(step);
        case StepKind::Code:
            return code(step);
        case StepKind::Set:
            return set(step);
        case StepKind::Get:
            return get(*step.field);
        case StepKind::Channels:
            return channels(step);
        case StepKind::Reopen:
            return reopen();
        case StepKind::Quit:
            break;
    }
    return failed("not a step that runs here");
}

Answer Runner::load(const Step& step) {
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
    const std::string problem = setupFileProblem(path);
    if (!problem.empty()) return failed(problem);
    sbus_test_setup_write(path.c_str());
    Answer a;
    a.members.add("loaded", path);
    return a;
}

Answer Runner::save(const Step& step) {
    const std::string path = fullPath(step.path);
    std::string why;
    if (!pathFits(path, &why)) return failed(why);
    write_structure_to_sbus_setupfile_pass_filename(path.c_str());  // a failure is a popup
    Answer a;
    a.members.add("saved", path);
    return a;
}

// "Read all Regs" leaves the entries whose read failed as they were and
// marks which were answered; only those give a row.
Answer Runner::readAll() {
    const int n = std::min<int>(std::max(sbus_structure.number_registers, 0), SBUS_MAX_REGISTERS);
    std::fflush(stdout);
    const int result = operate::press(panelHandle, ALL_2);
    std::fflush(stdout);
    if (result < 0)
        return failed("the \"Read all Regs\" button could not be pressed (error " +
                      std::to_string(result) + ")");
    const std::vector<unsigned> rwFlags(sbus_read_back.rw, sbus_read_back.rw + n);
    const Answer a = entriesAnswer(rwFlags);
    std::string unanswered;
    std::vector<std::string> answeredRows;
    for (int i = 0; i < n; ++i) {
        if (sbus_read_back.answered[i] != 0) {
            answeredRows.push_back(a.rows[static_cast<std::size_t>(i)]);
        } else {
            unanswered += (unanswered.empty() ? "" : ", ") + std::to_string(i) + " (" +
                          sbus_structure.name[i] + ")";
        }
    }
    if (unanswered.empty()) return a;
    Answer partial =
        failed("no answer from the chip for entries " + unanswered + "; they keep their data");
    partial.rows = std::move(answeredRows);
    return partial;
}

Answer Runner::readAllFast() {
    std::vector<unsigned> words;
    std::string why;
    if (!readEntriesFast(&words, &why)) return failed(why);
    std::vector<unsigned> rwFlags;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const kovra610::sbus::Word reply = kovra610::sbus::unpack(words[i]);
        const int at = static_cast<int>(i);
        // Listed as "Read all Regs" lists its reads.
        std::printf("%-10s ch=0x%X addr=0x%X rw=0x%X data=0x%X %d\n", sbus_structure.name[at],
                    static_cast<unsigned>(sbus_structure.ch[at]), reply.addr, reply.rw, reply.data,
                    static_cast<int>(reply.data));
        rwFlags.push_back(reply.rw);
    }
    storeReadBack(words);
    write_sbus_structure_to_panel();
    return entriesAnswer(rwFlags);
}

Answer Runner::verify() {
    std::vector<unsigned> words;
    std::string why;
    if (!readEntriesFast(&words, &why)) return failed(why);
    Answer a;
    std::string listed;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const int at = static_cast<int>(i);
        const unsigned chip = kovra610::sbus::unpack(words[i]).data;
        const unsigned image = static_cast<unsigned>(sbus_structure.data[at]) & 0xFFFFu;
        if (chip == image) continue;
        char text[160];
        std::snprintf(text, sizeof text, "%s%d %s ch=0x%X addr=0x%X image=0x%X chip=0x%X",
                      listed.empty() ? "" : "; ", at, sbus_structure.name[at],
                      static_cast<unsigned>(sbus_structure.ch[at]),
                      static_cast<unsigned>(sbus_structure.addr[at]), image, chip);
        listed += text;
        JsonMembers d;
        d.add("index", at).add("name", sbus_structure.name[at]).add("ch", sbus_structure.ch[at]);
        d.add("addr", sbus_structure.addr[at]).add("image", image).add("chip", chip);
        a.rows.push_back(d.object());
    }
    a.differs = !a.rows.empty();
    a.members.raw("differences", "[" + joinedRows(a.rows) + "]");
    a.members.add("checked", static_cast<long long>(words.size()));
    if (a.differs)
        a.why = std::to_string(a.rows.size()) + " of " + std::to_string(words.size()) +
                " entries differ from the image: " + listed;
    return a;
}

Answer Runner::read(const Step& step) {
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

Answer Runner::set(const Step& step) {
    const Answer a = committed(operate::commit(panelHandle, step.field->control, step.value));
    return a.ok ? get(*step.field) : a;
}

Answer Runner::get(const RegisterField& field) {
    const bool shownChannel1 = channelSelection() == 2;
    const int value = fieldValue(field, shownChannel1);
    Answer a;
    a.members.add("field", field.name)
        .add("value", value)
        .raw("caption", captionJson(field, value));
    a.members.add("ch0", fieldValue(field, false)).add("ch1", fieldValue(field, true));
    a.rows.push_back(a.members.object());
    return a;
}

Answer Runner::channels(const Step& step) {
    Answer a = committed(operate::commit(panelHandle, MODECHSEL, step.value));
    if (!a.ok) return a;
    a.members.add("channels", step.value == 0 ? 3 : step.value);
    a.members.raw("caption", captionJson(fields_.channelSelection, step.value));
    a.rows.push_back(a.members.object());
    return a;
}

Answer Runner::reopen() {
    const int result = operate::press(panelHandle, COMMANDBUTTON_6);  // "Reset FTDI232H"
    std::fflush(stdout);
    if (result < 0)
        return failed("the \"Reset FTDI232H\" button could not be pressed (error " +
                      std::to_string(result) + ")");
    if (!linkUp()) return failed("link down: the board did not answer the re-open", kLinkDown);
    return {};
}

namespace {

// A DAC row committed: the row, its level and its code as the image now has
// them.
Answer rowCommitted(int result, unsigned row) {
    Answer a = committed(result);
    if (!a.ok) return a;
    a.members.add("row", row).number("volts", sbus_structure.volts[row]);
    a.members.add("code", sbus_structure.data[row]);
    return a;
}

}  // namespace

Answer Runner::level(const Step& step) {
    return rowCommitted(
        operate::commit(panelHandle, rowControl(VoltDataCtrlArr, step.row), step.volts), step.row);
}

Answer Runner::code(const Step& step) {
    return rowCommitted(
        operate::commit(panelHandle, rowControl(HexDataCtrlArr, step.row), step.code), step.row);
}

}  // namespace kovra610::cli
