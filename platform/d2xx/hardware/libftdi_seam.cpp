// The seam to real devices: libftdi1 opens, configures and writes; reads
// go through a bulk-in transfer kept posted on libftdi's own USB handle.
#include <ftdi.h>
#include <libusb.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <vector>

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

// A port's bulk-in, kept posted as the vendor's driver keeps one: packets
// are collected as the device sends them, a look at what has arrived costs
// no wait, and every byte of every packet (a timed-out transfer's too)
// reaches the caller. libftdi's own reads are not used: a read that times
// out after receiving, or after handing over part of its buffer, reports
// only the time-out and the bytes are gone.
class PostedReader {
public:
    explicit PostedReader(ftdi_context* context)
        : context_(context),
          packet_(context->max_packet_size > 2 ? static_cast<int>(context->max_packet_size) : 64),
          buffer_(static_cast<std::size_t>(packet_)),
          transfer_(libusb_alloc_transfer(0)) {}
    ~PostedReader() {
        stop();
        libusb_free_transfer(transfer_);
    }
    PostedReader(const PostedReader&) = delete;
    PostedReader& operator=(const PostedReader&) = delete;

    // Up to `size` bytes, waiting at most pollMs (0: not at all) when none
    // has arrived; a libusb error (< 0) when the device fails.
    int read(std::uint8_t* out, int size, int pollMs) {
        if (transfer_ == nullptr) return LIBUSB_ERROR_NO_MEM;
        if (held_.empty()) {
            const int status = gather(pollMs);
            if (status < 0) return status;
        }
        const int n = std::min(size, static_cast<int>(held_.size()));
        std::copy_n(held_.begin(), n, out);
        held_.erase(held_.begin(), held_.begin() + n);
        return n;
    }

    // Drops what has arrived and the posted transfer (the port is reset).
    void discard() {
        stop();
        held_.clear();
    }

private:
    static void LIBUSB_CALL onDone(libusb_transfer* transfer) {
        *static_cast<int*>(transfer->user_data) = 1;
    }

    int gather(int pollMs) {
        using std::chrono::steady_clock;
        const auto deadline = steady_clock::now() + std::chrono::milliseconds(pollMs);
        for (;;) {
            if (!posted_) {
                const int status = post();
                if (status < 0) return status;
            }
            do {
                const auto left =
                    std::max<long long>(0, std::chrono::duration_cast<std::chrono::microseconds>(
                                               deadline - steady_clock::now())
                                               .count());
                timeval tv{static_cast<time_t>(left / 1000000),
                           static_cast<suseconds_t>(left % 1000000)};
                const int status =
                    libusb_handle_events_timeout_completed(context_->usb_ctx, &tv, &completed_);
                if (status < 0 && status != LIBUSB_ERROR_INTERRUPTED) return status;
            } while (completed_ == 0 && steady_clock::now() < deadline);
            if (completed_ == 0) return 0;  // still posted for the next look
            const int status = take();
            if (status < 0 || !held_.empty()) return status;
        }
    }

    int post() {
        completed_ = 0;
        libusb_fill_bulk_transfer(transfer_, context_->usb_dev,
                                  static_cast<unsigned char>(context_->out_ep), buffer_.data(),
                                  packet_, &PostedReader::onDone, &completed_, kTransferTimeoutMs);
        const int status = libusb_submit_transfer(transfer_);
        posted_ = status == 0;
        return status;
    }

    // The completed transfer's data, each packet's two status bytes left out.
    int take() {
        posted_ = false;
        completed_ = 0;
        switch (transfer_->status) {
            case LIBUSB_TRANSFER_COMPLETED:
            case LIBUSB_TRANSFER_TIMED_OUT:
            case LIBUSB_TRANSFER_CANCELLED:
                break;
            case LIBUSB_TRANSFER_NO_DEVICE:
                return LIBUSB_ERROR_NO_DEVICE;
            default:
                return LIBUSB_ERROR_IO;
        }
        for (int at = 0; at < transfer_->actual_length; at += packet_) {
            const int n = std::min(packet_, transfer_->actual_length - at);
            if (n > 2)
                held_.insert(held_.end(), buffer_.begin() + at + 2, buffer_.begin() + at + n);
        }
        return 0;
    }

