// Test driver of the panel run-time: operates a loaded panel exactly as an
// operator would, answers popups from a script, and takes pictures. Works
// headless (QT_QPA_PLATFORM=offscreen).
#pragma once

#include <string>
#include <vector>

namespace kovra610::runtime::testing {

// Puts the value into the control as an operator's edit would and then
// delivers the commit event to its callback (if it has one). A numeric
// refuses a value outside its range (or not a whole number for a whole-number
// numeric) the way the panel does, and a ring a value it does not list: then
// nothing is delivered and the result is UIE_OUT_OF_RANGE. Otherwise returns
// the callback's result (0 when the control has none), or a negative
// run-time error (UIE_INVALID_TYPE for controls an operator cannot edit).
int commit(int panel, int control, double value);
int commit(int panel, int control, unsigned int value);
int commit(int panel, int control, int value);
int commit(int panel, int control, const std::string& text);
// Presses a command button.
int press(int panel, int control);

// Queues the commit of a value as a pending event; it runs when the event
// loop or ProcessSystemEvents next dispatches events.
void postCommit(int panel, int control, int value);

// Answers for the next file popups, in order: a full path, or "" to cancel.
void answerNextFilePopup(const std::string& pathOrEmptyToCancel);
// Number of message popups that have been acknowledged, with their texts.
struct ShownPopup {
    std::string title;
    std::string message;
};
std::vector<ShownPopup> shownMessagePopups();
void clearShownMessagePopups();
// The arguments the last file popup was opened with.
struct FilePopupCall {
    std::string directory, fileSpec, typeList, title;
    int buttonLabel = 0, restrictDirectory = 0, restrictExtension = 0, allowCancel = 0,
        allowMakeDirectory = 0;
};
std::vector<FilePopupCall> filePopupCalls();

// When set, popups never block: file popups with no queued answer cancel,
// message popups are acknowledged at once. Tests turn this on.
void setScriptedPopups(bool on);

// What the control shows, as text (numerics as their value, rings as the
// selected item's value, LEDs "0"/"1").
std::string shownText(int panel, int control);
// LED busy attribute (630) as last set.
int ledBusy(int panel, int control);

// Saves a picture of the panel as PNG. Returns true on success.
bool savePng(int panel, const std::string& path);

}  // namespace kovra610::runtime::testing
