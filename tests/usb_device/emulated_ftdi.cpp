#include "emulated_ftdi.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

namespace kovra610::usbdev {
namespace {

// The vendor requests of the FTDI serial engines.
enum Request : std::uint8_t {
    kReset = 0x00,
    kModemControl = 0x01,
    kFlowControl = 0x02,
    kBaudRate = 0x03,
    kDataCharacteristics = 0x04,
    kPollModemStatus = 0x05,
    kEventChar = 0x06,
    kErrorChar = 0x07,
    kSetLatency = 0x09,
    kGetLatency = 0x0A,
    kSetBitMode = 0x0B,
    kReadPins = 0x0C,
};

// The requests whose value the port only keeps, where it keeps it.
constexpr std::pair<Request, std::uint16_t PortState::*> kStoredSettings[] = {
    {kModemControl, &PortState::modemControl},
    {kFlowControl, &PortState::flow},
    {kBaudRate, &PortState::baudValue},
    {kDataCharacteristics, &PortState::dataCharacteristics},
    {kEventChar, &PortState::eventChar},
    {kErrorChar, &PortState::errorChar},
};

constexpr std::uint8_t kBitModeMpsse = 0x02;
// The two modem-status bytes that lead every bulk-in packet.
constexpr std::uint8_t kModemStatus[2] = {0x32, 0x60};

// A configuration descriptor with room for everything it points to, so one
// allocation holds it all.
struct ConfigBlock {
    libusb_config_descriptor config;
    std::array<libusb_interface, 2> interfaces;
    std::array<libusb_interface_descriptor, 2> settings;
    std::array<libusb_endpoint_descriptor, 4> endpoints;
};

}  // namespace

EmulatedFtdi::EmulatedFtdi(ChipType type, std::string serial)
    : type_(type),
      serial_(std::move(serial)),
      description_(type == ChipType::FT2232H ? "Dual RS232-HS" : "FT232R USB UART") {}

libusb_device_descriptor EmulatedFtdi::deviceDescriptor() const {
    libusb_device_descriptor d{};
    d.bLength = LIBUSB_DT_DEVICE_SIZE;
    d.bDescriptorType = LIBUSB_DT_DEVICE;
    d.bcdUSB = 0x0200;
    d.bMaxPacketSize0 = 64;
    d.idVendor = 0x0403;
    d.idProduct = type_ == ChipType::FT2232H ? 0x6010 : 0x6001;
    d.bcdDevice = type_ == ChipType::FT2232H ? 0x0700 : 0x0600;
    d.iManufacturer = 1;
    d.iProduct = 2;
    d.iSerialNumber = serial_.empty() ? 0 : 3;
    d.bNumConfigurations = 1;
    return d;
}

libusb_config_descriptor* EmulatedFtdi::makeConfig() const {
    auto* block = new ConfigBlock{};
    libusb_config_descriptor& c = block->config;
    c.bLength = LIBUSB_DT_CONFIG_SIZE;
    c.bDescriptorType = LIBUSB_DT_CONFIG;
    c.bNumInterfaces = static_cast<std::uint8_t>(interfaces());
    c.bConfigurationValue = 1;
    c.bmAttributes = 0x80;
    c.MaxPower = 50;
    c.interface = block->interfaces.data();
    for (int i = 0; i < interfaces(); ++i) {
        const auto n = static_cast<std::size_t>(i);
        libusb_interface_descriptor& s = block->settings[n];
        s.bLength = LIBUSB_DT_INTERFACE_SIZE;
        s.bDescriptorType = LIBUSB_DT_INTERFACE;
        s.bInterfaceNumber = static_cast<std::uint8_t>(i);
        s.bNumEndpoints = 2;
        s.bInterfaceClass = 0xFF;
        s.bInterfaceSubClass = 0xFF;
        s.bInterfaceProtocol = 0xFF;
        s.iInterface = 2;
        s.endpoint = &block->endpoints[2 * n];
        // In first, then out: 0x81/0x02 for A, 0x83/0x04 for B.
        const auto in = static_cast<std::uint8_t>(0x81 + 2 * i);
        const auto out = static_cast<std::uint8_t>(0x02 + 2 * i);
        for (std::size_t e = 0; e < 2; ++e) {
            libusb_endpoint_descriptor& ep = block->endpoints[2 * n + e];
            ep.bLength = LIBUSB_DT_ENDPOINT_SIZE;
            ep.bDescriptorType = LIBUSB_DT_ENDPOINT;
            ep.bEndpointAddress = e == 0 ? in : out;
            ep.bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
            ep.wMaxPacketSize = static_cast<std::uint16_t>(packetSize());
        }
        block->interfaces[n].altsetting = &s;
        block->interfaces[n].num_altsetting = 1;
    }
    return &c;
}

void EmulatedFtdi::freeConfig(libusb_config_descriptor* config) {
    delete reinterpret_cast<ConfigBlock*>(config);
}

std::string EmulatedFtdi::stringDescriptor(int index) const {
    switch (index) {
        case 1:
            return "FTDI";
        case 2:
            return description_;
        case 3:
            return serial_;
        default:
            return "";
    }
}

int EmulatedFtdi::interfaceOfEndpoint(unsigned char endpoint) const {
    for (int i = 0; i < interfaces(); ++i) {
        if (endpoint == 0x81 + 2 * i || endpoint == 0x02 + 2 * i) return i;
    }
    return -1;
}

int EmulatedFtdi::interfaceOfIndex(std::uint16_t index) const {
    const int low = index & 0xFF;
    if (low == 0) return 0;  // a single-port device's own requests
    return low <= interfaces() ? low - 1 : -1;
}

void EmulatedFtdi::resetPort(int port) {
    PortState& p = this->port(port);
    p.toHost.clear();
    p.flushBytes = 0;
    if (port == 0 && type_ == ChipType::FT2232H) engine_.purge();
}

void EmulatedFtdi::setBitMode(int port, std::uint16_t value) {
    PortState& p = this->port(port);
    const auto mode = static_cast<std::uint8_t>(value >> 8);
    const bool mpssePort = port == 0 && type_ == ChipType::FT2232H;
    if (mpssePort && mode == kBitModeMpsse && p.bitMode != kBitModeMpsse) engine_.powerOn();
    if (mpssePort && mode != kBitModeMpsse && p.bitMode == kBitModeMpsse) engine_.release();
    p.bitMode = mode;
    p.bitMask = static_cast<std::uint8_t>(value & 0xFF);
}

int EmulatedFtdi::vendorRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                int port, unsigned char* data, std::uint16_t length) {
    PortState& p = this->port(port);
    const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
    for (const auto& [code, setting] : kStoredSettings) {
        if (request != code) continue;
        p.*setting = value;
        return 0;
    }
    switch (request) {
        case kReset:
            if (value == 0 || value == 1) resetPort(port);  // reset, purge toward the host
            if (value == 2 && port == 0 && type_ == ChipType::FT2232H) engine_.purge();
            return 0;
        case kSetLatency:
            if (value < 1 || value > 255) return LIBUSB_ERROR_PIPE;
            if (heldLatencyMs_ == 0) p.latencyMs = value;
            return 0;
        case kSetBitMode:
            ++p.bitModeRequests;
            setBitMode(port, value);
            return 0;
        case kGetLatency:
        case kReadPins:
        case kPollModemStatus: {
            if (!in || data == nullptr) return LIBUSB_ERROR_PIPE;
            std::uint8_t answer[2] = {kModemStatus[0], kModemStatus[1]};
            if (request == kGetLatency) answer[0] = static_cast<std::uint8_t>(p.latencyMs);
            if (request == kReadPins) answer[0] = port == 0 ? engine_.lowPins() : 0xFF;
            const int n = std::min<int>(length, request == kPollModemStatus ? 2 : 1);
            std::copy_n(answer, n, data);
            return n;
        }
        default:
            return LIBUSB_ERROR_PIPE;  // the chip stalls what it does not know
    }
}

