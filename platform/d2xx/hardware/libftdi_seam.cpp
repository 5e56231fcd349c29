// The seam to real devices: each call is the matching libftdi1 call.
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <map>

#include "ftdi_seam.h"

namespace kovra610::d2xx::hw {
namespace {

// The FTDI devices on the bus, as libftdi's search finds them (its default
// list of FTDI product ids). Owns the list and the context it came from.
class DeviceList {
public:
    explicit DeviceList(ftdi_context* context) {
        count_ = ftdi_usb_find_all(context, &list_, 0, 0);
    }
    ~DeviceList() { ftdi_list_free(&list_); }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    int count() const { return count_; }
    ftdi_device_list* head() const { return list_; }

private:
    ftdi_device_list* list_ = nullptr;
    int count_ = 0;
};

std::string errorText(ftdi_context* context) {
    const char* text = ftdi_get_error_string(context);
    return text != nullptr ? text : "unknown libftdi error";
}

// A string descriptor, or "" when the device has none.
std::string stringOf(libusb_device_handle* handle, std::uint8_t index) {
    unsigned char text[128] = {};
    if (index == 0) return "";
    const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(n)) : "";
}

// Where the device is and what it is; its strings when `handle` is open on it.
UsbDevice describe(libusb_device* dev, libusb_device_handle* handle) {
    UsbDevice device;
    libusb_device_descriptor descriptor{};
    const bool known = libusb_get_device_descriptor(dev, &descriptor) == 0;
    if (known) {
        device.productId = descriptor.idProduct;
        device.bcdDevice = descriptor.bcdDevice;
    }
    device.bus = libusb_get_bus_number(dev);
    device.address = libusb_get_device_address(dev);
    if (known && handle != nullptr) {
        device.serial = stringOf(handle, descriptor.iSerialNumber);
        device.description = stringOf(handle, descriptor.iProduct);
    }
    return device;
}

// Reads the strings through a short-lived handle of our own (a device that
// cannot be opened, for want of permission, keeps empty strings).
UsbDevice describeWithStrings(libusb_device* dev) {
    libusb_device_handle* handle = nullptr;
    if (libusb_open(dev, &handle) != 0) return describe(dev, nullptr);
    UsbDevice device = describe(dev, handle);
    libusb_close(handle);
    return device;
}

// ftdi_read_data reads libusb in chunks and keeps what it did not hand
// over. Two of its ways of losing bytes are closed here: a chunk larger than
// one packet may time out with full packets already received (libftdi then
// reports the time-out and drops them), and a call that has copied bytes
// goes on to read USB again, where a time-out drops what it copied. So the
// chunk is one packet, and a call that reads USB asks for one byte: it ends
// after one transfer, and libftdi holds the rest for the next calls, which
// take it without touching USB.
class LibftdiSeam final : public FtdiSeam {
public:
    ~LibftdiSeam() override {
        for (auto& [port, context] : contexts_) {
            ftdi_usb_close(context);
            ftdi_free(context);
        }
        for (ftdi_context* context : spare_) ftdi_free(context);
    }

    int enumerate(std::vector<UsbDevice>& devices) override {
        devices.clear();
        ftdi_context* context = anyContext();
        if (context == nullptr) return -1;
        DeviceList list(context);
        if (list.count() < 0) {
            lastError_ = errorText(context);
            return list.count();
        }
        for (ftdi_device_list* node = list.head(); node != nullptr; node = node->next)
            devices.push_back(describeWithStrings(node->dev));
        return 0;
    }

    int open(const UsbDevice& device, int interfaceIndex, Port* port) override {
        if (interfaceIndex < 0 || interfaceIndex > 3) {
            lastError_ = "no such interface";
            return -1;
        }
        ftdi_context* context = freeContext();
        if (context == nullptr) return -1;
        const int result = openOn(context, device, interfaceIndex);
        if (result < 0) {
            // A failed open may leave libftdi's handle behind.
            if (context->usb_dev != nullptr) libusb_close(context->usb_dev);
            context->usb_dev = nullptr;
            spare_.push_back(context);
            return result;
        }
        *port = nextPort_++;
        contexts_.emplace(*port, context);
        return 0;
    }

    int close(Port port) override {
        ftdi_context* context = find(port);
        if (context == nullptr) return -1;
        const int result = ftdi_usb_close(context);
        if (result < 0) lastError_ = errorText(context);
        contexts_.erase(port);
        spare_.push_back(context);  // its libusb context serves the next open
        return result;
    }

    int reset(Port port) override {
        return call(port, [](ftdi_context* c) { return ftdi_usb_reset(c); });
    }

    int readData(Port port, std::uint8_t* buffer, int size, int pollMs) override {
        ftdi_context* context = find(port);
        if (context == nullptr) return -1;
        if (size <= 0) return 0;
        // What libftdi holds comes first, without touching USB.
        if (context->readbuffer_remaining > 0) return takeHeld(context, buffer, size);

        const int configured = context->usb_read_timeout;
        context->usb_read_timeout = pollMs > 0 ? pollMs : 1;
        int result = ftdi_read_data(context, buffer, 1);
        context->usb_read_timeout = configured;
        // Nothing arriving within the poll is an empty poll, not a failure.
        if (result == LIBUSB_ERROR_TIMEOUT) return 0;
        if (result < 0) {
            lastError_ = errorText(context);
            return result;
        }
        if (result == 1 && size > 1 && context->readbuffer_remaining > 0)
            result += takeHeld(context, buffer + 1, size - 1);
        return result;
    }

