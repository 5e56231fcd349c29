// D2XX semantics over libftdi1: port numbering, handles, our own receive
// queue and the time-outs, with every USB access going through the seam.
#include "hardware_backend.h"

#include <ftdi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdio>

namespace kovra610::d2xx {

std::shared_ptr<Backend> makeHardwareBackend(std::string serial) {
    return std::make_shared<hw::HardwareBackend>(
        hw::makeLibftdiSeam(), &std::chrono::steady_clock::now, std::move(serial));
}

namespace hw {
namespace {

using std::chrono::milliseconds;

// Handle values come from one counter for the whole process and are never
// handed out twice, so a handle that was closed, or that belongs to another
// backend, can never be mistaken for a live one.
std::uintptr_t nextHandleKey() {
    static std::atomic<std::uintptr_t> next{0x6100};
    return ++next;
}

std::uintptr_t keyOf(FT_HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

int clampToInt(unsigned long long value) {
    return static_cast<int>(std::min<unsigned long long>(value, INT_MAX));
}

// Bytes read from the device in one poll at most.
constexpr std::size_t kPollBytes = 4096;

}  // namespace

HardwareBackend::HardwareBackend(std::shared_ptr<FtdiSeam> seam, Clock clock, std::string serial)
    : seam_(std::move(seam)), clock_(std::move(clock)), serial_(std::move(serial)) {}

HardwareBackend::~HardwareBackend() {
    // Ports nobody closed go back to the state a close leaves them in.
    for (auto& [key, port] : ports_) {
        if (!port.inResetMode) seam_->setBitMode(port.port, 0x00, BITMODE_RESET);
        seam_->close(port.port);
    }
}

HardwareBackend::OpenPort* HardwareBackend::find(FT_HANDLE handle) {
    if (handle == nullptr) return nullptr;
    auto it = ports_.find(keyOf(handle));
    return it == ports_.end() ? nullptr : &it->second;
}

FT_STATUS HardwareBackend::settingResult(int seamResult) const {
    return seamResult < 0 ? FT_IO_ERROR : FT_OK;
}

const std::string& HardwareBackend::chosenSerial() const {
    return serial_.empty() ? held_ : serial_;
}

bool HardwareBackend::named(const UsbDevice& device) const {
    return device.productId == kFt2232ProductId && device.serial == chosenSerial();
}

int HardwareBackend::usableDevices(std::vector<UsbDevice>& devices, bool report) {
    const int result = seam_->enumerate(devices);
    const std::string& serial = chosenSerial();
    if (result < 0 || serial.empty()) return result;
    std::vector<UsbDevice> boards;
    std::string attached, places;
    for (const UsbDevice& device : devices) {
        if (named(device)) {
            boards.push_back(device);
            char place[16];
            std::snprintf(place, sizeof place, "%03u:%03u", static_cast<unsigned>(device.bus),
                          static_cast<unsigned>(device.address));
            places += (places.empty() ? "" : ", ") + std::string(place);
        }
        attached += (attached.empty() ? "" : ", ") + chipName(device) + " " +
                    (device.serial.empty() ? "(serial number unknown)" : device.serial);
    }
    if (boards.size() == 1) {
        devices = boards;
        return 0;
    }
    // Two boards with one serial number: which is meant cannot be told, and
    // guessing would drive the wrong board.
    const std::string setting =
        serial_.empty() ? "KOVRA610_BOARD=usb: " : "KOVRA610_BOARD=usb:serial=" + serial_ + ": ";
    attached = attached.empty() ? "no FTDI device is attached" : "attached: " + attached;
    if (report && boards.size() > 1) {
        reportBoardProblem(setting + std::to_string(boards.size()) +
                           " FT2232H carry serial number " + serial + " (USB devices " + places +
                           "), so which is the board cannot be told: give each board a serial "
                           "number of its own, or leave only one attached");
    } else if (report && serial_.empty()) {
        reportBoardProblem(setting + "the board opened before, FT2232H " + serial +
                           ", is not attached (" + attached +
                           "): it is the only board opened again; start the tool again to take "
                           "another");
    } else if (report) {
        reportBoardProblem(setting + "no FT2232H with serial number " + serial + " is attached (" +
                           attached + ")");
    }
    devices.clear();
    return 0;
}

std::string HardwareBackend::boardName() const {
    return opened_.empty() ? "USB" : opened_;
}

void HardwareBackend::announce(const UsbDevice& device, int interfaceIndex) {
    opened_ = chipName(device) + (device.serial.empty() ? "" : " " + device.serial);
    openedSerial_ = device.serial;
    std::printf("Opened %s \"%s\" serial %s (bus %03u, address %03u), interface %c\n",
                chipName(device).c_str(), device.description.c_str(),
                device.serial.empty() ? "(none)" : device.serial.c_str(),
                static_cast<unsigned>(device.bus), static_cast<unsigned>(device.address),
                'A' + interfaceIndex);
}

bool HardwareBackend::listPorts(std::vector<FtdiPort>& ports, std::string* error) {
    ports.clear();
    std::vector<UsbDevice> devices;
    if (seam_->enumerate(devices) < 0) {
        if (error != nullptr) *error = seam_->lastError();
        return false;
    }
    // A serial number carried by two boards names neither.
    const bool oneNamed =
        std::count_if(devices.begin(), devices.end(),
                      [this](const UsbDevice& device) { return named(device); }) == 1;
    for (const UsbDevice& device : devices) {
        const bool thisOne = chosenSerial().empty() ? ports.empty() : oneNamed && named(device);
        for (int i = 0; i < portsOf(device.productId); ++i) {
            FtdiPort port;
            port.index = static_cast<int>(ports.size());
            port.chip = chipName(device);
            port.serial = device.serial;
            port.description = device.description;
            port.bus = device.bus;
            port.address = device.address;
            port.interfaceLetter = static_cast<char>('A' + i);
            port.selected = thisOne && i == 0 && hasMpsse(device);  // else the open refuses it
            ports.push_back(std::move(port));
        }
    }
    return true;
}

FT_STATUS HardwareBackend::createDeviceInfoList(DWORD* count) {
    if (count == nullptr) return FT_INVALID_PARAMETER;
    std::vector<UsbDevice> devices;
    if (usableDevices(devices, true) < 0) return FT_IO_ERROR;
    DWORD ports = 0;
    for (const UsbDevice& device : devices) ports += static_cast<DWORD>(portsOf(device.productId));
    *count = ports;
    return FT_OK;
}

FT_STATUS HardwareBackend::open(int index, FT_HANDLE* handle) {
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    if (index < 0) return FT_DEVICE_NOT_FOUND;

    std::vector<UsbDevice> devices;
    if (usableDevices(devices, false) < 0) return FT_IO_ERROR;

    // Walk the devices in enumeration order, their interfaces within each.
    int first = 0;
    const UsbDevice* device = nullptr;
    int interfaceIndex = 0;
    for (const UsbDevice& candidate : devices) {
        const int ports = portsOf(candidate.productId);
        if (index < first + ports) {
            device = &candidate;
            interfaceIndex = index - first;
            break;
        }
        first += ports;
    }
    if (device == nullptr) return FT_DEVICE_NOT_FOUND;

    for (const auto& [key, port] : ports_) {
        if (port.device == *device && port.interfaceIndex == interfaceIndex) {
            return FT_DEVICE_NOT_OPENED;  // already ours
        }
    }
    // A port without an MPSSE (a USB serial adapter first on the bus) is
    // not the board: it is left alone, not sent the link's commands.
    if (!hasMpsse(*device)) {
        char where[160];
        std::snprintf(where, sizeof where,
                      "FTDI port %d (interface %c of %s %s, USB device %03u:%03u) has no MPSSE",
                      index, 'A' + interfaceIndex, chipName(*device).c_str(),
                      device->serial.empty() ? "without serial number" : device->serial.c_str(),
                      static_cast<unsigned>(device->bus), static_cast<unsigned>(device->address));
        reportBoardProblem(std::string(where) +
                           " and cannot be the board: name the board's FT2232H with "
                           "KOVRA610_BOARD=usb:serial=SN (the devices command lists the ports)");
        return FT_DEVICE_NOT_OPENED;
    }

    FtdiSeam::Port seamPort = 0;
    const int result = seam_->open(*device, interfaceIndex, &seamPort);
    if (result == FtdiSeam::kDeviceGone) return FT_DEVICE_NOT_FOUND;
    if (result < 0) {
        char where[96];
        std::snprintf(where, sizeof where, "FTDI port %d (interface %c of USB device %03u:%03u)",
                      index, 'A' + interfaceIndex, static_cast<unsigned>(device->bus),
                      static_cast<unsigned>(device->address));
        reportBoardProblem(std::string(where) + " could not be opened: " + seam_->lastError() +
                           " (is it in use by another program, or is the udev rule for FTDI "
                           "devices missing?)");
        return FT_DEVICE_NOT_OPENED;
    }

    OpenPort port;
    port.port = seamPort;
    port.device = *device;
    port.interfaceIndex = interfaceIndex;
    const std::uintptr_t key = nextHandleKey();
    // The board plain "usb" took is the board from now on: a re-open (after
    // a pulled cable) finds it again or none, and never drives another
    // FT2232H that has come first on the bus, whose chip holds nothing this
    // session sent. A board whose serial number is not its own alone cannot
    // be told again, and is not held.
    const auto sameSerial = [device](const UsbDevice& other) {
        return other.productId == kFt2232ProductId && other.serial == device->serial;
    };
    if (serial_.empty() && held_.empty() && interfaceIndex == 0 &&
        std::count_if(devices.begin(), devices.end(), sameSerial) == 1 && sameSerial(*device))
        held_ = device->serial;
    ports_.emplace(key, std::move(port));
    *handle = reinterpret_cast<FT_HANDLE>(key);
    announce(*device, interfaceIndex);
    return FT_OK;
}

FT_STATUS HardwareBackend::close(FT_HANDLE handle) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    // The bit mode goes back to reset, once: not again when the last mode
    // set already was reset.
    const int modeResult =
        port->inResetMode ? 0 : seam_->setBitMode(port->port, 0x00, BITMODE_RESET);
    const int closeResult = seam_->close(port->port);
    ports_.erase(keyOf(handle));
    return modeResult < 0 || closeResult < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS HardwareBackend::resetDevice(FT_HANDLE handle) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    port->queue.clear();
    return settingResult(seam_->reset(port->port));
}

FT_STATUS HardwareBackend::pollIntoQueue(OpenPort& port, int pollMs) {
    const std::size_t room = kQueueLimit - std::min(port.queue.size(), kQueueLimit);
    if (room == 0) return FT_OK;
    std::array<std::uint8_t, kPollBytes> chunk{};
    const int want = static_cast<int>(std::min(room, chunk.size()));
    const int got = seam_->readData(port.port, chunk.data(), want, pollMs);
    if (got < 0) return FT_IO_ERROR;
    port.queue.insert(port.queue.end(), chunk.begin(), chunk.begin() + std::min(got, want));
    return FT_OK;
}

FT_STATUS HardwareBackend::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
    const FT_STATUS status = pollIntoQueue(*port, kQueuePollMs);
    *rxBytes = static_cast<DWORD>(port->queue.size());
    return status;
}

FT_STATUS HardwareBackend::read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* returned) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    if (returned == nullptr || (buffer == nullptr && toRead > 0)) return FT_INVALID_PARAMETER;

    auto* out = static_cast<std::uint8_t*>(buffer);
    const DWORD fromQueue = static_cast<DWORD>(std::min<std::size_t>(toRead, port->queue.size()));
    std::copy_n(port->queue.begin(), fromQueue, out);
    port->queue.erase(port->queue.begin(), port->queue.begin() + fromQueue);
    DWORD got = fromQueue;

    // The rest comes straight from the device, waiting up to the read
    // time-out; a time-out of 0 allows one brief poll and no more.
    const bool singlePoll = port->readTimeoutMs == 0;
    const auto deadline = clock_() + milliseconds(port->readTimeoutMs);
    while (got < toRead) {
        int pollMs = kPollMs;
        if (!singlePoll) {
            const auto left = std::chrono::ceil<milliseconds>(deadline - clock_()).count();
            if (left <= 0) break;
            pollMs = clampToInt(static_cast<unsigned long long>(left));
        }
        const int want = clampToInt(toRead - got);
        const int n = seam_->readData(port->port, out + got, want, pollMs);
        if (n < 0) {
            *returned = got;
            return FT_IO_ERROR;
        }
        got += static_cast<DWORD>(std::min(n, want));
        if (singlePoll) break;
    }
    *returned = got;
    return FT_OK;
}

