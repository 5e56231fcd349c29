// A scripted stand-in for libftdi: a GoogleMock of the seam whose reads are
// served from a list of arrivals, and a clock that only moves when a poll
// waits, so time-out behaviour is exact and instant.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/d2xx/hardware/hardware_backend.h"

namespace kovra610::d2xx::hw::testing {

class MockSeam : public FtdiSeam {
public:
    MOCK_METHOD(int, enumerate, (std::vector<UsbDevice>&), (override));
    MOCK_METHOD(int, open, (const UsbDevice&, int, Port*), (override));
    MOCK_METHOD(int, close, (Port), (override));
    MOCK_METHOD(int, reset, (Port), (override));
    MOCK_METHOD(int, readData, (Port, std::uint8_t*, int, int), (override));
    MOCK_METHOD(int, writeData, (Port, const std::uint8_t*, int), (override));
    MOCK_METHOD(int, setChunkSizes, (Port, unsigned, unsigned), (override));
    MOCK_METHOD(int, setEventChar, (Port, std::uint8_t, bool), (override));
    MOCK_METHOD(int, setErrorChar, (Port, std::uint8_t, bool), (override));
    MOCK_METHOD(int, setTimeouts, (Port, int, int), (override));
    MOCK_METHOD(int, setLatencyTimer, (Port, std::uint8_t), (override));
    MOCK_METHOD(int, setFlowControl, (Port, int, std::uint8_t, std::uint8_t), (override));
    MOCK_METHOD(int, setBitMode, (Port, std::uint8_t, std::uint8_t), (override));
    MOCK_METHOD(std::string, lastError, (), (const, override));
};

constexpr std::uint16_t kFT2232H = 0x6010;
constexpr std::uint16_t kFT4232H = 0x6011;
constexpr std::uint16_t kFT232H = 0x6014;

// A backend on a strict mock seam with a fake clock.
class BackendTest : public ::testing::Test {
protected:
    BackendTest();
    ~BackendTest() override;

    // The bus the seam reports from now on.
    void presentDevices(std::vector<UsbDevice> devices);
    // Opens index 0 of a bus holding one FT2232H; the seam calls it port 7.
    FT_HANDLE openFirstPort();
    // Serves readData from `arrivals`: each poll delivers (part of) the
    // front entry; an empty entry or an empty list is a poll in which
    // nothing came, which on the fake clock costs the poll time or the
    // chip's latency period, whichever is shorter (the chip reports in,
    // with no data, once per latency period).
    void serveReadsFromArrivals();

    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
    }

    static constexpr FtdiSeam::Port kPort = 7;
    static constexpr int kLatencyMs = 16;

    std::shared_ptr<::testing::StrictMock<MockSeam>> seam;
    std::chrono::steady_clock::time_point start{std::chrono::hours(1)};
    std::chrono::steady_clock::time_point now = start;
    std::unique_ptr<HardwareBackend> backend;
    std::vector<UsbDevice> bus;
    std::deque<std::vector<std::uint8_t>> arrivals;
    std::vector<int> pollTimes;  // pollMs of every readData, in order
};

}  // namespace kovra610::d2xx::hw::testing
