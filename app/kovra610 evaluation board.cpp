// The KOVRA610 evaluation board bench tool: entry, start-up and shut-down.
#include "app/kovra610 evaluation board.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/callbacks.h"
#include "panel/kovra610 evaluation board uir.h"
#include "panel/shortcuts.h"
#include "platform/d2xx/backend.h"
#include "platform/json/json_text.h"
#include "platform/runtime/main_window.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/runtime/status.h"
#include "platform/session_log/session_log.h"

namespace window = kovra610::runtime::window;

const char PANEL_FILE[] = "kovra610 evaluation board uir.uir";

namespace {

const char kSetupSubdirectory[] = "/Dac/";
const char kDefaultSetupFile[] = "kovra610_defaults.sbus";

// Builds the setup directory from the working directory. A working
// directory too long to hold "/Dac/" after it leaves the relative "Dac/",
// which names the same directory.
void buildSetupDirectory() {
    g_DACSETUPFILES = new char[SETUP_DIR_SIZE];
    char directory[SETUP_DIR_SIZE] = "";
    GetDir(directory);
    const size_t length = std::strlen(directory);
    if (length == 0 || length + sizeof kSetupSubdirectory > SETUP_DIR_SIZE) {
        std::snprintf(g_DACSETUPFILES, SETUP_DIR_SIZE, "%s", kSetupSubdirectory + 1);
    } else {
        std::memcpy(g_DACSETUPFILES, directory, length);
        std::memcpy(g_DACSETUPFILES + length, kSetupSubdirectory, sizeof kSetupSubdirectory);
    }
}

// Reads the default setup file into the image. When it cannot be loaded the
// console says so in one line and the image keeps what it held.
bool loadDefaultSetup() {
    const std::string problem = sbus_default_setup_problem();
    if (!problem.empty()) {
        printf(
            "Default setup file not loaded (%s%s: %s): the chip is left in its reset state, "
            "nothing sent\n",
            g_DACSETUPFILES, kDefaultSetupFile, problem.c_str());
        return false;
    }
    char path[DEFAULT_SETUP_PATH_SIZE];
    sbus_default_setup_path(path, sizeof path);
    write_setup_file_to_sbus_structure(path);
    const int records = sbus_entries_defined();
    if (records < sbus_entries_in_use())
        printf(
            "Default setup file %s holds %d records: entries %d..%d hold no setup and are not "
            "sent\n",
            path, records, records, sbus_entries_in_use() - 1);
    return true;
}

const char kUsage[] =
    "Usage: kovra610 [--help | --version]\n"
    "The KOVRA610 evaluation board's operator panel. It opens the board's FT2232H,\n"
    "resets the chip and sends the setup in Dac/kovra610_defaults.sbus under the\n"
    "working directory.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Environment:\n"
    "  KOVRA610_BOARD=usb|virtual     the real board (the default) or the virtual board\n"
    "                                 (also usb:serial=SN, virtual:serial=NAME)\n"
    "  KOVRA610_BOARD_TRACE=FILE.vcd  the virtual board records its pins in FILE.vcd\n"
    "  KOVRA610_LOG=FILE              append the session log to FILE (JSON lines)\n";

// Answers --help and --version, before anything is started: 0 when one was
// asked for, -1 when the program is to run.
int answer_information_options(int argc, char* argv[]) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printf("%s", kUsage);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            printf("kovra610 %s\n", KOVRA610_VERSION);
            return 0;
        }
    }
    return -1;
}

// The DAC row of a level or code control, or -1; *code is set for a code.
int dac_row(int control, bool* code) {
    for (const int* array : {&VoltDataCtrlArr, &HexDataCtrlArr}) {
        int i = -1;
        if (GetCtrlArrayIndex(*array, panelHandle, control, &i) < 0 || i < 0) continue;
        *code = array == &HexDataCtrlArr;
        return i;
    }
    return -1;
}

