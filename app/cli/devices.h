// kovra610-cli devices: the FTDI ports attached, and the one the tool would
// open.
#pragma once

namespace kovra610::cli {

// Lists the ports on standard output, one line each, or one JSON object
// each with `json`. Returns the exit status: 0, or 3 when the USB bus
// cannot be read.
int listDevices(bool json);

}  // namespace kovra610::cli
