// Start-up and shut-down: the panel brought up, the link opened, the chip
// reset and the default setup file loaded and sent.
#pragma once

#include <cstddef>
#include <string>

namespace kovra610::runtime {
class CollectedPopups;
}

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
// Start-up without touching the chip: the link opened without the reset,
// the default setup file read for the entries' names and addresses but not
// sent, and every entry in use read back from the chip in one batched
// stream; what was read counts as sent. ATTACH_READ_FAILED leaves
// sbus_read_back saying which answers arrived.
enum { ATTACHED = 0, ATTACH_LINK_DOWN = 1, ATTACH_READ_FAILED = 2 };
int sbus_attach(void);
// The default setup file, "kovra610_defaults.sbus" in the setup directory
// (built from the working directory on first use), into `path`. Returns 0,
// or -1 when it does not fit `size`.
int sbus_default_setup_path(char* path, size_t size);
// Why the default setup file cannot be loaded, as the setup-file reader
// judges it (or its path is too long); empty when it can. Start-up loads it
// only then, and kovra610-cli counts a setup as loaded only then.
std::string sbus_default_setup_problem(void);
// Start-up without a display, for kovra610-cli: the panel brought up and
// never shown, its popups collected in `popups` instead of waiting for an
// operator, then sbus_initialize, or with `attach` sbus_attach. Returns
// START_UP_DONE with the link up and no popup raised; else the reason is in
// `why`: START_UP_LINK_DOWN (the driver's reason, when it gave one), or
// START_UP_FAILED (no panel, a failed read-back, a popup's message).
enum { START_UP_DONE = 0, START_UP_LINK_DOWN = 1, START_UP_FAILED = 2 };
int sbus_start_up_headless(char* program, int attach, kovra610::runtime::CollectedPopups* popups,
                           std::string* why);
// Why sbus_attach cannot name the entries (the default setup file cannot be
// loaded), as a line for the operator; empty when it can.
std::string sbus_attach_problem(void);
// Discards the panel brought up, if any, and closes the link.
void sbus_shut_down_headless(void);
int auto_test_exit(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);

// Registers every control callback of the panel by name, so the panel
// resource can be bound to them when it loads.
void register_panel_callbacks(void);
