// The bus, its configuration, the control functions a test calls (through
// dlsym) and the checks at exit.
#include "emulated_bus.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "usb_device_control.h"

namespace kovra610::usbdev {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

bool parseDevice(const std::string& entry, Slot& slot, std::string* error) {
    const std::vector<std::string> fields = split(entry, ':');
    if (fields.empty() || (fields[0] != "ft2232h" && fields[0] != "ft232r")) {
        *error = "unknown device type in \"" + entry + "\" (ft2232h or ft232r)";
        return false;
    }
    const ChipType type = fields[0] == "ft2232h" ? ChipType::FT2232H : ChipType::FT232R;
    std::string serial;
    int latencyMs = 0;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        if (f == "busy=A" || f == "busy=B") {
            slot.busyMask |= f == "busy=A" ? 1u : 2u;
        } else if (f.rfind("unplug-after=", 0) == 0) {
            char* end = nullptr;
            slot.unplugAfter = std::strtol(f.c_str() + 13, &end, 10);
            if (*end != '\0' || slot.unplugAfter < 0) {
                *error = "bad transfer count in \"" + f + "\"";
                return false;
            }
        } else if (f.rfind("latency=", 0) == 0) {
            char* end = nullptr;
            const long ms = std::strtol(f.c_str() + 8, &end, 10);
            if (*end != '\0' || ms < 1 || ms > 255) {
                *error = "bad latency in \"" + f + "\" (1 to 255 ms)";
                return false;
            }
            latencyMs = static_cast<int>(ms);
        } else if (i == 1 && f.find('=') == std::string::npos) {
            serial = f;
        } else {
            *error = "unknown option \"" + f + "\"";
            return false;
        }
    }
    slot.device = std::make_unique<EmulatedFtdi>(type, serial);
    slot.device->holdLatency(latencyMs);
    return true;
}

Slot* slotAt(int device) {
    Bus& b = bus();
    if (device < 0 || static_cast<std::size_t>(device) >= b.slots.size()) return nullptr;
    return &b.slots[static_cast<std::size_t>(device)];
}

EmulatedFtdi* mpsseDevice(int device) {
    Slot* s = slotAt(device);
    return s != nullptr && s->device->type() == ChipType::FT2232H ? s->device.get() : nullptr;
}

// The chip models, for KOVRA610_USB_CHIP_FILE.
void writeChipFile(const char* path) {
    FILE* out = std::fopen(path, "w");
    if (out == nullptr) {
        std::fprintf(stderr, "emulated USB device: cannot write %s\n", path);
        return;
    }
    const Bus& b = bus();
    for (std::size_t i = 0; i < b.slots.size(); ++i) {
        EmulatedFtdi& d = *b.slots[i].device;
        if (d.type() != ChipType::FT2232H) continue;
        std::fprintf(out, "device %zu %s\n", i, d.serial().c_str());
        for (const auto& w : d.chip().words())
            std::fprintf(out, "word %u %02X %u %04X\n", w.ch, w.addr, w.rw, w.data);
        for (int ch = 0; ch < vboard::SerialBusChip::kChannels; ++ch)
            for (unsigned a = 0; a < vboard::SerialBusChip::kRegisters; ++a)
                std::fprintf(out, "reg %d %02X %04X\n", ch, a, d.chip().reg(ch, a));
        std::fprintf(out, "resets %u\ndivisor %u\n", d.chip().resets(), d.engine().divisor());
    }
    std::fclose(out);
}

// At exit: the chip file, and every context and handle must be given back.
__attribute__((destructor)) void atExit() {
    if (!bus().configured) return;
    if (const char* path = std::getenv("KOVRA610_USB_CHIP_FILE")) writeChipFile(path);
    const Bus& b = bus();
    if (b.contextsOpen > 0 || b.handlesOpen > 0) {
        std::fprintf(stderr,
                     "emulated USB device: misuse: %d libusb context(s) and %d device handle(s) "
                     "still open at exit\n",
                     b.contextsOpen, b.handlesOpen);
        std::fflush(stderr);
        _Exit(70);
    }
}

}  // namespace

Bus& bus() {
    static Bus* const instance = new Bus;  // outlives every other destructor
    return *instance;
}