    int writeData(Port port, const std::uint8_t* data, int size) override {
        return call(port, [&](ftdi_context* c) { return ftdi_write_data(c, data, size); });
    }

    // The read chunk stays one packet (see above); only writes take the size.
    int setChunkSizes(Port port, unsigned, unsigned writeChunk) override {
        return call(port,
                    [&](ftdi_context* c) { return ftdi_write_data_set_chunksize(c, writeChunk); });
    }
    int setEventChar(Port port, std::uint8_t ch, bool enabled) override {
        return call(port, [&](ftdi_context* c) { return ftdi_set_event_char(c, ch, enabled); });
    }

    int setErrorChar(Port port, std::uint8_t ch, bool enabled) override {
        return call(port, [&](ftdi_context* c) { return ftdi_set_error_char(c, ch, enabled); });
    }

    int setTimeouts(Port port, int readMs, int writeMs) override {
        return call(port, [&](ftdi_context* c) {
            c->usb_read_timeout = readMs > 0 ? readMs : 1;
            c->usb_write_timeout = writeMs > 0 ? writeMs : 1;
            return 0;
        });
    }

    int setLatencyTimer(Port port, std::uint8_t ms) override {
        return call(port, [&](ftdi_context* c) { return ftdi_set_latency_timer(c, ms); });
    }

    int setFlowControl(Port port, int sioFlow, std::uint8_t xon, std::uint8_t xoff) override {
        return call(port, [&](ftdi_context* c) {
            return sioFlow == SIO_XON_XOFF_HS ? ftdi_setflowctrl_xonxoff(c, xon, xoff)
                                              : ftdi_setflowctrl(c, sioFlow);
        });
    }

    int setBitMode(Port port, std::uint8_t mask, std::uint8_t mode) override {
        return call(port, [&](ftdi_context* c) { return ftdi_set_bitmode(c, mask, mode); });
    }

    std::string lastError() const override { return lastError_; }

private:
    // Bytes libftdi holds, at most `size`; it copies them without USB.
    static int takeHeld(ftdi_context* context, std::uint8_t* buffer, int size) {
        const int held = static_cast<int>(
            std::min<unsigned>(context->readbuffer_remaining, static_cast<unsigned>(size)));
        const int n = ftdi_read_data(context, buffer, held);
        return n > 0 ? n : 0;
    }

    int openOn(ftdi_context* context, const UsbDevice& device, int interfaceIndex) {
        if (ftdi_set_interface(context, static_cast<ftdi_interface>(INTERFACE_A + interfaceIndex)) <
            0) {
            lastError_ = errorText(context);
            return -1;
        }
        int result = kDeviceGone;
        {
            DeviceList list(context);
            if (list.count() < 0) result = list.count();
            for (ftdi_device_list* node = list.head(); node != nullptr; node = node->next) {
                if (describe(node->dev, nullptr) == device) {
                    result = ftdi_usb_open_dev(context, node->dev);
                    break;
                }
            }
        }
        if (result == kDeviceGone) {
            lastError_ = "device no longer present";
            return kDeviceGone;
        }
        if (result < 0) {
            lastError_ = errorText(context);
            return result;
        }
        // A fresh start for a context that served an earlier port.
        context->usb_read_timeout = 5000;
        context->usb_write_timeout = 5000;
        ftdi_write_data_set_chunksize(context, 4096);
        return ftdi_read_data_set_chunksize(context, context->max_packet_size);
    }

    // The context enumeration uses: any will do, as it only needs libusb's.
    ftdi_context* anyContext() {
        if (!spare_.empty()) return spare_.back();
        if (!contexts_.empty()) return contexts_.begin()->second;
        ftdi_context* context = makeContext();
        if (context != nullptr) spare_.push_back(context);
        return context;
    }

    // A context with no port open on it, taken out of the spares.
    ftdi_context* freeContext() {
        if (spare_.empty()) return makeContext();
        ftdi_context* context = spare_.back();
        spare_.pop_back();
        return context;
    }

    ftdi_context* makeContext() {
        ftdi_context* context = ftdi_new();
        if (context == nullptr) lastError_ = "libusb could not be started";
        return context;
    }

    ftdi_context* find(Port port) {
        auto it = contexts_.find(port);
        if (it != contexts_.end()) return it->second;
        lastError_ = "port not open";
        return nullptr;
    }

    template <typename Call>
    int call(Port port, Call&& libftdiCall) {
        ftdi_context* context = find(port);
        if (context == nullptr) return -1;
        const int result = libftdiCall(context);
        if (result < 0) lastError_ = errorText(context);
        return result;
    }

    std::map<Port, ftdi_context*> contexts_;
    std::vector<ftdi_context*> spare_;  // no port open on them
    Port nextPort_ = 1;
    std::string lastError_;
};

}  // namespace

std::string chipName(const UsbDevice& device) {
    switch (device.productId) {
        case 0x6001:
            return device.bcdDevice == 0x0600 ? "FT232R" : "FT232BM";
        case 0x6010:
            return device.bcdDevice == 0x0700 ? "FT2232H" : "FT2232C/D";
        case 0x6011:
            return "FT4232H";
        case 0x6014:
            return "FT232H";
        case 0x6015:
            return "FT-X";
        default:
            return "FTDI device";
    }
}

std::shared_ptr<FtdiSeam> makeLibftdiSeam() {
    return std::make_shared<LibftdiSeam>();
}

}  // namespace kovra610::d2xx::hw