int EmulatedFtdi::bulkOut(int port, const unsigned char* data, int length, int* transferred) {
    PortState& p = this->port(port);
    *transferred = length;
    if (port != 0 || type_ != ChipType::FT2232H || p.bitMode != kBitModeMpsse) return 0;
    settle(port);  // a posted read completes with what was there before
    // A byte at a time, so that a send-immediate flushes the answers made
    // before it and no later ones: those wait for the latency timer.
    std::vector<std::uint8_t> replies;
    std::size_t taken = 0;
    std::size_t flushed = p.flushBytes;
    for (; taken < static_cast<std::size_t>(length); ++taken) {
        const std::uint64_t flushes = engine_.sendImmediateCount();
        if (engine_.feed(data + taken, 1, replies) == 0) break;
        if (engine_.sendImmediateCount() != flushes) flushed = p.toHost.size() + replies.size();
    }
    p.toHost.insert(p.toHost.end(), replies.begin(), replies.end());
    p.flushBytes = flushed;
    settle(port);
    *transferred = static_cast<int>(taken);
    // A stalled engine's full hold makes the chip refuse more.
    return taken < static_cast<std::size_t>(length) ? LIBUSB_ERROR_TIMEOUT : 0;
}

void EmulatedFtdi::inject(int port, const unsigned char* data, int length) {
    settle(port);
    PortState& p = this->port(port);
    p.toHost.insert(p.toHost.end(), data, data + length);
}