    // Cancels a posted transfer and waits (a bounded time) for it to end.
    void stop() {
        if (!posted_) return;
        libusb_cancel_transfer(transfer_);
        for (int i = 0; i < 50 && completed_ == 0; ++i) {
            timeval tv{0, 100000};
            if (libusb_handle_events_timeout_completed(context_->usb_ctx, &tv, &completed_) < 0)
                break;
        }
        posted_ = false;
        completed_ = 0;
    }

    static constexpr unsigned kTransferTimeoutMs = 5000;

    ftdi_context* context_;
    int packet_;
    std::vector<unsigned char> buffer_;
    libusb_transfer* transfer_;
    std::deque<std::uint8_t> held_;
    bool posted_ = false;
    int completed_ = 0;
};

// One libusb context serves enumeration and every port that is open alone:
// a closed port's libftdi context is kept and opens the next port.
class LibftdiSeam final : public FtdiSeam {
public:
    ~LibftdiSeam() override {
        readers_.clear();
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
        readers_[*port] = std::make_unique<PostedReader>(context);
        return 0;
    }

    int close(Port port) override {
        ftdi_context* context = find(port);
        if (context == nullptr) return -1;
        readers_.erase(port);
        const int result = ftdi_usb_close(context);
        if (result < 0) lastError_ = errorText(context);
        contexts_.erase(port);
        spare_.push_back(context);  // its libusb context serves the next open
        return result;
    }

    int reset(Port port) override {
        if (auto it = readers_.find(port); it != readers_.end()) it->second->discard();
        return call(port, [](ftdi_context* c) { return ftdi_usb_reset(c); });
    }

    int readData(Port port, std::uint8_t* buffer, int size, int pollMs) override {
        auto it = readers_.find(port);
        if (it == readers_.end()) {
            lastError_ = "port not open";
            return -1;
        }
        if (size <= 0) return 0;
        const int result = it->second->read(buffer, size, std::max(pollMs, 0));
        if (result < 0) lastError_ = libusb_error_name(result);
        return result;
    }

    int writeData(Port port, const std::uint8_t* data, int size) override {
        return call(port, [&](ftdi_context* c) { return ftdi_write_data(c, data, size); });
    }

    // Reads go a packet at a time (see PostedReader); only writes take the size.
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
        return ftdi_write_data_set_chunksize(context, 4096);
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
    std::map<Port, std::unique_ptr<PostedReader>> readers_;
    std::vector<ftdi_context*> spare_;  // no port open on them
    Port nextPort_ = 1;
    std::string lastError_;
};

}  // namespace

namespace {

// The table's row for the device, or null.
const FtdiChip* chipOf(const UsbDevice& device) {
    for (const FtdiChip& chip : kFtdiChips) {
        if (chip.productId == device.productId &&
            (chip.release == 0 || chip.release == device.bcdDevice))
            return &chip;
    }
    return nullptr;
}

}  // namespace

std::string chipName(const UsbDevice& device) {
    const FtdiChip* chip = chipOf(device);
    return chip != nullptr ? chip->name : "FTDI device";
}

bool hasMpsse(const UsbDevice& device) {
    const FtdiChip* chip = chipOf(device);
    return chip == nullptr || chip->mpsse;
}

int portsOf(std::uint16_t productId) {
    for (const FtdiChip& chip : kFtdiChips) {
        if (chip.productId == productId) return chip.ports;
    }
    return 1;
}

std::shared_ptr<FtdiSeam> makeLibftdiSeam() {
    return std::make_shared<LibftdiSeam>();
}

}  // namespace kovra610::d2xx::hw