// What the operator acted on: a DAC row's field by its row's name, any
// other control (and a row without a name of its own: no setup gave it
// one) by its caption.
std::string action_caption(const kovra610::runtime::CommitReport& report) {
    bool code = false;
    const int i = dac_row(report.control, &code);
    if (i >= 0) {
        std::string name;
        GetCtrlVal(panelHandle, GetCtrlArrayItem(LabelArr, i), &name);
        name = kovra610::runtime::trimmed(name);
        const bool named = !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20;
        });
        if (named) return name + (code ? " CODE" : " VOLTAGE");
    }
    return kovra610::runtime::trimmed(report.caption);
}

// The outcome of a code stored on an entry that converts.
char levelCode[100];

// What became of an edit of a DAC row that sends nothing though the link
// is up: a code is stored and goes with the next transfer, but on an entry
// that converts, whose level's code the transfer sends instead; a row with
// no DAC entry stores nothing. Null for any other action.
const char* dac_row_outcome(int control) {
    bool code = false;
    const int i = dac_row(control, &code);
    if (i < 0) return nullptr;
    if (i >= sbus_structure.number_dacs) return "no DAC entry: nothing stored or sent";
    if (!code) return nullptr;
    if (!sbus_setup_loaded()) return SBUS_NO_SETUP;
    const int levelsCode = sbus_level_code(&sbus_structure, i);
    if (levelsCode < 0) return "stored: sent with the next transfer";
    std::snprintf(levelCode, sizeof levelCode,
                  "stored until the next transfer, which sends its level's code %d", levelsCode);
    return levelCode;
}

// The link's state into the status bar; returns what became of the last
// action in its terms: "done" while the link is up.
const char* show_link_state(void) {
    window::setBoard(kovra610::d2xx::activeBackend().boardName());
    switch (FTD232_link_state()) {
        case LINK_UP:
            window::setLinkState(window::LinkState::Up);
            return "done";
        case LINK_LOST:
            window::setLinkState(window::LinkState::Lost);
            return "link lost";
        default:
            window::setLinkState(window::LinkState::Down);
            return "link down";
    }
}

// What start-up came to: the link's state, and with the link up and no
// default setup loaded, that nothing was sent.
const char* start_up_outcome(void) {
    const char* outcome = show_link_state();
    if (FTD232_link_state() != LINK_UP) return outcome;
    if (!sbus_setup_loaded()) return "default setup not loaded: nothing sent";
    if (sbus_entries_defined() < sbus_entries_in_use())
        return "default setup incomplete: entries it holds no record for are not sent";
    return outcome;
}

// KOVRA610_LOG: the session log's path, or null.
const char* session_log_path(void) {
    const char* path = std::getenv("KOVRA610_LOG");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

// The log of KOVRA610_LOG, opened before the board is touched. A log that
// cannot be written is said in a message, and the program ends without
// touching the board: a session on record must not run unrecorded.
bool open_session_log(void) {
    const char* path = session_log_path();
    if (path == nullptr) return true;
    std::string why;
    if (kovra610::sessionlog::open(path, "kovra610", KOVRA610_VERSION,
                                   kovra610::d2xx::boardSettingText(), &why))
        return true;
    const std::string message =
        "KOVRA610_LOG: " + why + ".\nThe board was not touched; the program ends.";
    printf("%s\n", message.c_str());
    MessagePopup("Session log", message.c_str());
    return false;
}

// The start-up's outcome in the session log: the board opened, or not.
void log_start_up(void) {
    if (!kovra610::sessionlog::isOpen()) return;
    const auto& backend = kovra610::d2xx::activeBackend();
    kovra610::json::JsonMembers members;
    members.add("name", backend.boardName()).add("outcome", start_up_outcome());
    kovra610::sessionlog::recordStartUp(FTD232_link_state() == LINK_UP, backend.boardSerial(),
                                        members);
}

// An operator's action and its outcome in the session log, as the status
// bar shows them. A log that can no longer be written is said once, in the
// status bar and on the console; the panel goes on.
void log_action(const std::string& action, const char* outcome) {
    static bool complained = false;
    if (!kovra610::sessionlog::isOpen()) return;
    kovra610::json::JsonMembers members;
    members.add("action", action).add("outcome", outcome);
    if (kovra610::sessionlog::append("action", members.members()) || complained) return;
    complained = true;
    const std::string why = "Session log: " + kovra610::sessionlog::lastError();
    printf("%s\n", why.c_str());
    window::showMessage(why);
}

// After each operator action: the action and what became of it.
void report_action(const kovra610::runtime::CommitReport& report) {
    if (report.panel != panelHandle) return;
    const char* outcome = show_link_state();
    const char* row = FTD232_link_state() == LINK_UP ? dac_row_outcome(report.control) : nullptr;
    if (row != nullptr) outcome = row;
    if (sbus_action_outcome != nullptr) outcome = sbus_action_outcome;
    if (sbus_no_setup_refused != nullptr) outcome = sbus_no_setup_refused;
    sbus_no_setup_refused = nullptr;
    sbus_action_outcome = nullptr;
    const std::string action = action_caption(report);
    window::setLastAction(action + ": " + outcome);
    log_action(action, outcome);
}

// The panel in the program's main window, with the board it works on and the
// version in the title.
void show_in_main_window(void) {
    const std::string board = kovra610::d2xx::activeBackend().boardName();
    window::holdPanel(panelHandle);
    window::setTitle(std::string("KOVRA610 ") + KOVRA610_VERSION +
                     (board.rfind("VIRTUAL", 0) == 0 ? " (virtual board)" : ""));
    show_link_state();
    kovra610::runtime::setCommitHook(report_action);
    kovra610::runtime::setStatusSink(window::showMessage);
}

}  // namespace