bool configure(const std::string& spec, std::string* error) {
    std::vector<Slot> slots;
    if (spec != "none") {
        for (const std::string& entry : split(spec, ',')) {
            Slot slot;
            if (!parseDevice(entry, slot, error)) return false;
            slots.push_back(std::move(slot));
        }
    }
    Bus& b = bus();
    b.slots = std::move(slots);
    b.nextAddress = 2;
    for (Slot& s : b.slots) s.address = b.nextAddress++;
    b.configured = true;
    return true;
}

void configureFromEnvironment() {
    if (bus().configured) return;
    const char* spec = std::getenv("KOVRA610_USB_DEVICES");
    std::string error;
    if (!configure(spec != nullptr && *spec != '\0' ? spec : "ft2232h:KV610001", &error))
        misuse("KOVRA610_USB_DEVICES: " + error);
}

void unplug(Slot& slot) {
    slot.present = false;
}

void replug(Slot& slot) {
    if (slot.present) return;
    slot.present = true;
    ++slot.plug;
    slot.address = bus().nextAddress++;
    slot.unplugAfter = -1;
    slot.bulkTransfers = 0;
    slot.device->powerCycle();
}

void misuse(const std::string& what) {
    std::fprintf(stderr, "emulated USB device: misuse: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace kovra610::usbdev

using namespace kovra610::usbdev;

extern "C" {

int kovra610_usb_configure(const char* spec) {
    if (bus().handlesOpen > 0) return -1;
    std::string error;
    if (!configure(spec != nullptr ? spec : "none", &error)) {
        std::fprintf(stderr, "emulated USB device: %s\n", error.c_str());
        return -1;
    }
    bus().contextsMade = 0;
    return 0;
}

int kovra610_usb_contexts_made(void) {
    return bus().contextsMade;
}
int kovra610_usb_handles_open(void) {
    return bus().handlesOpen;
}

int kovra610_usb_unplug(int device) {
    Slot* s = slotAt(device);
    if (s == nullptr) return -1;
    unplug(*s);
    return 0;
}

int kovra610_usb_unplug_after(int device, long transfers) {
    Slot* s = slotAt(device);
    if (s == nullptr || transfers < 0) return -1;
    s->unplugAfter = s->bulkTransfers + transfers;
    return 0;
}

int kovra610_usb_replug(int device) {
    Slot* s = slotAt(device);
    if (s == nullptr) return -1;
    replug(*s);
    return 0;
}

int kovra610_usb_set_busy(int device, int interface, int busy) {
    Slot* s = slotAt(device);
    if (s == nullptr || interface < 0 || interface > 1) return -1;
    const unsigned bit = 1u << interface;
    s->busyMask = busy != 0 ? (s->busyMask | bit) : (s->busyMask & ~bit);
    return 0;
}

int kovra610_usb_inject(int device, const unsigned char* bytes, int count) {
    EmulatedFtdi* d = mpsseDevice(device);
    if (d == nullptr || count < 0) return -1;
    d->inject(0, bytes, count);
    return 0;
}

int kovra610_usb_chip_reg(int device, int channel, unsigned addr) {
    EmulatedFtdi* d = mpsseDevice(device);
    return d == nullptr ? -1 : d->chip().reg(channel, addr);
}

int kovra610_usb_chip_words(int device, kovra610_usb_word* words, int max) {
    EmulatedFtdi* d = mpsseDevice(device);
    if (d == nullptr) return -1;
    const auto& seen = d->chip().words();
    for (std::size_t i = 0; i < seen.size() && static_cast<int>(i) < max; ++i)
        words[i] = {seen[i].ch, seen[i].addr, seen[i].rw, seen[i].data};
    return static_cast<int>(seen.size());
}

int kovra610_usb_chip_resets(int device) {
    EmulatedFtdi* d = mpsseDevice(device);
    return d == nullptr ? -1 : static_cast<int>(d->chip().resets());
}

int kovra610_usb_port_setting(int device, int interface, const char* name) {
    Slot* s = slotAt(device);
    if (s == nullptr || interface < 0 || interface >= s->device->interfaces()) return -1;
    const PortState& p = s->device->port(interface);
    const std::string n = name != nullptr ? name : "";
    if (n == "latency") return p.latencyMs;
    if (n == "bitmode") return p.bitMode;
    if (n == "bitmode_requests") return static_cast<int>(p.bitModeRequests);
    if (n == "divisor") return interface == 0 ? s->device->engine().divisor() : -1;
    return -1;
}

}  // extern "C"
