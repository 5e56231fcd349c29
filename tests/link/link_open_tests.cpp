#include "link_fixture.h"

namespace kovra610::testing {
namespace {

constexpr uint8_t kAnswer = mpsse::kBadCommandAnswer;
constexpr uint8_t kProbe = sbus::kEchoProbe;

const char* const kOpenBanner =
    "Checking for FTDI devices...\n"
    "2 FTDI devices found - the count includes individual ports on a single chip\n"
    "\nAssume first device has the MPSSE and open it...\n"
    "\nConfiguring port for MPSSE use...\n";

TEST_F(LinkTest, SuccessfulOpenConfiguresThePortAndMakesExactlySevenWrites) {
    driver->afterWrite(2, kEcho);
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 0);
    EXPECT_EQ(out.text(), std::string(kOpenBanner) +
                              "MPSSE Initialize Successfull, 0\n"
                              "Synchronize Completed\n");

    EXPECT_EQ(driver->writes(),
              (std::vector<Bytes>{{mpsse::kLoopbackOn},
                                  {sbus::kEchoProbe},
                                  {mpsse::kLoopbackOff},
                                  bytesOf(sbus::kClocking),
                                  bytesOf(mpsse::setClockDivisor(sbus::kOpenDivisor)),
                                  bytesOf(mpsse::setLowByte(sbus::kEndOfOpen)),
                                  bytesOf(mpsse::setHighByte(sbus::kHighByteInputs))}));
    const auto calls = driver->calls();
    ASSERT_GE(calls.size(), 12u);
    EXPECT_EQ(calls[0].op, "FT_CreateDeviceInfoList");
    EXPECT_EQ(calls[1].op, "FT_Open");
    EXPECT_EQ(calls[1].args, (std::vector<uint32_t>{0}));
    EXPECT_EQ(calls[2].op, "FT_ResetDevice");
    EXPECT_EQ(calls[3].op, "FT_GetQueueStatus");
    const std::vector<std::pair<std::string, std::vector<uint32_t>>> settings = {
        {"FT_SetUSBParameters", {65536, 65535}}, {"FT_SetChars", {0, 0, 0, 0}},
        {"FT_SetTimeouts", {0, 5000}},           {"FT_SetLatencyTimer", {1}},
        {"FT_SetFlowControl", {0x0100, 0, 0}},   {"FT_SetBitMode", {0x00, 0x00}},
        {"FT_SetBitMode", {0x00, 0x02}},
    };
    for (size_t i = 0; i < settings.size(); ++i) {
        EXPECT_EQ(calls[4 + i].op, settings[i].first) << i;
        EXPECT_EQ(calls[4 + i].args, settings[i].second) << i;
    }
    EXPECT_TRUE(driver->callsOf("FT_Close").empty());
}

TEST_F(LinkTest, BytesLeftFromAnEarlierUseAreDrainedBeforeConfiguration) {
    driver->preload(Bytes(9000, 0x55));  // more than any reply buffer
    driver->afterWrite(2, kEcho);
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 0);
    EXPECT_EQ(driver->waiting(), 0u);
    size_t drained = 0;
    for (const auto& c : driver->callsOf("FT_Read")) drained += c.bytes.size();
    EXPECT_EQ(drained, 9002u);  // the leftovers and the echo
}

TEST_F(LinkTest, EnumerationFailuresEndTheOpenBeforeAnyPortIsTouched) {
    {
        driver->failCall("FT_CreateDeviceInfoList", 1, FT_OTHER_ERROR);
        StdoutCapture out;
        EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
        EXPECT_EQ(out.text(),
                  "Checking for FTDI devices...\nError in getting the number of devices\n");
    }
    {
        driver->deviceCount = 0;
        StdoutCapture out;
        EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
        EXPECT_EQ(out.text(),
                  "Checking for FTDI devices...\nThere are no FTDI devices installed\n");
    }
    EXPECT_TRUE(driver->callsOf("FT_Open").empty());
}

TEST_F(LinkTest, OpenFailureReportsTheDriverStatus) {
    driver->failCall("FT_Open", 1, FT_DEVICE_NOT_OPENED);
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
    EXPECT_EQ(out.text(),
              "Checking for FTDI devices...\n"
              "2 FTDI devices found - the count includes individual ports on a "
              "single chip\n"
              "\nAssume first device has the MPSSE and open it...\n"
              "Open Failed with error 3\n");
    EXPECT_EQ(ops().back(), "FT_Open");
}

TEST_F(LinkTest, AnyFailingConfigurationCallFailsTheOpenAndClosesThePort) {
    for (const char* op : {"FT_ResetDevice", "FT_SetUSBParameters", "FT_SetChars", "FT_SetTimeouts",
                           "FT_SetLatencyTimer", "FT_SetFlowControl", "FT_SetBitMode"}) {
        auto fresh = std::make_shared<RecordingBackend>();
        d2xx::installBackend(fresh);
        fresh->failCall(op, 1, FT_IO_ERROR);
        StdoutCapture out;
        EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1) << op;
        EXPECT_EQ(out.text(), std::string(kOpenBanner) + "Error in initializing the MPSSE 4\n")
            << op;
        EXPECT_EQ(fresh->calls().back().op, "FT_Close") << op;
        EXPECT_TRUE(fresh->writes().empty()) << op;
    }
}

