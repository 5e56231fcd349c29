#include "platform/runtime/status.h"

#include <cstdio>
#include <utility>

namespace kovra610::runtime {
namespace {

StatusSink& installedSink() {
    static StatusSink sink;
    return sink;
}

}  // namespace

void setStatusSink(StatusSink sink) {
    installedSink() = std::move(sink);
}

void showStatus(const std::string& message) {
    // A copy: the sink may install another while it runs.
    if (const StatusSink sink = installedSink()) {
        sink(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace kovra610::runtime
