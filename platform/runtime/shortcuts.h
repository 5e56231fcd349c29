// Key shortcuts for a panel's command buttons. The program names the
// buttons that get one; the panel resource stays as it is.
#pragma once

namespace kovra610::runtime {

// Gives a command button a key shortcut, a key sequence as Qt writes it
// ("Ctrl+O"). While the panel's window is active and the button can be
// clicked, the keys press it as a click does: focus moves to the button
// (committing a field being edited) and its callback runs. A button has one
// shortcut; "" removes it. Returns UIE_NO_ERROR, UIE_INVALID_PANEL,
// UIE_INVALID_CONTROL, or UIE_INVALID_TYPE for a control that is not a
// command button or keys that are not one key sequence.
int setButtonShortcut(int panel, int control, const char* keys);

}  // namespace kovra610::runtime
