// Operates a loaded panel the way an operator does, through its widgets:
// for programs that run the panel without a display (kovra610-cli) and for
// whatever drives a panel from outside.
#pragma once

#include <string>

namespace kovra610::runtime::operate {

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

}  // namespace kovra610::runtime::operate
