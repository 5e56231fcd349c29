#include "recording_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kovra610::testing {

namespace {
FT_HANDLE const kHandle = reinterpret_cast<FT_HANDLE>(0x6010);
}

void RecordingBackend::failCall(const std::string& op, int nth, FT_STATUS status) {
    nthFailures_[op][counts_[op] + nth] = status;
}
void RecordingBackend::failAlways(const std::string& op, FT_STATUS status) {
    alwaysFailures_[op] = status;
}
void RecordingBackend::afterWrite(int nthWrite, std::vector<uint8_t> bytes) {
    auto& slot = afterWrite_[counts_["FT_Write"] + nthWrite];
    slot.insert(slot.end(), bytes.begin(), bytes.end());
}
void RecordingBackend::atQuery(int nthQuery, std::vector<uint8_t> bytes) {
    auto& slot = atQuery_[counts_["FT_GetQueueStatus"] + nthQuery];
    slot.insert(slot.end(), bytes.begin(), bytes.end());
}
void RecordingBackend::preload(std::vector<uint8_t> bytes) {
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
}

std::vector<DriverCall> RecordingBackend::callsOf(const std::string& op) const {
    std::vector<DriverCall> out;
    for (const auto& c : calls_)
        if (c.op == op) out.push_back(c);
    return out;
}

std::vector<std::vector<uint8_t>> RecordingBackend::writes() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& c : calls_)
        if (c.op == "FT_Write") out.push_back(c.bytes);
    return out;
}

FT_STATUS RecordingBackend::record(const std::string& op, std::vector<uint32_t> args,
                                   std::vector<uint8_t> bytes) {
    const int n = ++counts_[op];
    FT_STATUS status = FT_OK;
    if (auto it = alwaysFailures_.find(op); it != alwaysFailures_.end()) status = it->second;
    if (auto it = nthFailures_.find(op); it != nthFailures_.end()) {
        if (auto jt = it->second.find(n); jt != it->second.end()) status = jt->second;
    }
    calls_.push_back({op, std::move(args), std::move(bytes), status});
    return status;
}

FT_STATUS RecordingBackend::createDeviceInfoList(DWORD* count) {
    const FT_STATUS s = record("FT_CreateDeviceInfoList", {});
    *count = s == FT_OK ? deviceCount : 0;
    return s;
}
FT_STATUS RecordingBackend::open(int index, FT_HANDLE* handle) {
    const FT_STATUS s = record("FT_Open", {static_cast<uint32_t>(index)});
    if (s == FT_OK) *handle = kHandle;
    return s;
}
FT_STATUS RecordingBackend::close(FT_HANDLE) {
    return record("FT_Close", {});
}
FT_STATUS RecordingBackend::resetDevice(FT_HANDLE) {
    return record("FT_ResetDevice", {});
}
FT_STATUS RecordingBackend::getQueueStatus(FT_HANDLE, DWORD* rxBytes) {
    const int n = counts_["FT_GetQueueStatus"] + 1;
    if (auto it = atQuery_.find(n); it != atQuery_.end()) {
        rx_.insert(rx_.end(), it->second.begin(), it->second.end());
        atQuery_.erase(it);
    }
    const FT_STATUS s = record("FT_GetQueueStatus", {});
    *rxBytes = static_cast<DWORD>(rx_.size());
    calls_.back().args.push_back(*rxBytes);
    return s;
}
FT_STATUS RecordingBackend::read(FT_HANDLE, void* buffer, DWORD toRead, DWORD* returned) {
    std::vector<uint8_t> delivered;
    while (delivered.size() < toRead && !rx_.empty()) {
        delivered.push_back(rx_.front());
        rx_.pop_front();
    }
    if (!delivered.empty()) std::memcpy(buffer, delivered.data(), delivered.size());
    *returned = static_cast<DWORD>(delivered.size());
    return record("FT_Read", {toRead}, delivered);
}
FT_STATUS RecordingBackend::write(FT_HANDLE, const void* buffer, DWORD toWrite, DWORD* written) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    const FT_STATUS s = record("FT_Write", {toWrite}, std::vector<uint8_t>(p, p + toWrite));
    *written = s == FT_OK ? toWrite : 0;
    const int n = counts_["FT_Write"];
    if (auto it = afterWrite_.find(n); it != afterWrite_.end()) {
        rx_.insert(rx_.end(), it->second.begin(), it->second.end());
        afterWrite_.erase(it);
    }
    return s;
}
FT_STATUS RecordingBackend::setUSBParameters(FT_HANDLE, ULONG inSize, ULONG outSize) {
    return record("FT_SetUSBParameters", {inSize, outSize});
}
FT_STATUS RecordingBackend::setChars(FT_HANDLE, UCHAR a, UCHAR b, UCHAR c, UCHAR d) {
    return record("FT_SetChars", {a, b, c, d});
}
FT_STATUS RecordingBackend::setTimeouts(FT_HANDLE, ULONG readMs, ULONG writeMs) {
    return record("FT_SetTimeouts", {readMs, writeMs});
}
FT_STATUS RecordingBackend::setLatencyTimer(FT_HANDLE, UCHAR ms) {
    return record("FT_SetLatencyTimer", {ms});
}
FT_STATUS RecordingBackend::setFlowControl(FT_HANDLE, USHORT flow, UCHAR xon, UCHAR xoff) {
    return record("FT_SetFlowControl", {flow, xon, xoff});
}
FT_STATUS RecordingBackend::setBitMode(FT_HANDLE, UCHAR mask, UCHAR mode) {
    return record("FT_SetBitMode", {mask, mode});
}

FdCapture::FdCapture(int fd) : fd_(fd) {
    std::fflush(nullptr);
    char name[] = "/tmp/kovra610-capture-XXXXXX";
    captureFd_ = mkstemp(name);
    path_ = name;
    savedFd_ = dup(fd_);
    dup2(captureFd_, fd_);
}

FdCapture::~FdCapture() {
    std::fflush(nullptr);
    dup2(savedFd_, fd_);
    ::close(savedFd_);
    ::close(captureFd_);
    unlink(path_.c_str());
}

std::string FdCapture::text() const {
    std::fflush(nullptr);
    std::ifstream in(path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

StdoutCapture::StdoutCapture() : FdCapture(STDOUT_FILENO) {}

}  // namespace kovra610::testing
