// Link tests run against the recording backend, installed for each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "link/FT2232H.h"
#include "protocol_bytes.h"
#include "recording_backend.h"

namespace kovra610::testing {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver = std::make_shared<RecordingBackend>();
        d2xx::installBackend(driver);
    }
    void TearDown() override {
        CloseFT2232HDevice();
        d2xx::installBackend(nullptr);
    }
    // Opens the link with the echo answered, then forgets the open's calls.
    void openLink() {
        driver->afterWrite(2, kEcho);
        ASSERT_EQ(OpenandConfigFT2232Hdevice(), 0);
        driver->clearCalls();
    }
    std::vector<std::string> ops() const {
        std::vector<std::string> out;
        for (const auto& c : driver->calls()) out.push_back(c.op);
        return out;
    }
    std::shared_ptr<RecordingBackend> driver;
};

}  // namespace kovra610::testing
