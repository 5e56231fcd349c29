// The libusb-1.0 calls libftdi1 and the hardware backend make, answered by
// the emulated bus. Every call checks how it is used: a closed handle or
// context, a time-out of 0, an endpoint or interface the device lacks, a
// transfer on an interface the handle has not claimed.
#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "emulated_bus.h"

using namespace kovra610::usbdev;

struct libusb_context {
    bool open = true;
};

struct libusb_device {
    int refs = 1;
    std::size_t slot = 0;
    unsigned plug = 0;
    libusb_context* context = nullptr;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
    bool open = true;
    unsigned claimed = 0;  // bit n: interface n
};

namespace {

// Handles and contexts are kept after they are closed, so that a late use
// is seen as such rather than as a use of freed memory.
std::vector<libusb_device_handle*>& everyHandle() {
    static auto* handles = new std::vector<libusb_device_handle*>;
    return *handles;
}
std::vector<libusb_context*>& everyContext() {
    static auto* contexts = new std::vector<libusb_context*>;
    return *contexts;
}

void checkContext(libusb_context* ctx, const char* call) {
    if (ctx != nullptr && !ctx->open) misuse(std::string(call) + " on an exited libusb context");
}

Slot& slotOf(const libusb_device* dev) {
    return bus().slots.at(dev->slot);
}

bool gone(const libusb_device* dev) {
    const Slot& s = slotOf(dev);
    return !s.present || s.plug != dev->plug;
}

EmulatedFtdi& deviceOf(libusb_device_handle* h) {
    return *slotOf(h->device).device;
}

void checkHandle(libusb_device_handle* h, const char* call) {
    if (h == nullptr) misuse(std::string(call) + " with no device handle");
    if (!h->open) misuse(std::string(call) + " on a closed device handle");
}

void checkTimeout(unsigned timeout, const char* call) {
    if (timeout == 0) misuse(std::string(call) + " with a time-out of 0 (wait forever)");
}

void checkInterface(libusb_device_handle* h, int interface, const char* call) {
    if (interface < 0 || interface >= deviceOf(h).interfaces())
        misuse(std::string(call) + " on interface " + std::to_string(interface) +
               ", which the device lacks");
}

// Asynchronous transfers posted and not yet completed.
struct Posted {
    libusb_transfer* transfer;
    int port;
    bool cancelled;
};
std::vector<Posted>& posted() {
    static auto* list = new std::vector<Posted>;
    return *list;
}

// Completes what can be completed now; true if anything was.
bool completeReady(libusb_context* ctx) {
    std::vector<libusb_transfer*> finished;
    auto& list = posted();
    for (auto it = list.begin(); it != list.end();) {
        libusb_transfer* t = it->transfer;
        if (t->dev_handle->device->context != ctx) {
            ++it;
            continue;
        }
        EmulatedFtdi& d = *slotOf(t->dev_handle->device).device;
        InRequest& r = d.port(it->port).request;
        if (gone(t->dev_handle->device)) {
            t->status = LIBUSB_TRANSFER_NO_DEVICE;
        } else if (it->cancelled) {
            t->status = LIBUSB_TRANSFER_CANCELLED;
        } else {
            d.settle(it->port);
            if (!r.done) {
                ++it;
                continue;
            }
            t->status = r.timedOut ? LIBUSB_TRANSFER_TIMED_OUT : LIBUSB_TRANSFER_COMPLETED;
        }
        t->actual_length = r.got;
        r.active = false;
        finished.push_back(t);
        it = list.erase(it);
    }
    for (libusb_transfer* t : finished) t->callback(t);
    return !finished.empty();
}

// Counts a bulk transfer toward a planned unplug.
void countBulk(libusb_device* dev) {
    Slot& s = slotOf(dev);
    if (s.present && s.plug == dev->plug && s.unplugAfter >= 0 && s.bulkTransfers >= s.unplugAfter)
        unplug(s);
    ++s.bulkTransfers;
}

}  // namespace

extern "C" {

int libusb_init(libusb_context** ctx) {
    configureFromEnvironment();
    ++bus().contextsMade;
    ++bus().contextsOpen;
    auto* context = new libusb_context;
    everyContext().push_back(context);
    if (ctx != nullptr) {
        *ctx = context;
    } else {
        misuse("libusb_init for the default context (every user here keeps its own)");
    }
    return 0;
}

void libusb_exit(libusb_context* ctx) {
    if (ctx == nullptr) return;
    checkContext(ctx, "libusb_exit");
    ctx->open = false;  // kept, so that a late use is recognised
    --bus().contextsOpen;
}

ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
    checkContext(ctx, "libusb_get_device_list");
    if (ctx == nullptr) misuse("libusb_get_device_list on the default context");
    const Bus& b = bus();
    std::vector<libusb_device*> present;
    for (std::size_t i = 0; i < b.slots.size(); ++i) {
        if (!b.slots[i].present) continue;
        present.push_back(new libusb_device{1, i, b.slots[i].plug, ctx});
    }
    auto** out =
        static_cast<libusb_device**>(std::calloc(present.size() + 1, sizeof(libusb_device*)));
    std::copy(present.begin(), present.end(), out);
    *list = out;
    return static_cast<ssize_t>(present.size());
}