int sbus_default_setup_path(char* path, size_t size) {
    if (g_DACSETUPFILES == nullptr) buildSetupDirectory();
    const int length = std::snprintf(path, size, "%s%s", g_DACSETUPFILES, kDefaultSetupFile);
    return length >= 0 && static_cast<size_t>(length) < size ? 0 : -1;
}

std::string sbus_default_setup_problem(void) {
    char path[DEFAULT_SETUP_PATH_SIZE];
    if (sbus_default_setup_path(path, sizeof path) != 0)
        return "its path is longer than " + std::to_string(DEFAULT_SETUP_PATH_SIZE - 1) +
               " characters";
    return sbus_setup_file_problem(path);
}

int sbus_initialize(void) {
    if (g_DACSETUPFILES == nullptr) buildSetupDirectory();

    sbus_set_startup_constants(&sbus_structure);

    if (OpenandConfigFT2232Hdevice() != 0) {
        printf(
            " \n **** Check Board Power \n **** Check to see if the FT2332 Device USB cable "
            "is connected and/or FT2332 driver is installed  ****\n");
        printf(
            " **** No board? Install the udev rule 99-kovra610-ftdi.rules to open the FT2232H "
            "as a normal user (see the README), or run with KOVRA610_BOARD=virtual\n");
        return 0;
    }

    FTD232_sbus_reset_part();
    sbus_forget_last_sent();

    // Without its setup the chip stays as the reset left it: the image's
    // initial contents are no setup to send.
    const bool loaded = loadDefaultSetup();
    Delay(0.2);
    write_sbus_structure_to_panel();
    if (!loaded) return 0;

    SetCtrlVal(panelHandle, LED, 1);
    sbus_structure_write_to_testequip();
    SetCtrlVal(panelHandle, LED, 0);
    return 0;
}

int sbus_attach(void) {
    if (g_DACSETUPFILES == nullptr) buildSetupDirectory();
    sbus_set_startup_constants(&sbus_structure);
    if (OpenandConfigFT2232Hdevice() != 0) return ATTACH_LINK_DOWN;
    char path[DEFAULT_SETUP_PATH_SIZE];
    if (sbus_default_setup_path(path, sizeof path) == 0) write_setup_file_to_sbus_structure(path);
    if (sbus_read_entries_fast() != 0) return ATTACH_READ_FAILED;
    sbus_store_read_back(0);
    sbus_last_sent_from_image();
    return ATTACHED;
}

