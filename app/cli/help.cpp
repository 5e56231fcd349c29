// The text of kovra610-cli --help: its head and tail around the lines of
// the sub-commands' rows.
#include <string>

#include "app/cli/cli.h"

namespace kovra610::cli {
namespace {

const char kHelpHead[] =
    R"(Usage: kovra610-cli [--json] [--attach] [--log FILE] SUB-COMMAND [ARGUMENTS]
                    [SUB-COMMAND [ARGUMENTS]]...
       kovra610-cli [--attach] [--log FILE] serve
       kovra610-cli [--json] devices
       kovra610-cli --help | --version

Sets up and reads back the KOVRA610 evaluation board from scripts, without a
display. It starts exactly as the panel program does: the link to the
FT2232H is opened, the chip is reset, and Dac/kovra610_defaults.sbus of the
working directory is loaded and sent. The panel is loaded but never shown;
every sub-command then runs through the same routines as the panel's
controls, in the order given.

)";

const char kHelpTail[] = R"(
Numbers are decimal or 0x hexadecimal. CH is 1 (channel 0), 2 (channel 1)
or 3 (both); RW 1 write, 0 read; ADDR 0..127; DATA 0..65535.

Options:
  --json     print results as JSON lines on standard output. The first line
             names the tool, its version and the board:
               {"ok":true,"hello":"kovra610-cli","version":"1.0.0","board":"virtual"}
             read-all gives one object per entry (the entry's name, channel
             and address as listed, the read/write flag and data read back,
             and the level: null for register entries)
               {"index":0,"name":"DVH_Ch0","ch":1,"addr":0,"rw":0,"data":36044,"volts":3}
             read gives the answer word
               {"ch":1,"addr":25,"rw":0,"data":6687,"word":20060703}
             verify one object per differing entry, get the field.
             Everything else (link progress, the read-back listing) then
             goes to standard error, so standard output holds JSON only.
  --attach   open the link without resetting the chip and without loading
             or sending the default setup file: the image is read back from
             the chip (its entries named by Dac/kovra610_defaults.sbus), so
             the first edit sends only itself
  --log FILE append the session log to FILE, one JSON line each: the
             start (time, version, board setting), the board opened and its
             serial number, every setup file read (path and SHA-256), every
             command and its answer, the end. A FILE that cannot be written
             is a usage error: nothing is run
  --help     show this text
  --version  show the version

Without --json, link progress, the read-back listing and read results go to
standard output. Errors go to standard error as one line naming the step:
  kovra610-cli: step 3 (load missing.sbus): no such file

The whole command line, scripts and the setup files to load included, is
checked before the board is touched. A failed step ends the run; the steps
after it do not run. A setup file is written under a temporary name and
renamed into place, so a failed save leaves no partial file.

Exit status:
  0  every step done
  2  usage error: nothing was run (a --log FILE that cannot be written too)
  3  link down: no board answered at start-up, or the link was lost
  4  a step failed (a difference found by verify included), the panel
     could not be loaded, or the session log could no longer be written

Environment:
  KOVRA610_BOARD=usb|usb:serial=SN|virtual|virtual:serial=NAME
                               the real board (default), the FT2232H with
                               that serial number, the virtual board, or a
                               virtual board standing in for the board NAME
  KOVRA610_BOARD_TRACE=F.vcd   the virtual board's pin trace
  QT_QPA_PLATFORM              set to "offscreen" when unset
)";

// A row's lines in --help: the usage, then the help from column 25.
std::string helpLines(const Command& c) {
    std::string usage = std::string("  ") + c.usage;
    std::string out;
    std::string text = c.help;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        usage.resize(25, ' ');
        out += usage + text.substr(start, end - start) + "\n";
        usage.clear();
        start = end + 1;
    }
    return out;
}

}  // namespace

const char* helpText() {
    static const std::string text = [] {
        std::string t = std::string(kHelpHead) + "Sub-commands:\n";
        for (const Command& c : commandRows()) {
            if (c.help != nullptr) t += helpLines(c);
        }
        return t + kHelpTail;
    }();
    return text.c_str();
}

}  // namespace kovra610::cli
