// The seam to real devices: each call is the matching libftdi1 call.
#include <ftdi.h>
#include <libusb.h>

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

UsbDevice describe(libusb_device* dev) {
    UsbDevice device;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(dev, &descriptor) == 0)
        device.productId = descriptor.idProduct;
    device.bus = libusb_get_bus_number(dev);
    device.address = libusb_get_device_address(dev);
    return device;
}

class LibftdiSeam final : public FtdiSeam {
public:
    ~LibftdiSeam() override {
        for (auto& [port, context] : contexts_) {
            ftdi_usb_close(context);
            ftdi_free(context);
        }
    }

    int enumerate(std::vector<UsbDevice>& devices) override {
        devices.clear();
        ftdi_context* context = ftdi_new();
        if (context == nullptr) {
            lastError_ = "libusb could not be started";
            return -1;
        }
        int result = 0;
        {
            DeviceList list(context);
            if (list.count() < 0) {
                lastError_ = errorText(context);
                result = list.count();
            } else {
                for (ftdi_device_list* node = list.head(); node != nullptr; node = node->next) {
                    devices.push_back(describe(node->dev));
                }
            }
        }
        ftdi_free(context);
        return result;
    }

    int open(const UsbDevice& device, int interfaceIndex, Port* port) override {
        if (interfaceIndex < 0 || interfaceIndex > 3) {
            lastError_ = "no such interface";
            return -1;
        }
        ftdi_context* context = ftdi_new();
        if (context == nullptr) {
            lastError_ = "libusb could not be started";
            return -1;
        }
        if (ftdi_set_interface(context, static_cast<ftdi_interface>(INTERFACE_A + interfaceIndex)) <
            0) {
            return fail(context, -1);
        }
        int result = kDeviceGone;
        {
            // The list must be gone before the context is freed.
            DeviceList list(context);
            if (list.count() < 0) result = list.count();
            for (ftdi_device_list* node = list.head(); node != nullptr; node = node->next) {
                if (describe(node->dev) == device) {
                    result = ftdi_usb_open_dev(context, node->dev);
                    break;
                }
            }
        }
        if (result == kDeviceGone) {
            lastError_ = "device no longer present";
            ftdi_free(context);
            return kDeviceGone;
        }
        if (result < 0) return fail(context, result);
        *port = nextPort_++;
        contexts_.emplace(*port, context);
        return 0;
    }

    int close(Port port) override {
        ftdi_context* context = find(port);
        if (context == nullptr) return -1;
        const int result = ftdi_usb_close(context);
        if (result < 0) lastError_ = errorText(context);
        ftdi_free(context);
        contexts_.erase(port);
        return result;
    }

    int reset(Port port) override {
        return call(port, [](ftdi_context* c) { return ftdi_usb_reset(c); });
    }

    int readData(Port port, std::uint8_t* buffer, int size, int pollMs) override {
        ftdi_context* context = find(port);
        if (context == nullptr) return -1;
        const int configured = context->usb_read_timeout;
        context->usb_read_timeout = pollMs > 0 ? pollMs : 1;
        int result = ftdi_read_data(context, buffer, size);
        context->usb_read_timeout = configured;
        // Nothing arriving within the poll is an empty poll, not a failure.
        if (result == LIBUSB_ERROR_TIMEOUT) result = 0;
        if (result < 0) lastError_ = errorText(context);
        return result;
    }

    int writeData(Port port, const std::uint8_t* data, int size) override {
        return call(port, [&](ftdi_context* c) { return ftdi_write_data(c, data, size); });
    }

    int setChunkSizes(Port port, unsigned readChunk, unsigned writeChunk) override {
        return call(port, [&](ftdi_context* c) {
            const int result = ftdi_read_data_set_chunksize(c, readChunk);
            return result < 0 ? result : ftdi_write_data_set_chunksize(c, writeChunk);
        });
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

    int fail(ftdi_context* context, int result) {
        lastError_ = errorText(context);
        ftdi_free(context);
        return result < 0 ? result : -1;
    }

    std::map<Port, ftdi_context*> contexts_;
    Port nextPort_ = 1;
    std::string lastError_;
};

}  // namespace

std::shared_ptr<FtdiSeam> makeLibftdiSeam() {
    return std::make_shared<LibftdiSeam>();
}

}  // namespace kovra610::d2xx::hw