libusb_device* libusb_ref_device(libusb_device* dev) {
    ++dev->refs;
    return dev;
}

void libusb_unref_device(libusb_device* dev) {
    if (dev == nullptr) return;
    if (dev->refs <= 0) misuse("libusb_unref_device on a device with no reference left");
    if (--dev->refs == 0) delete dev;
}

void libusb_free_device_list(libusb_device** list, int unref) {
    if (list == nullptr) return;
    if (unref != 0)
        for (libusb_device** d = list; *d != nullptr; ++d) libusb_unref_device(*d);
    std::free(list);
}

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    *desc = slotOf(dev).device->deviceDescriptor();
    return 0;
}

int libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                 libusb_config_descriptor** config) {
    if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
    *config = slotOf(dev).device->makeConfig();
    return 0;
}

void libusb_free_config_descriptor(libusb_config_descriptor* config) {
    if (config != nullptr) EmulatedFtdi::freeConfig(config);
}

uint8_t libusb_get_bus_number(libusb_device*) {
    return 1;
}

uint8_t libusb_get_device_address(libusb_device* dev) {
    return slotOf(dev).address;
}

int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
    if (gone(dev)) return LIBUSB_ERROR_NO_DEVICE;
    auto* h = new libusb_device_handle;
    h->device = libusb_ref_device(dev);
    everyHandle().push_back(h);
    ++bus().handlesOpen;
    *handle = h;
    return 0;
}

