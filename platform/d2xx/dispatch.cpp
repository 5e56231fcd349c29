// Forwards the D2XX-compatible C operations to the active backend.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "backend.h"
#include "hardware/hardware_backend.h"
#include "no_device_backend.h"
#include "virtual_board/virtual_board.h"

namespace kovra610::d2xx {
namespace {

std::shared_ptr<Backend>& slot() {
    static std::shared_ptr<Backend> active;
    return active;
}

std::string& boardProblem() {
    static std::string line;
    return line;
}

}  // namespace

BoardSetting parseBoardSetting(const std::string& value) {
    BoardSetting setting;
    static const struct {
        const char* prefix;
        BoardSetting::Kind kind;
    } named[] = {{"usb:serial=", BoardSetting::Kind::Usb},
                 {"virtual:serial=", BoardSetting::Kind::Virtual}};
    if (value.empty() || value == "usb") {
        setting.kind = BoardSetting::Kind::Usb;
    } else if (value == "virtual") {
        setting.kind = BoardSetting::Kind::Virtual;
    } else {
        for (const auto& form : named) {
            const std::string prefix = form.prefix;
            if (value.rfind(prefix, 0) != 0) continue;
            setting.serial = value.substr(prefix.size());
            const bool printable =
                std::all_of(setting.serial.begin(), setting.serial.end(),
                            [](unsigned char c) { return c > 0x20 && c < 0x7F; });
            if (setting.serial.empty()) {
                setting.reason = prefix + " needs the board's serial number after the \"=\"";
            } else if (!printable || setting.serial.size() > 64) {
                setting.reason = "\"" + setting.serial +
                                 "\" is not a serial number (up to 64 printable characters, "
                                 "no spaces)";
            } else {
                setting.kind = form.kind;
            }
            break;
        }
        if (setting.kind == BoardSetting::Kind::Invalid && setting.reason.empty()) {
            setting.reason = "\"" + value +
                             "\" is not a known board; use \"usb\", \"usb:serial=SN\", "
                             "\"virtual\" or \"virtual:serial=NAME\"";
        }
    }
    if (setting.kind == BoardSetting::Kind::Invalid) setting.serial.clear();
    return setting;
}

std::string boardSettingText() {
    const char* value = std::getenv("KOVRA610_BOARD");
    return value != nullptr && *value != '\0' ? value : "usb";
}

bool boardSettingKnown(std::string* why) {
    const char* value = std::getenv("KOVRA610_BOARD");
    if (value == nullptr) return true;
    const BoardSetting setting = parseBoardSetting(value);
    if (setting.kind != BoardSetting::Kind::Invalid) return true;
    *why = std::string("KOVRA610_BOARD=") + value + ": " + setting.reason;
    return false;
}

std::shared_ptr<Backend> makeBackendFor(const std::string& boardSetting) {
    const BoardSetting setting = parseBoardSetting(boardSetting);
    switch (setting.kind) {
        case BoardSetting::Kind::Usb:
            return makeHardwareBackend(setting.serial);
        case BoardSetting::Kind::Virtual:
            return vboard::makeVirtualBoardBackend(setting.serial);
        case BoardSetting::Kind::Invalid:
            break;
    }
    reportBoardProblem("KOVRA610_BOARD=" + boardSetting + ": " + setting.reason +
                       ". No FTDI device will be found.");
    return std::make_shared<NoDeviceBackend>();
}

void reportBoardProblem(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    boardProblem() = line;
}

std::string lastBoardProblem() {
    return boardProblem();
}

void forgetBoardProblem() {
    boardProblem().clear();
}

bool listFtdiPorts(std::vector<FtdiPort>& ports, std::string* error) {
    const BoardSetting setting = parseBoardSetting(boardSettingText());
    // The active hardware backend lists through its own libusb context.
    if (setting.kind == BoardSetting::Kind::Usb) activeBackend();
    if (auto* active = dynamic_cast<hw::HardwareBackend*>(slot().get()))
        return active->listPorts(ports, error);
    hw::HardwareBackend probe(hw::makeLibftdiSeam(), &std::chrono::steady_clock::now,
                              setting.serial);
    const bool listed = probe.listPorts(ports, error);
    for (FtdiPort& port : ports) port.selected &= setting.kind == BoardSetting::Kind::Usb;
    if (setting.kind == BoardSetting::Kind::Virtual && !setting.serial.empty())
        ports.push_back(virtualBoardPort(setting.serial));
    return listed;
}

FtdiPort virtualBoardPort(const std::string& serial) {
    FtdiPort port;
    port.index = -1;
    port.chip = "FT2232H";
    port.serial = serial;
    port.description = vboard::kVirtualBoardDescription;
    port.selected = true;
    port.virtualBoard = true;
    return port;
}

std::shared_ptr<Backend> installBackend(std::shared_ptr<Backend> backend) {
    std::shared_ptr<Backend> previous = std::move(slot());
    slot() = std::move(backend);
    return previous;
}

Backend& activeBackend() {
    if (!slot()) {
        const char* setting = std::getenv("KOVRA610_BOARD");
        slot() = makeBackendFor(setting != nullptr ? setting : "");
    }
    return *slot();
}

}  // namespace kovra610::d2xx

using kovra610::d2xx::activeBackend;

extern "C" {

FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
    return activeBackend().createDeviceInfoList(lpdwNumDevs);
}
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
    return activeBackend().open(deviceNumber, pHandle);
}
FT_STATUS FT_Close(FT_HANDLE ftHandle) {
    return activeBackend().close(ftHandle);
}
FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle) {
    return activeBackend().resetDevice(ftHandle);
}
FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes) {
    return activeBackend().getQueueStatus(ftHandle, dwRxBytes);
}
FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                  LPDWORD lpBytesReturned) {
    return activeBackend().read(ftHandle, lpBuffer, dwBytesToRead, lpBytesReturned);
}
FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                   LPDWORD lpBytesWritten) {
    return activeBackend().write(ftHandle, lpBuffer, dwBytesToWrite, lpBytesWritten);
}
FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize) {
    return activeBackend().setUSBParameters(ftHandle, ulInTransferSize, ulOutTransferSize);
}
FT_STATUS FT_SetChars(FT_HANDLE ftHandle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled) {
    return activeBackend().setChars(ftHandle, eventChar, eventCharEnabled, errorChar,
                                    errorCharEnabled);
}
FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG readTimeout, ULONG writeTimeout) {
    return activeBackend().setTimeouts(ftHandle, readTimeout, writeTimeout);
}
FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
    return activeBackend().setLatencyTimer(ftHandle, ucLatency);
}
FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, USHORT flowControl, UCHAR xOn, UCHAR xOff) {
    return activeBackend().setFlowControl(ftHandle, flowControl, xOn, xOff);
}
FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable) {
    return activeBackend().setBitMode(ftHandle, ucMask, ucEnable);
}

}  // extern "C"
