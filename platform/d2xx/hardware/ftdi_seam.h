// The thin layer between the hardware backend and libftdi1.
//
// The backend keeps the receive queue, the time-outs, the handles and the
// port numbering; everything that touches USB goes through this interface.
// The real one calls libftdi (makeLibftdiSeam); tests put a fake in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kovra610::d2xx::hw {

// One FTDI device on the bus, as enumeration finds it.
struct UsbDevice {
    UsbDevice() = default;
    UsbDevice(std::uint16_t product, std::uint8_t busNumber, std::uint8_t busAddress)
        : productId(product), bus(busNumber), address(busAddress) {}

    std::uint16_t productId = 0;  // see kFtdiChips
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint16_t bcdDevice = 0;  // the release, which tells an FT2232H from an FT2232C/D
    // From the device's string descriptors; empty when it has none or
    // cannot be opened to read them.
    std::string serial;
    std::string description;

    // The same device: same kind, same place on the bus.
    bool operator==(const UsbDevice& other) const {
        return productId == other.productId && bus == other.bus && address == other.address;
    }
};

// The FTDI chips the backend knows: USB product id, the release that
// tells two chips of one product id apart (0: any release), the name for
// messages, the number of ports (interfaces) and whether the chip has an
// MPSSE. The first row that fits a device names it.
struct FtdiChip {
    std::uint16_t productId;
    std::uint16_t release;
    const char* name;
    int ports;
    bool mpsse;
};
inline constexpr std::uint16_t kFt2232ProductId = 0x6010;  // FT2232C/D/H: the board's chip
inline constexpr FtdiChip kFtdiChips[] = {
    {0x6001, 0x0600, "FT232R", 1, false},
    {0x6001, 0, "FT232BM", 1, false},
    {kFt2232ProductId, 0x0700, "FT2232H", 2, true},
    {kFt2232ProductId, 0, "FT2232C/D", 2, true},
    {0x6011, 0, "FT4232H", 4, true},
    {0x6014, 0, "FT232H", 1, true},
    {0x6015, 0, "FT-X", 1, false},
};

// The chip's name for messages: "FT2232H", "FT232R" ... ("FTDI device" for
// a product id not in the table).
std::string chipName(const UsbDevice& device);
// Interfaces (ports) of a device with this product id: 1 for one not in the
// table.
int portsOf(std::uint16_t productId);
// Whether the device's chip has an MPSSE (true for a chip not in the
// table: it is not refused on a guess).
bool hasMpsse(const UsbDevice& device);

// Every call returns 0 (or a byte count) on success and a negative value on
// failure. Ports are the seam's own small numbers, valid from open to close.
class FtdiSeam {
public:
    using Port = int;

    // open(): the device was not found on the bus any more.
    static constexpr int kDeviceGone = -1000;

    virtual ~FtdiSeam() = default;

    // FTDI devices present, in bus enumeration order, with their strings.
    virtual int enumerate(std::vector<UsbDevice>& devices) = 0;
    // Opens interface `interfaceIndex` (0 = A, 1 = B ...) of `device`.
    virtual int open(const UsbDevice& device, int interfaceIndex, Port* port) = 0;
    // Releases the port whatever the outcome; the port number is dead after.
    virtual int close(Port port) = 0;
    virtual int reset(Port port) = 0;
    // Waits at most pollMs for data (0: takes only what has arrived, with
    // no wait; the seam never hands libusb a 0, its "forever"); returns the
    // bytes delivered, 0 when none came. Every byte the device sent reaches
    // the caller, now or at a later call: none is dropped on a time-out or
    // a short buffer.
    virtual int readData(Port port, std::uint8_t* buffer, int size, int pollMs) = 0;
    // Returns the bytes accepted, which may be fewer than asked.
    virtual int writeData(Port port, const std::uint8_t* data, int size) = 0;
    virtual int setChunkSizes(Port port, unsigned readChunk, unsigned writeChunk) = 0;
    virtual int setEventChar(Port port, std::uint8_t ch, bool enabled) = 0;
    virtual int setErrorChar(Port port, std::uint8_t ch, bool enabled) = 0;
    // Both always > 0.
    virtual int setTimeouts(Port port, int readMs, int writeMs) = 0;
    virtual int setLatencyTimer(Port port, std::uint8_t ms) = 0;
    // sioFlow is one of libftdi's SIO_*_HS values or SIO_DISABLE_FLOW_CTRL.
    virtual int setFlowControl(Port port, int sioFlow, std::uint8_t xon, std::uint8_t xoff) = 0;
    virtual int setBitMode(Port port, std::uint8_t mask, std::uint8_t mode) = 0;
    // libftdi's words for the last failure, for messages.
    virtual std::string lastError() const = 0;
};

// The seam that drives real devices through libftdi1. It makes one libusb
// context for its whole life as long as no more than one port is open at a
// time (each further port open at once needs a context of its own).
std::shared_ptr<FtdiSeam> makeLibftdiSeam();

}  // namespace kovra610::d2xx::hw
