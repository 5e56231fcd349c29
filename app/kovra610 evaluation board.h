// Start-up and shut-down, setup files, and sending the register image to
// the chip.
#pragma once

#include "app/sbus_image.h"

// Panel and control-array handles, set by main.
extern int panelHandle;
extern int AlarmRegCtrlArr, CmpRegCtrlArr, DrvRegCtrlArr, HexDataCtrlArr, LabelArr, PMURegCtrlArr,
    VoltDataCtrlArr;

// Setup directory: the working directory followed by "/Dac/". Null until
// start-up builds it; never freed.
extern char* g_DACSETUPFILES;
enum { SETUP_DIR_SIZE = 260, SETUP_PATH_SIZE = 260, DEFAULT_SETUP_PATH_SIZE = 128 };

// What the image transfer last sent for each entry (-1: nothing yet).
struct SBUS_LAST_SENT {
    int data[SBUS_MAX_REGISTERS];
    int addr[SBUS_MAX_REGISTERS];
    int rw[SBUS_MAX_REGISTERS];
    int ch[SBUS_MAX_REGISTERS];
};
extern SBUS_LAST_SENT sbus_last_sent;
// Forgets what was sent (every element -1), as after a chip reset: the next
// transfer sends every entry in use.
int sbus_forget_last_sent(void);

// The panel's bring-up, shared by the program and kovra610-cli: the
// callbacks registered, the run-time started (then `runtime_started` runs,
// if given), the panel loaded into panelHandle and shown when `display` is
// set, its control arrays fetched. Returns PANEL_UP, or the step that failed.
enum { PANEL_UP = 0, PANEL_RUNTIME_FAILED = -1, PANEL_LOAD_FAILED = -2 };
extern const char PANEL_FILE[];
int bring_up_panel(char* argv[], int display, void (*runtime_started)(void));

// Fetches the seven control arrays of the panel `panelHandle` into their
// globals, in the order start-up takes them.
void fetch_control_arrays(void);
int sbus_initialize(void);
int auto_test_exit(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);

// Setup files.
int write_setup_file_to_sbus_structure(const char* path);
int write_structure_to_sbus_setupfile(void);
int write_structure_to_sbus_setupfile_pass_filename(const char* path);
int sbus_test_setup_write(const char* path);
int create_sbus_select_setup_files(int panel, int control, int event, void* callbackData,
                                   int eventData1, int eventData2);

// Image transfer and single words.
int sbus_structure_write_to_testequip(void);
int part_single_write(void);
int part_single_read(void);

// Registers every control callback of the panel by name, so the panel
// resource can be bound to them when it loads.
void register_panel_callbacks(void);