FT_STATUS HardwareBackend::write(FT_HANDLE handle, const void* buffer, DWORD toWrite,
                                 DWORD* written) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    if (written == nullptr || (buffer == nullptr && toWrite > 0)) return FT_INVALID_PARAMETER;

    const auto* in = static_cast<const std::uint8_t*>(buffer);
    *written = 0;
    while (*written < toWrite) {
        const int chunk = clampToInt(toWrite - *written);
        const int n = seam_->writeData(port->port, in + *written, chunk);
        // A write that moves nothing would only repeat itself: give up.
        if (n <= 0) return FT_IO_ERROR;
        *written += static_cast<DWORD>(std::min(n, chunk));
    }
    return FT_OK;
}

FT_STATUS HardwareBackend::setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    // Transfer sizes are whole 64-byte packets up to 64 KiB; the out size
    // only has to be usable as a write chunk.
    if (inSize < 64 || inSize > 65536 || inSize % 64 != 0) return FT_INVALID_PARAMETER;
    if (outSize < 1 || outSize > 65536) return FT_INVALID_PARAMETER;
    return settingResult(seam_->setChunkSizes(port->port, inSize, outSize));
}

FT_STATUS HardwareBackend::setChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled,
                                    UCHAR errorChar, UCHAR errorEnabled) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    if (seam_->setEventChar(port->port, eventChar, eventEnabled != 0) < 0) return FT_IO_ERROR;
    return settingResult(seam_->setErrorChar(port->port, errorChar, errorEnabled != 0));
}

