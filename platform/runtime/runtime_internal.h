// Inside of the panel run-time: the tables of loaded panels, controls and
// control arrays, commit delivery and timer suspension. Shared by the
// run-time's own sources; not for panel code.
#pragma once

#include <QByteArray>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/panel_runtime.h"

namespace kovra610::runtime::detail {

enum class Kind {
    Numeric,
    Command,
    Ring,
    RingSlide,
    String,
    TextBox,
    TextMsg,
    Led,
    Picture,
    Splitter
};
enum class DataType { Double, Unsigned, Int, Text };

struct Control {
    int id = 0;
    std::string name;  // constant name
    Kind kind = Kind::Numeric;
    DataType type = DataType::Int;
    QPointer<QWidget> widget;
    QPointer<QLabel> captionLabel;
    QString caption;  // as the panel file gives it
    std::string callbackName;
    CtrlCallbackPtr callback = nullptr;
    std::vector<int> ringValues;  // rings and ring slides, in item order
    int busy = 0;                 // LED busy attribute
    std::string shortcut;         // command buttons: keys that press it, or ""
};

struct Panel {
    int handle = 0;
    int resourceId = 0;
    std::string name;
    std::string file;
    QPointer<QWidget> widget;
    std::map<int, Control> controls;
    std::map<int, int> arrayByResourceId;  // array resource ID -> array handle
    // Until its widgets are made (makePanel): the checked panel file, the
    // parent panel, and whether DisplayPanel asked to show it.
    bool made = true;
    QByteArray source;
    int parentHandle = 0;
    bool showWhenMade = false;
};

struct CtrlArray {
    int panel = 0;
    std::string name;
    std::vector<int> controls;  // control IDs in item order
};

// The panel with its widgets, made first if need be; null when the handle
// is unknown or the panel's widgets could not be made or are gone.
Panel* findPanel(int handle);
// The panel's record, made or not (its control table and arrays).
Panel* panelRecord(int handle);
Control* findControl(int panel, int control);
CtrlArray* findArray(int handle);

// Registers a loaded panel and its arrays; returns the new panel handle.
int addPanel(std::unique_ptr<Panel> panel, std::vector<std::pair<int, CtrlArray>> arrays);
// Makes a loaded panel's widgets from its file: the controls set up, their
// captions and commits wired. Once only; false (with a line on stderr) when
// they cannot be made.
bool makePanel(Panel& panel);
// Called by makePanel when the widgets are made: window handling, and the
// show that DisplayPanel asked for.
void panelMade(Panel& panel);
// Makes the widgets of every panel loaded and not yet made.
void makeLoadedPanels();
CtrlCallbackPtr lookupCallback(const std::string& name);

// Commits, or refuses, the typed text not yet committed of every field but
// `acting` (which may be null), as leaving each field would.
void settlePendingEdits(const QWidget* acting);
// Delivers a commit of the control to its callback. Returns the callback's
// result (0 when it has none), or a negative error when the control is gone.
int deliverCommit(int panel, int control);
// While it lives, catches the first commit delivered (the one an operator's
// action started) and its callback's result. Watches nest.
struct CommitWatch {
    CommitWatch();
    ~CommitWatch();
    CommitWatch(const CommitWatch&) = delete;
    CommitWatch& operator=(const CommitWatch&) = delete;
    bool delivered = false;
    int result = 0;

private:
    CommitWatch* previous_;
};

bool timerCallbacksSuspended();

// Puts the keys on the command button's widget, replacing any it had.
void attachShortcut(QWidget* button, const std::string& keys);

// Text of a numeric value as the control shows it.
std::string numericText(const Control& c);

// Prints one line on stderr: "<context>: <message>".
void reportError(const char* context, const std::string& message);

// Makes the loaded panels' widgets and puts panels displayed since the last
// event processing on screen (exposed and painted), processing no operator
// input and no timer; gives up waiting for the window system at `deadline`.
// Delay calls it, so that this work uses waiting time.
void finishPanelsWhileWaiting(std::chrono::steady_clock::time_point deadline);

// The program's main window (main_window.h) around a held panel: made with
// the panel's widgets (panelMade calls frameIfHeld), the window a panel is
// shown in (its own widget when it is not held), and gone with the panel.
void frameIfHeld(Panel& panel);
// Makes what the main window leaves for later (the console pane's view): in
// a wait, or as events are processed, after the window is on screen.
void completeMainWindow();
QWidget* windowOf(const Panel& panel);
void panelDiscarded(int panel);
// The commit hook (setCommitHook): whether one is installed, and its call.
bool commitHookInstalled();
void reportCommit(const CommitReport& report);
// An operator's action, from the commit that starts it to its report: a
// status message left from an earlier press or action goes as it begins;
// one shown while it runs (a refusal, a file not taken), or by the press
// that led to it, stays past its report. Actions nest.
void actionBegins();
void actionEnds();

}  // namespace kovra610::runtime::detail