void libusb_close(libusb_device_handle* h) {
    checkHandle(h, "libusb_close");
    for (const Posted& p : posted())
        if (p.transfer->dev_handle == h) misuse("libusb_close with a transfer still posted");
    h->claimed = 0;
    h->open = false;
    libusb_unref_device(h->device);
    --bus().handlesOpen;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index, unsigned char* data,
                                       int length) {
    checkHandle(h, "libusb_get_string_descriptor_ascii");
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    const std::string text = deviceOf(h).stringDescriptor(index);
    if (index == 0 || text.empty()) return LIBUSB_ERROR_PIPE;
    if (length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
    const int n = std::min<int>(length - 1, static_cast<int>(text.size()));
    std::memcpy(data, text.data(), static_cast<std::size_t>(n));
    data[n] = '\0';
    return n;
}

int libusb_get_configuration(libusb_device_handle* h, int* config) {
    checkHandle(h, "libusb_get_configuration");
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    *config = 1;
    return 0;
}

int libusb_set_configuration(libusb_device_handle* h, int config) {
    checkHandle(h, "libusb_set_configuration");
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    return config == 1 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_detach_kernel_driver(libusb_device_handle* h, int interface) {
    checkHandle(h, "libusb_detach_kernel_driver");
    checkInterface(h, interface, "libusb_detach_kernel_driver");
    return gone(h->device) ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* h, int) {
    checkHandle(h, "libusb_set_auto_detach_kernel_driver");
    return 0;
}

int libusb_claim_interface(libusb_device_handle* h, int interface) {
    checkHandle(h, "libusb_claim_interface");
    checkInterface(h, interface, "libusb_claim_interface");
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    const unsigned bit = 1u << interface;
    if ((slotOf(h->device).busyMask & bit) != 0) return LIBUSB_ERROR_BUSY;
    for (libusb_device_handle* other : everyHandle()) {
        if (other != h && other->open && other->device->slot == h->device->slot &&
            (other->claimed & bit) != 0)
            return LIBUSB_ERROR_BUSY;
    }
    h->claimed |= bit;
    return 0;
}

int libusb_release_interface(libusb_device_handle* h, int interface) {
    checkHandle(h, "libusb_release_interface");
    checkInterface(h, interface, "libusb_release_interface");
    const unsigned bit = 1u << interface;
    if ((h->claimed & bit) == 0) return LIBUSB_ERROR_NOT_FOUND;
    h->claimed &= ~bit;
    return gone(h->device) ? LIBUSB_ERROR_NO_DEVICE : 0;
}

int libusb_control_transfer(libusb_device_handle* h, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int timeout) {
    checkHandle(h, "libusb_control_transfer");
    checkTimeout(timeout, "libusb_control_transfer");
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    if ((requestType & LIBUSB_REQUEST_TYPE_VENDOR) == 0) return LIBUSB_ERROR_PIPE;
    EmulatedFtdi& d = deviceOf(h);
    const int port = d.interfaceOfIndex(index);
    if (port < 0)
        misuse("vendor request " + std::to_string(request) + " for interface index " +
               std::to_string(index & 0xFF) + ", which the device lacks");
    if ((h->claimed & (1u << port)) == 0)
        misuse("vendor request " + std::to_string(request) + " on interface " +
               std::to_string(port) + " without claiming it");
    return d.vendorRequest(requestType, request, value, port, data, length);
}

int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int timeout) {
    checkHandle(h, "libusb_bulk_transfer");
    checkTimeout(timeout, "libusb_bulk_transfer");
    int ignored = 0;
    if (transferred == nullptr) transferred = &ignored;
    *transferred = 0;
    EmulatedFtdi& d = deviceOf(h);
    const int port = d.interfaceOfEndpoint(endpoint);
    if (port < 0)
        misuse("bulk transfer on endpoint " + std::to_string(endpoint) +
               ", which the device lacks");
    if ((h->claimed & (1u << port)) == 0)
        misuse("bulk transfer on interface " + std::to_string(port) + " without claiming it");
    countBulk(h->device);
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    if ((endpoint & LIBUSB_ENDPOINT_IN) != 0)
        return d.bulkIn(port, data, length, transferred, timeout);
    return d.bulkOut(port, data, length, transferred);
}

// The asynchronous interface: bulk-in transfers, one at a time per port.
libusb_transfer* libusb_alloc_transfer(int isoPackets) {
    const std::size_t size =
        sizeof(libusb_transfer) +
        sizeof(libusb_iso_packet_descriptor) * static_cast<std::size_t>(std::max(isoPackets, 0));
    return static_cast<libusb_transfer*>(std::calloc(1, size));
}

void libusb_free_transfer(libusb_transfer* transfer) {
    if (transfer == nullptr) return;
    for (const Posted& p : posted())
        if (p.transfer == transfer) misuse("libusb_free_transfer on a transfer still posted");
    if ((transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) != 0) std::free(transfer->buffer);
    std::free(transfer);
}

int libusb_submit_transfer(libusb_transfer* t) {
    libusb_device_handle* h = t->dev_handle;
    checkHandle(h, "libusb_submit_transfer");
    if (t->type != LIBUSB_TRANSFER_TYPE_BULK || (t->endpoint & LIBUSB_ENDPOINT_IN) == 0)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    EmulatedFtdi& d = deviceOf(h);
    const int port = d.interfaceOfEndpoint(t->endpoint);
    if (port < 0)
        misuse("transfer posted on endpoint " + std::to_string(t->endpoint) +
               ", which the device lacks");
    if ((h->claimed & (1u << port)) == 0)
        misuse("transfer posted on interface " + std::to_string(port) + " without claiming it");
    if (d.port(port).request.active) return LIBUSB_ERROR_BUSY;
    countBulk(h->device);
    if (gone(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    d.post(port, t->buffer, t->length, t->timeout);
    posted().push_back({t, port, false});
    return 0;
}

int libusb_cancel_transfer(libusb_transfer* t) {
    for (Posted& p : posted()) {
        if (p.transfer == t) {
            p.cancelled = true;
            return 0;
        }
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

int libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv,
                                           int* completed) {
    checkContext(ctx, "libusb_handle_events_timeout_completed");
    const auto wait = std::chrono::seconds(tv != nullptr ? tv->tv_sec : 0) +
                      std::chrono::microseconds(tv != nullptr ? tv->tv_usec : 0);
    const auto deadline = Clock::now() + wait;
    for (;;) {
        if (completeReady(ctx) || (completed != nullptr && *completed != 0)) return 0;
        const auto now = Clock::now();
        if (now >= deadline) return 0;
        auto next = deadline;
        for (const Posted& p : posted()) {
            if (p.cancelled || gone(p.transfer->dev_handle->device)) next = now;
            EmulatedFtdi& d = *slotOf(p.transfer->dev_handle->device).device;
            next = std::min(next, d.nextChance(p.port));
        }
        std::this_thread::sleep_until(std::max(next, now + std::chrono::microseconds(20)));
    }
}

int libusb_handle_events_timeout(libusb_context* ctx, struct timeval* tv) {
    return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}

const char* libusb_error_name(int code) {
    switch (code) {
        case LIBUSB_ERROR_TIMEOUT:
            return "LIBUSB_ERROR_TIMEOUT";
        case LIBUSB_ERROR_NO_DEVICE:
            return "LIBUSB_ERROR_NO_DEVICE";
        case LIBUSB_ERROR_BUSY:
            return "LIBUSB_ERROR_BUSY";
        default:
            return code == 0 ? "LIBUSB_SUCCESS" : "LIBUSB_ERROR_OTHER";
    }
}

}  // extern "C"