TEST_F(LinkTest, BytesWaitingAfterLoopbackOnAbortTheOpen) {
    driver->afterWrite(1, {0x42});
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
    EXPECT_EQ(out.text(), std::string(kOpenBanner) +
                              "MPSSE Initialize Successfull, 0\n"
                              "Error - MPSSE receive buffer should be empty 0\n");
    const auto calls = driver->calls();
    EXPECT_EQ(calls[calls.size() - 2].op, "FT_SetBitMode");
    EXPECT_EQ(calls[calls.size() - 2].args, (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(calls.back().op, "FT_Close");
}

TEST_F(LinkTest, BytesWaitingAfterLoopbackOffAbortTheOpen) {
    driver->afterWrite(2, kEcho);
    driver->afterWrite(3, {0x42});
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
    EXPECT_EQ(out.text(), std::string(kOpenBanner) +
                              "MPSSE Initialize Successfull, 0\n"
                              "Error - MPSSE receive buffer should be empty0 Aborting \n");
    EXPECT_EQ(ops().back(), "FT_Close");
    EXPECT_EQ(driver->writes().size(), 3u);
}

struct EchoCase {
    Bytes atWrite;      // arriving with the echo probe's write
    Bytes atLaterPoll;  // arriving at the next queue query
    bool passes;
};

class EchoCheck : public LinkTest, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(EchoCheck, LooksForTheAnswerPairAnywhereInWhatIsWaiting) {
    const auto& c = GetParam();
    driver->afterWrite(2, c.atWrite);
    if (!c.atLaterPoll.empty()) driver->atQuery(4, c.atLaterPoll);
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), c.passes ? 0 : 1);
    const std::string text = out.text();
    EXPECT_EQ(text.find("Error in synchronizing the MPSSE\n") != std::string::npos, !c.passes);
    if (!c.passes) {
        EXPECT_EQ(ops().back(), "FT_Close");
        // no bit-mode reset on this path
        EXPECT_EQ(driver->callsOf("FT_SetBitMode").size(), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EchoCheck,
    ::testing::Values(EchoCase{{kAnswer, kProbe}, {}, true},
                      EchoCase{{0x00, kAnswer, kProbe}, {}, true},
                      EchoCase{{0x12, 0x34, 0x56, kAnswer, kProbe, 0x00}, {}, true},
                      EchoCase{{kAnswer, 0xAA}, {}, false}, EchoCase{{kProbe, kAnswer}, {}, false},
                      // only the answer byte is waiting when the poll ends; the probe comes later
                      EchoCase{{kAnswer}, {kProbe}, false}));

TEST_F(LinkTest, SilentPortGivesUpTheEchoPollAfterABoundedTime) {
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
    const std::string text = out.text();
    EXPECT_NE(text.find("Error - no answer from the MPSSE within 500 ms\n"), std::string::npos);
    EXPECT_NE(text.find("Error in synchronizing the MPSSE\n"), std::string::npos);
}

TEST_F(LinkTest, ResynchronisationMakesExactlyTwoWritesWhateverTheEcho) {
    openLink();
    driver->preload({0x11, 0x22, 0x33, 0x44, 0x55});
    driver->afterWrite(1, kEcho);
    const std::vector<Bytes> probeThenLoopbackOff{{sbus::kEchoProbe}, {mpsse::kLoopbackOff}};
    {
        StdoutCapture out;
        EXPECT_EQ(synchronize_MPSSE(), 0);
        EXPECT_EQ(out.text(), " !!!!! 11 22 33 44  \n");
        EXPECT_EQ(driver->writes(), probeThenLoopbackOff);
    }
    driver->clearCalls();
    driver->preload({kAnswer, 0xAA});  // no echo pair this time: a short dump
    {
        StdoutCapture out;
        EXPECT_EQ(synchronize_MPSSE(), 0);
        const std::string text = out.text();
        EXPECT_EQ(text.rfind(" !!!!! FA AA 0 0  \n", 0), 0u) << text;
        EXPECT_NE(text.find("Error in synchronizing the MPSSE - FT2332 Reset \n"),
                  std::string::npos);
        EXPECT_EQ(driver->writes(), probeThenLoopbackOff);
    }
}

TEST_F(LinkTest, CloseDrainsResetsTheBitModeAndClosesOnce) {
    openLink();
    driver->preload({0x01, 0x02});
    StdoutCapture out;
    EXPECT_EQ(CloseFT2232HDevice(), 0);
    EXPECT_EQ(ops(), (std::vector<std::string>{"FT_GetQueueStatus", "FT_Read", "FT_SetBitMode",
                                               "FT_Close"}));
    driver->clearCalls();
    EXPECT_EQ(CloseFT2232HDevice(), 0);  // a second close does not reach the driver
    EXPECT_TRUE(driver->calls().empty());
    EXPECT_EQ(out.text(), "");
}

TEST_F(LinkTest, CloseAfterAFailedOpenPrintsNothingAndLeavesTheDriverAlone) {
    driver->failCall("FT_SetTimeouts", 1, FT_IO_ERROR);
    {
        StdoutCapture quiet;
        ASSERT_EQ(OpenandConfigFT2232Hdevice(), 1);
    }
    driver->clearCalls();
    StdoutCapture out;
    EXPECT_EQ(CloseFT2232HDevice(), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(driver->calls().empty());
}

}  // namespace
}  // namespace kovra610::testing

namespace kovra610::testing {
namespace {

// The real libftdi1 backend on a machine without an FTDI device.
TEST(LinkOnHardware, WithoutAnyFtdiDeviceTheOpenSaysSoAndTouchesNothing) {
    d2xx::installBackend(d2xx::makeBackendFor("usb"));
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), static_cast<FT_STATUS>(FT_OK));
    if (count > 0) GTEST_SKIP() << "an FTDI device is attached to this machine";
    StdoutCapture out;
    EXPECT_EQ(OpenandConfigFT2232Hdevice(), 1);
    EXPECT_EQ(out.text(), "Checking for FTDI devices...\nThere are no FTDI devices installed\n");
    EXPECT_EQ(CloseFT2232HDevice(), 0);
    d2xx::installBackend(nullptr);
}

}  // namespace
}  // namespace kovra610::testing
