// Start-up and shut-down: the panel brought up, the link opened, the chip
// reset and the default setup file loaded and sent.
#pragma once

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

// Registers every control callback of the panel by name, so the panel
// resource can be bound to them when it loads.
void register_panel_callbacks(void);
