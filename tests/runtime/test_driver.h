// What the tests use to drive and look at a panel: the operator's actions
// (the run-time's own), scripted popup answers with a record of the popups,
// what a control shows, and pictures. Works headless
// (QT_QPA_PLATFORM=offscreen).
#pragma once

#include <string>
#include <vector>

#include "platform/runtime/panel_operator.h"
#include "platform/runtime/popup_answers.h"

namespace kovra610::runtime::testing {

using operate::commit;
using operate::postCommit;
using operate::press;

// When on, popups are answered from the script and never block: file popups
// with no queued answer cancel, message popups are acknowledged at once.
// When off, the modal dialogs come back. Test programs turn it on.
void setScriptedPopups(bool on);

// Answers for the next file popups, in order: a path, or "" to cancel.
void answerNextFilePopup(const std::string& pathOrEmptyToCancel);
// The message popups answered from the script, with their texts.
struct ShownPopup {
    std::string title;
    std::string message;
};
std::vector<ShownPopup> shownMessagePopups();
void clearShownMessagePopups();
// The arguments of the file popups answered from the script, in order.
using FilePopupCall = FilePopupRequest;
std::vector<FilePopupCall> filePopupCalls();

// What the control shows, as text (numerics as their value, rings as the
// selected item's value, LEDs "0"/"1", command buttons their label).
std::string shownText(int panel, int control);
// LED busy attribute (630) as last set.
int ledBusy(int panel, int control);

// Saves a picture of the panel as PNG. Returns true on success.
bool savePng(int panel, const std::string& path);

}  // namespace kovra610::runtime::testing
