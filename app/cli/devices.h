// kovra610-cli devices: the FTDI ports attached, and the one the tool would
// open.
#pragma once

#include <string>

namespace kovra610::cli {

// Lists the ports on standard output, one line each, or one JSON object
// each with `json`. Returns the exit status: 0, or 3 when the USB bus
// cannot be read.
int listDevices(bool json);

// The USB port the board setting opens, as listed by devices; "" when the
// board is not a USB one or the port is not found.
std::string openedPortJson();

}  // namespace kovra610::cli
