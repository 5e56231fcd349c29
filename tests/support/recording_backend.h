// A driver backend for tests: records every call with its arguments and
// answers from a script (statuses, the device count, bytes arriving in the
// receive queue after given writes or at given queue queries).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/d2xx/backend.h"

namespace kovra610::testing {

struct DriverCall {
    std::string op;              // "FT_Write", "FT_GetQueueStatus", ...
    std::vector<uint32_t> args;  // numeric arguments in call order
    std::vector<uint8_t> bytes;  // bytes written (FT_Write) or delivered (FT_Read)
    FT_STATUS status = FT_OK;    // what the call returned
};

class RecordingBackend : public d2xx::Backend {
public:
    DWORD deviceCount = 2;

    // Every count runs from the moment of the call: the nth call of an
    // operation is the nth from now on, 1 the next one.
    // The nth call of `op` returns `status`.
    void failCall(const std::string& op, int nth, FT_STATUS status);
    // Every call of `op` from now on returns `status`.
    void failAlways(const std::string& op, FT_STATUS status);
    // Bytes that enter the receive queue right after the nth write.
    void afterWrite(int nthWrite, std::vector<uint8_t> bytes);
    // Bytes that enter the receive queue just before the nth queue query
    // answers.
    void atQuery(int nthQuery, std::vector<uint8_t> bytes);
    // Bytes already waiting.
    void preload(std::vector<uint8_t> bytes);

    const std::vector<DriverCall>& calls() const { return calls_; }
    std::vector<DriverCall> callsOf(const std::string& op) const;
    std::vector<std::vector<uint8_t>> writes() const;
    void clearCalls() { calls_.clear(); }
    size_t waiting() const { return rx_.size(); }

    KOVRA610_D2XX_BACKEND_CALLS(, override);

private:
    FT_STATUS record(const std::string& op, std::vector<uint32_t> args,
                     std::vector<uint8_t> bytes = {});

    std::vector<DriverCall> calls_;
    std::map<std::string, int> counts_;
    std::map<std::string, std::map<int, FT_STATUS>> nthFailures_;
    std::map<std::string, FT_STATUS> alwaysFailures_;
    std::map<int, std::vector<uint8_t>> afterWrite_;
    std::map<int, std::vector<uint8_t>> atQuery_;
    std::deque<uint8_t> rx_;
};

// Captures what the code under test writes to a file descriptor (standard
// output unless told otherwise) while it lives.
class FdCapture {
public:
    explicit FdCapture(int fd);
    ~FdCapture();
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;
    std::string text() const;  // everything written since construction

private:
    int fd_;
    int savedFd_ = -1;
    int captureFd_ = -1;
    std::string path_;
};

class StdoutCapture : public FdCapture {
public:
    StdoutCapture();
};

}  // namespace kovra610::testing