void fetch_control_arrays(void) {
    HexDataCtrlArr = GetCtrlArrayFromResourceID(panelHandle, HEXARR);
    VoltDataCtrlArr = GetCtrlArrayFromResourceID(panelHandle, VOLTARR);
    DrvRegCtrlArr = GetCtrlArrayFromResourceID(panelHandle, DRVREG);
    PMURegCtrlArr = GetCtrlArrayFromResourceID(panelHandle, PMUREG);
    CmpRegCtrlArr = GetCtrlArrayFromResourceID(panelHandle, CMPREG);
    AlarmRegCtrlArr = GetCtrlArrayFromResourceID(panelHandle, ALARMREG);
    LabelArr = GetCtrlArrayFromResourceID(panelHandle, LABARR);
}

int bring_up_panel(char* argv[], int display, void (*runtime_started)(void)) {
    register_panel_callbacks();
    if (InitCVIRTE(nullptr, argv, nullptr) == 0) return PANEL_RUNTIME_FAILED;
    if (runtime_started != nullptr) runtime_started();
    SetSystemPopupsAttribute(ATTR_SUPPRESS_EVENT_PROCESSING, 1);
    if ((panelHandle = LoadPanel(0, PANEL_FILE, SBUS_1)) < 0) return PANEL_LOAD_FAILED;
    if (display) {
        show_in_main_window();
        DisplayPanel(panelHandle);
    }
    fetch_control_arrays();
    set_panel_shortcuts();
    return PANEL_UP;
}

int auto_test_exit(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) QuitUserInterface(0);
    return 0;
}

// Start-up knows every part of the program, so the table that names each
// callback for the panel resource lives here.
void register_panel_callbacks(void) {
    static const struct {
        const char* name;
        CtrlCallbackPtr function;
    } table[] = {
        {"auto_test_exit", auto_test_exit},
        {"mode_write", mode_write},
        {"single_readback", single_readback},
        {"translate_data1", translate_data1},
        {"translate_data2", translate_data2},
        {"clear_alarm", clear_alarm},
        {"reset", reset},
        {"reset_FTDI2232", reset_FTDI2232},
        {"setclkfreq", setclkfreq},
        {"write_crtl_registers", write_crtl_registers},
        {"updatemodectrl", updatemodectrl},
        {"create_sbus_select_setup_files", create_sbus_select_setup_files},
        {"write_to_all_dacs", write_to_all_dacs},
        {"read_all_dacs", read_all_dacs},
        {"volts_to_code", volts_to_code},
        {"code_to_volts", code_to_volts},
        {"set_ovdmask", set_ovdmask},
    };
    for (const auto& entry : table) RegisterCtrlCallback(entry.name, entry.function);
}

int main(int argc, char* argv[]) {
    if (answer_information_options(argc, argv) == 0) return 0;
    // A write past the file-size limit (ulimit -f) fails with EFBIG instead
    // of ending the program: a setup file or the session log that cannot be
    // written is then reported as such, and the save's temporary file is
    // removed.
    std::signal(SIGXFSZ, SIG_IGN);
    // Progress lines reach a log or a pipe as they are printed, and the
    // console pane as well.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    window::startConsoleCapture();

    if (bring_up_panel(argv, 1, nullptr) != PANEL_UP) {
        window::stopConsoleCapture();
        return -1;
    }
    if (!open_session_log()) {
        kovra610::runtime::setCommitHook(nullptr);
        kovra610::runtime::setStatusSink(nullptr);
        DiscardPanel(panelHandle);
        window::stopConsoleCapture();
        return 2;
    }
    sbus_initialize();
    window::setLastAction(std::string("Start-up: ") + start_up_outcome());
    log_start_up();

    RunUserInterface();
    QuitUserInterface(0);
    kovra610::runtime::setCommitHook(nullptr);
    kovra610::runtime::setStatusSink(nullptr);
    DiscardPanel(panelHandle);
    CloseFT2232HDevice();
    if (kovra610::sessionlog::isOpen()) kovra610::sessionlog::close(0);
    window::stopConsoleCapture();
    return 0;
}
