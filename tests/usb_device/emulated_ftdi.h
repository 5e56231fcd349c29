// One FTDI device as the USB bus sees it: its descriptors, the vendor
// requests of its serial engines, and per interface the buffer toward the
// host with its latency timer. Port A of an FT2232H is the virtual board's
// MPSSE engine wired to its chip model.
#pragma once

#include <libusb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/d2xx/virtual_board/mpsse_engine.h"
#include "platform/d2xx/virtual_board/serial_bus_chip.h"

namespace kovra610::usbdev {

enum class ChipType { FT232R, FT2232H };

using Clock = std::chrono::steady_clock;

// An asynchronous bulk-in the host has posted on a port: it fills as the
// device sends packets and completes as a synchronous one would.
struct InRequest {
    unsigned char* data = nullptr;
    int length = 0;
    int got = 0;
    bool active = false;
    bool done = false;
    bool timedOut = false;
    Clock::time_point postedAt;
    Clock::time_point deadline;
};

// What one interface (port) of the device holds.
struct PortState {
    std::deque<std::uint8_t> toHost;  // bytes waiting for a bulk-in
    int latencyMs = 16;
    std::uint8_t bitMode = 0;
    std::uint8_t bitMask = 0;
    std::uint16_t flow = 0;
    std::uint16_t eventChar = 0;  // char | enabled << 8, as requested
    std::uint16_t errorChar = 0;
    std::uint16_t baudValue = 0;
    std::uint16_t dataCharacteristics = 0;
    std::uint16_t modemControl = 0;
    unsigned bitModeRequests = 0;
    std::size_t flushBytes = 0;  // bytes at the front a send-immediate asked for now
    Clock::time_point lastPacket = Clock::now();
    InRequest request;
};

class EmulatedFtdi {
public:
    EmulatedFtdi(ChipType type, std::string serial);

    ChipType type() const { return type_; }
    const std::string& serial() const { return serial_; }
    const std::string& description() const { return description_; }
    int interfaces() const { return type_ == ChipType::FT2232H ? 2 : 1; }
    int packetSize() const { return type_ == ChipType::FT2232H ? 512 : 64; }

    libusb_device_descriptor deviceDescriptor() const;
    // The one configuration; free with freeConfig().
    libusb_config_descriptor* makeConfig() const;
    static void freeConfig(libusb_config_descriptor* config);
    // String descriptor 1 manufacturer, 2 description, 3 serial; "" if none.
    std::string stringDescriptor(int index) const;

    // Interface number of a bulk endpoint, -1 if the device has none such.
    int interfaceOfEndpoint(unsigned char endpoint) const;
    // Interface a vendor request's index names, -1 for none of ours.
    int interfaceOfIndex(std::uint16_t index) const;

    // A vendor request; returns the bytes of the data stage or a LIBUSB_ERROR.
    int vendorRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, int port,
                      unsigned char* data, std::uint16_t length);
    // Bulk transfers on a port; return 0 or a LIBUSB_ERROR.
    int bulkOut(int port, const unsigned char* data, int length, int* transferred);
    int bulkIn(int port, unsigned char* data, int length, int* transferred, unsigned timeoutMs);
    // The asynchronous bulk-in: posted, brought up to now (done when it
    // has completed), and when it may complete next without new data.
    void post(int port, unsigned char* data, int length, unsigned timeoutMs);
    void settle(int port);
    Clock::time_point nextChance(int port);

    // Bytes the chip would send, as if they came from the port's engine.
    void inject(int port, const unsigned char* data, int length);
    // Every port's latency timer held at `ms` whatever the host sets (a
    // port that ignores the setting, or a slow hub); 0 lets the host set it.
    void holdLatency(int ms);
    // Power lost and back (the cable pulled and plugged in again): the
    // FTDI part starts afresh, the board's chip keeps its registers.
    void powerCycle();

    PortState& port(int index) { return ports_.at(static_cast<std::size_t>(index)); }
    vboard::SerialBusChip& chip() { return chip_; }
    vboard::MpsseEngine& engine() { return engine_; }

private:
    void resetPort(int port);
    void setBitMode(int port, std::uint16_t value);
    int fillPacket(PortState& port, unsigned char* out, int room, Clock::time_point when,
                   std::size_t ready);
    // Full packets while there is data for them; then a short one if the
    // latency timer ran out (by `now`) or a send-immediate asked for it.
    // True when the transfer is complete.
    // `postedAt`: when the host asked; the chip answers no earlier.
    bool step(PortState& port, unsigned char* data, int length, int& got,
              Clock::time_point postedAt, Clock::time_point now);

    ChipType type_;
    std::string serial_;
    std::string description_;
    std::array<PortState, 2> ports_{};
    int heldLatencyMs_ = 0;
    vboard::SerialBusChip chip_;
    vboard::MpsseEngine engine_{chip_};
};

}  // namespace kovra610::usbdev
