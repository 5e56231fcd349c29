#include "fake_seam.h"

#include <algorithm>

namespace kovra610::d2xx::hw::testing {

using ::testing::_;
using ::testing::AnyNumber;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;

BackendTest::BackendTest() : seam(std::make_shared<::testing::StrictMock<MockSeam>>()) {
    backend = std::make_unique<HardwareBackend>(seam, [this] { return now; });
    ON_CALL(*seam, lastError()).WillByDefault(Return("scripted failure"));
}

BackendTest::~BackendTest() {
    // Ports a test leaves open are closed by the backend's destructor.
    EXPECT_CALL(*seam, setBitMode(_, 0x00, 0x00)).Times(AnyNumber()).WillRepeatedly(Return(0));
    EXPECT_CALL(*seam, close(_)).Times(AnyNumber()).WillRepeatedly(Return(0));
    backend.reset();
}

void BackendTest::presentDevices(std::vector<UsbDevice> devices) {
    bus = std::move(devices);
    EXPECT_CALL(*seam, enumerate(_)).WillRepeatedly([this](std::vector<UsbDevice>& out) {
        out = bus;
        return 0;
    });
}

FT_HANDLE BackendTest::openFirstPort() {
    presentDevices({{kFT2232H, 1, 4}});
    EXPECT_CALL(*seam, open(UsbDevice{kFT2232H, 1, 4}, 0, _))
        .WillOnce(DoAll(SetArgPointee<2>(kPort), Return(0)));
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(backend->open(0, &handle), FT_OK);
    EXPECT_NE(handle, nullptr);
    return handle;
}

void BackendTest::serveReadsFromArrivals() {
    EXPECT_CALL(*seam, readData(kPort, _, _, _))
        .WillRepeatedly([this](FtdiSeam::Port, std::uint8_t* buffer, int size, int pollMs) {
            pollTimes.push_back(pollMs);
            if (arrivals.empty() || arrivals.front().empty()) {
                if (!arrivals.empty()) arrivals.pop_front();
                now += std::chrono::milliseconds(std::min(pollMs, kLatencyMs));
                return 0;
            }
            std::vector<std::uint8_t>& next = arrivals.front();
            const int n = std::min<int>(size, static_cast<int>(next.size()));
            std::copy_n(next.begin(), n, buffer);
            next.erase(next.begin(), next.begin() + n);
            if (next.empty()) arrivals.pop_front();
            return n;
        });
}

}  // namespace kovra610::d2xx::hw::testing