FT_STATUS HardwareBackend::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    // libusb reads 0 as "wait forever": the read time-out of 0 ("do not
    // wait") becomes the brief poll, a write time-out of 0 the default.
    const int usbReadMs = readMs == 0 ? kPollMs : clampToInt(readMs);
    const int usbWriteMs = writeMs == 0 ? kDefaultWriteTimeoutMs : clampToInt(writeMs);
    const FT_STATUS status = settingResult(seam_->setTimeouts(port->port, usbReadMs, usbWriteMs));
    if (status == FT_OK) port->readTimeoutMs = readMs;
    return status;
}

FT_STATUS HardwareBackend::setLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    if (ms == 0) return FT_INVALID_PARAMETER;  // the chip takes 1 to 255 ms
    return settingResult(seam_->setLatencyTimer(port->port, ms));
}

FT_STATUS HardwareBackend::setFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    int sioFlow = 0;
    switch (flow) {
        case FT_FLOW_NONE:
            sioFlow = SIO_DISABLE_FLOW_CTRL;
            break;
        case FT_FLOW_RTS_CTS:
            sioFlow = SIO_RTS_CTS_HS;
            break;
        case FT_FLOW_DTR_DSR:
            sioFlow = SIO_DTR_DSR_HS;
            break;
        case FT_FLOW_XON_XOFF:
            sioFlow = SIO_XON_XOFF_HS;
            break;
        default:
            return FT_INVALID_PARAMETER;
    }
    return settingResult(seam_->setFlowControl(port->port, sioFlow, xon, xoff));
}

FT_STATUS HardwareBackend::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    OpenPort* port = find(handle);
    if (port == nullptr) return FT_INVALID_HANDLE;
    switch (mode) {
        case BITMODE_RESET:
        case BITMODE_BITBANG:
        case BITMODE_MPSSE:
        case BITMODE_SYNCBB:
        case BITMODE_MCU:
        case BITMODE_OPTO:
        case BITMODE_CBUS:
        case BITMODE_SYNCFF:
            break;
        default:
            return FT_INVALID_PARAMETER;
    }
    const int result = seam_->setBitMode(port->port, mask, mode);
    port->inResetMode = result >= 0 && mode == BITMODE_RESET;
    return settingResult(result);
}

}  // namespace hw
}  // namespace kovra610::d2xx