// One packet into `out`: the status bytes and as much data as fits, of
// the first `ready` bytes waiting.
int EmulatedFtdi::fillPacket(PortState& p, unsigned char* out, int room, Clock::time_point when,
                             std::size_t ready) {
    const int size = std::min(room, packetSize());
    if (size < 2) return 0;
    out[0] = kModemStatus[0];
    out[1] = kModemStatus[1];
    const int data =
        static_cast<int>(std::min({static_cast<std::size_t>(size - 2), p.toHost.size(), ready}));
    std::copy_n(p.toHost.begin(), data, out + 2);
    p.toHost.erase(p.toHost.begin(), p.toHost.begin() + data);
    p.flushBytes -= std::min(p.flushBytes, static_cast<std::size_t>(data));
    p.lastPacket = when;
    return data + 2;
}

// Full packets go as soon as they are full; a short one (down to the bare
// status bytes) when the latency timer runs out, with everything waiting, or
// when a send-immediate asks for it, with the bytes made before it. A
// transfer ends with a short packet, or when it is full.
bool EmulatedFtdi::step(PortState& p, unsigned char* data, int length, int& got,
                        Clock::time_point postedAt, Clock::time_point now) {
    const int full = packetSize();
    while (length - got >= full && static_cast<int>(p.toHost.size()) >= full - 2)
        got += fillPacket(p, data + got, full, now, p.toHost.size());
    if (got == length) return true;
    const auto timerEnd = p.lastPacket + std::chrono::milliseconds(p.latencyMs);
    const bool timerRanOut = now >= timerEnd;
    if (p.flushBytes == 0 && !timerRanOut) return false;
    // The timer's packet goes at its expiry, or at once to a host that
    // asks after it expired.
    got += fillPacket(p, data + got, length - got,
                      p.flushBytes > 0 ? now : std::max(timerEnd, postedAt),
                      timerRanOut ? p.toHost.size() : p.flushBytes);
    return true;
}

// A time-out keeps the packets already received.
int EmulatedFtdi::bulkIn(int port, unsigned char* data, int length, int* transferred,
                         unsigned timeoutMs) {
    PortState& p = this->port(port);
    const auto postedAt = Clock::now();
    const auto deadline = postedAt + std::chrono::milliseconds(timeoutMs);
    int got = 0;
    while (!step(p, data, length, got, postedAt, Clock::now())) {
        if (Clock::now() >= deadline) {
            *transferred = got;
            return LIBUSB_ERROR_TIMEOUT;
        }
        std::this_thread::sleep_until(std::min(deadline, nextChance(port)));
    }
    *transferred = got;
    return 0;
}

void EmulatedFtdi::post(int port, unsigned char* data, int length, unsigned timeoutMs) {
    InRequest& r = this->port(port).request;
    r = InRequest{};
    r.data = data;
    r.length = length;
    r.active = true;
    r.postedAt = Clock::now();
    r.deadline = r.postedAt + std::chrono::milliseconds(timeoutMs == 0 ? 3600000 : timeoutMs);
    settle(port);
}

void EmulatedFtdi::settle(int port) {
    PortState& p = this->port(port);
    InRequest& r = p.request;
    if (!r.active || r.done) return;
    const auto now = Clock::now();
    r.done = step(p, r.data, r.length, r.got, r.postedAt, now);
    if (!r.done && now >= r.deadline) r.done = r.timedOut = true;
}

Clock::time_point EmulatedFtdi::nextChance(int port) {
    const PortState& p = this->port(port);
    return std::min(p.lastPacket + std::chrono::milliseconds(p.latencyMs),
                    p.request.active ? p.request.deadline : Clock::time_point::max());
}

void EmulatedFtdi::holdLatency(int ms) {
    heldLatencyMs_ = ms;
    if (ms > 0)
        for (PortState& p : ports_) p.latencyMs = ms;
}

void EmulatedFtdi::powerCycle() {
    for (int i = 0; i < interfaces(); ++i) {
        setBitMode(i, 0);
        port(i) = PortState{};
    }
    holdLatency(heldLatencyMs_);
    engine_.powerOn();
    engine_.release();
}

}  // namespace kovra610::usbdev
