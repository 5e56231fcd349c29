// The KOVRA610 evaluation board bench tool: entry, start-up and shut-down.
#include "app/kovra610 evaluation board.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/kovra610 evaluation board uir.h"
#include "panel/shortcuts.h"
#include "platform/runtime/panel_runtime.h"

int panelHandle = 0;
int AlarmRegCtrlArr = 0, CmpRegCtrlArr = 0, DrvRegCtrlArr = 0, HexDataCtrlArr = 0, LabelArr = 0,
    PMURegCtrlArr = 0, VoltDataCtrlArr = 0;

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

// Reads the default setup file into the image. When it cannot be read the
// console says so in one line and the image keeps what it held.
bool loadDefaultSetup() {
    const char kNotLoaded[] =
        "Default setup file not loaded (%s%s: %s): the chip is left in its reset state, nothing "
        "sent\n";
    char path[DEFAULT_SETUP_PATH_SIZE];
    const int length = std::snprintf(path, sizeof path, "%s%s", g_DACSETUPFILES, kDefaultSetupFile);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
        const std::string tooLong = "its path is longer than " +
                                    std::to_string(DEFAULT_SETUP_PATH_SIZE - 1) + " characters";
        printf(kNotLoaded, g_DACSETUPFILES, kDefaultSetupFile, tooLong.c_str());
        return false;
    }
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        printf(kNotLoaded, path, "", std::strerror(errno));
        return false;
    }
    std::fclose(file);
    write_setup_file_to_sbus_structure(path);
    return true;
}

}  // namespace

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
    if (display) DisplayPanel(panelHandle);
    fetch_control_arrays();
    set_panel_shortcuts();
    return PANEL_UP;
}

int auto_test_exit(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) QuitUserInterface(0);
    return 0;
}

int main(int, char* argv[]) {
    // Progress lines reach a log or a pipe as they are printed.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    if (bring_up_panel(argv, 1, nullptr) != PANEL_UP) return -1;
    sbus_initialize();

    RunUserInterface();
    QuitUserInterface(0);
    DiscardPanel(panelHandle);
    CloseFT2232HDevice();
    return 0;
}
