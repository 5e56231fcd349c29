// Backends of the D2XX-compatible driver layer.
//
// Every FT_* call of ftd2xx.h forwards to exactly one installed Backend. The
// first call picks one from the environment variable KOVRA610_BOARD:
//   unset or "usb"   the libftdi1 hardware backend: port 0 is interface A of
//                    the first FTDI device in enumeration order
//   "usb:serial=SN"  the same, seeing only the FT2232H with serial number SN
//                    (port 0 is its interface A); no such device, no port
//   "virtual"        the virtual board (emulated FT2232H and KOVRA610)
//   "virtual:serial=NAME"  a virtual board standing in for the real board of
//                    serial number NAME (see virtual_board.h)
// Tests install their own with installBackend().
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ftd2xx.h"

namespace kovra610::d2xx {

// The driver calls every backend answers, listed once: Backend declares them
// with KOVRA610_D2XX_BACKEND_CALLS(virtual, = 0) and each backend that defines
// them out of line with KOVRA610_D2XX_BACKEND_CALLS(, override), so the
// signatures cannot drift apart.
#define KOVRA610_D2XX_BACKEND_CALLS(head, tail)                                               \
    head FT_STATUS createDeviceInfoList(DWORD* count) tail;                                   \
    head FT_STATUS open(int index, FT_HANDLE* handle) tail;                                   \
    head FT_STATUS close(FT_HANDLE handle) tail;                                              \
    head FT_STATUS resetDevice(FT_HANDLE handle) tail;                                        \
    head FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) tail;                     \
    head FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* returned) tail;  \
    head FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written) \
        tail;                                                                                 \
    head FT_STATUS setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) tail;      \
    head FT_STATUS setChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled,            \
                            UCHAR errorChar, UCHAR errorEnabled) tail;                        \
    head FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) tail;           \
    head FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR ms) tail;                          \
    head FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) tail; \
    head FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) tail

class Backend {
public:
    virtual ~Backend() = default;

    KOVRA610_D2XX_BACKEND_CALLS(virtual, = 0);

    // The board as the operator sees it named: "VIRTUAL" for the virtual
    // board, the device last opened ("FT2232H KV610001") for a real one,
    // "USB" before anything was opened.
    virtual std::string boardName() const { return "USB"; }
    // The serial number of the board last opened; "" when it has none (the
    // plain virtual board) or nothing was opened.
    virtual std::string boardSerial() const { return ""; }
};

// Replaces the active backend; returns the one it replaces (may be null if
// none was chosen yet). Passing null makes the next call choose again from
// the environment.
std::shared_ptr<Backend> installBackend(std::shared_ptr<Backend> backend);

// The active backend, chosen from KOVRA610_BOARD on first use.
Backend& activeBackend();

// Backend made from a KOVRA610_BOARD value ("" or "usb", "usb:serial=SN",
// "virtual", "virtual:serial=NAME"). An unknown value gives a backend that reports no devices,
// after one line on standard error saying why.
std::shared_ptr<Backend> makeBackendFor(const std::string& boardSetting);

// A KOVRA610_BOARD value, read.
struct BoardSetting {
    enum class Kind { Usb, Virtual, Invalid };
    Kind kind = Kind::Invalid;
    std::string serial;  // the board chosen by serial number, or empty
    std::string reason;  // Invalid: why the value names no board
};
BoardSetting parseBoardSetting(const std::string& value);
// KOVRA610_BOARD as a session names its board: the value, or "usb" when it
// is unset or empty.
std::string boardSettingText();
// Whether KOVRA610_BOARD names a board the driver knows (unset does); false
// with "KOVRA610_BOARD=VALUE: reason" otherwise.
bool boardSettingKnown(std::string* why);

// One FTDI port on the USB bus.
struct FtdiPort {
    int index = 0;       // its number among all FTDI ports, in enumeration order
    std::string chip;    // "FT2232H", "FT232R" ...
    std::string serial;  // empty when unknown (no permission to read it)
    std::string description;
    unsigned bus = 0;
    unsigned address = 0;
    char interfaceLetter = 'A';
    bool selected = false;      // the current KOVRA610_BOARD setting opens it
    bool virtualBoard = false;  // the named virtual board, not on the USB bus
};

// Why the board could not be found or opened, in one line: the backends say
// it on standard error with reportBoardProblem(), and a front end gives the
// last one as the reason its start-up or a re-open failed. "" when none was
// reported since the last forgetBoardProblem().
void reportBoardProblem(const std::string& line);
std::string lastBoardProblem();
void forgetBoardProblem();

// Every FTDI port attached, for listing; with KOVRA610_BOARD=virtual:serial=
// NAME also, last, port A of that virtual board (index -1, no bus or address). False, with `error`
// set, when the USB bus cannot be read.
bool listFtdiPorts(std::vector<FtdiPort>& ports, std::string* error);
// Port A of the virtual board named `serial`, as listFtdiPorts lists it.
FtdiPort virtualBoardPort(const std::string& serial);

// A port as one JSON object (devices --json, serve's hello line, the session
// log).
std::string portJson(const FtdiPort& port);
// The ports as the devices table, a line each with a heading, and what the
// board setting makes of them (the virtual board; none of them).
std::string portsTable(const std::vector<FtdiPort>& ports);
// The port the board setting opens, as listFtdiPorts lists it (a named
// virtual board's too), as JSON; "" for the plain virtual board or when the
// port is not listed.
std::string openedPortJson();

}  // namespace kovra610::d2xx
