#include "fault_injector.h"

#include <algorithm>
#include <utility>

#include "platform/protocol/sbus_protocol.h"
#include "virtual_board.h"

namespace kovra610::vboard {
namespace {

std::size_t indexOf(ConfigCall call) {
    return static_cast<std::size_t>(call);
}

}  // namespace

void FaultInjector::failOpen(FT_STATUS status, unsigned times) {
    openFailure_ = status;
    openFailures_ = times;
}

void FaultInjector::failConfigCall(ConfigCall call, FT_STATUS status, unsigned times) {
    configFailure_[indexOf(call)] = status;
    configFailures_[indexOf(call)] = times;
}

void FaultInjector::failWrite(unsigned nth, FT_STATUS status) {
    if (nth == 0) return;
    writeFaults_.push_back(WriteFault{board_.writes_ + nth, status});
}

void FaultInjector::injectStrayBytes(unsigned afterNthWrite, std::vector<uint8_t> bytes) {
    if (afterNthWrite == 0) {
        const auto at = board_.arrival();
        for (uint8_t b : bytes) board_.enqueue(b, 0, at);
        return;
    }
    strays_.push_back(StrayBytes{board_.writes_ + afterNthWrite, std::move(bytes)});
}

void FaultInjector::setEchoFault(EchoFault fault, unsigned times) {
    echoFault_ = fault;
    echoFaults_ = fault == EchoFault::None ? 0 : times;
}

void FaultInjector::shortenNextReply(std::size_t keep) {
    replyFault_ = true;
    replyOnTime_ = keep;
    replyDropRest_ = true;
    replyDelayQueries_ = 0;
}

void FaultInjector::delayNextReply(unsigned queries, std::size_t onTime) {
    replyFault_ = true;
    replyOnTime_ = onTime;
    replyDropRest_ = false;
    replyDelayQueries_ = queries;
}

void FaultInjector::pullCable() {
    pulled_ = true;
    board_.engine_.release();
    board_.queue_.clear();
}

void FaultInjector::pullCableAfterWrite(unsigned nth) {
    pullAfterWrite_ = nth == 0 ? 0 : board_.writes_ + nth;
    if (nth == 0) pullCable();
}

void FaultInjector::plugCable() {
    if (!pulled_) return;
    pulled_ = false;
    board_.forgetHandles();
}

void FaultInjector::clearFaults() {
    present_ = true;
    plugCable();
    openFailures_ = 0;
    for (unsigned& n : configFailures_) n = 0;
    writeFaults_.clear();
    strays_.clear();
    echoFault_ = EchoFault::None;
    echoFaults_ = 0;
    replyFault_ = false;
    pullAfterWrite_ = 0;
}

// --- What the board asks ------------------------------------------------------

FT_STATUS FaultInjector::openFault() {
    if (openFailures_ == 0) return FT_OK;
    if (openFailures_ != kAlways) --openFailures_;
    return openFailure_;
}

FT_STATUS FaultInjector::configFault(ConfigCall call) {
    const std::size_t i = indexOf(call);
    if (configFailures_[i] == 0) return FT_OK;
    if (configFailures_[i] != kAlways) --configFailures_[i];
    return configFailure_[i];
}

FT_STATUS FaultInjector::writeFault() {
    for (auto it = writeFaults_.begin(); it != writeFaults_.end(); ++it) {
        if (it->atWrite == board_.writes_) {
            const FT_STATUS status = it->status;
            writeFaults_.erase(it);
            return status;
        }
    }
    return FT_OK;
}

void FaultInjector::afterWrite() {
    for (auto it = strays_.begin(); it != strays_.end();) {
        if (it->afterWrite == board_.writes_) {
            const auto at = board_.arrival();
            for (uint8_t b : it->bytes) board_.enqueue(b, 0, at);
            it = strays_.erase(it);
        } else {
            ++it;
        }
    }
    if (pullAfterWrite_ != 0 && pullAfterWrite_ == board_.writes_) {
        pullAfterWrite_ = 0;
        pullCable();
    }
}

void FaultInjector::shapeReply(const std::vector<MpsseEngine::InvalidCommand>& invalid,
                               std::vector<uint64_t>& visibleAt, std::vector<bool>& lost) {
    const uint64_t queries = board_.queries_;
    for (const auto& bad : invalid) {
        if (bad.op != sbus::kEchoProbe || echoFaults_ == 0 || echoFault_ == EchoFault::None) {
            continue;
        }
        if (echoFaults_ != kAlways) --echoFaults_;
        if (echoFault_ == EchoFault::Missing) {
            lost[bad.at] = lost[bad.at + 1] = true;
        } else {
            visibleAt[bad.at + 1] = queries + 2;
        }
    }
    if (!replyFault_ || lost.empty()) return;
    for (std::size_t i = replyOnTime_; i < lost.size(); ++i) {
        if (replyDropRest_) {
            lost[i] = true;
        } else {
            visibleAt[i] = std::max(visibleAt[i], queries + replyDelayQueries_ + 1);
        }
    }
    replyFault_ = false;
}

}  // namespace kovra610::vboard
