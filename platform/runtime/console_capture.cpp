// Standard output through a stdio stream of our own (a glibc cookie stream),
// so every line printed reaches the terminal and the console pane alike.
#include "platform/runtime/console_capture.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>

namespace kovra610::runtime {
namespace {

bool g_capturing = false;

}  // namespace

ConsoleCapture::ConsoleCapture(Sink sink) : sink_(std::move(sink)) {
    if (g_capturing) return;
    cookie_io_functions_t io{};
    io.write = &ConsoleCapture::writeThrough;
    FILE* stream = fopencookie(this, "w", io);
    if (stream == nullptr) return;
    std::fflush(stdout);
    // The same buffering as before: line by line, or in blocks.
    std::setvbuf(stream, nullptr, __flbf(stdout) != 0 ? _IOLBF : _IOFBF, BUFSIZ);
    previous_ = stdout;
    stream_ = stream;
    stdout = stream;
    g_capturing = true;
}

ConsoleCapture::~ConsoleCapture() {
    if (stream_ == nullptr) return;
    std::fflush(stream_);
    stdout = previous_;
    std::fclose(stream_);
    g_capturing = false;
    if (!partial_.empty() && sink_) sink_({std::chrono::system_clock::now(), partial_});
}

// Every byte goes to descriptor 1 as stdio would have written it. A
// descriptor that cannot take them (closed, or a reader gone) loses them as
// it did before; the lines still reach the sink, and stdio is told they were
// written so that it does not hand the same bytes over again.
ssize_t ConsoleCapture::writeThrough(void* cookie, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(STDOUT_FILENO, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    static_cast<ConsoleCapture*>(cookie)->take(data, size);
    return static_cast<ssize_t>(size);
}

void ConsoleCapture::take(const char* data, size_t size) {
    const auto now = std::chrono::system_clock::now();
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        partial_.append(data + start, i - start);
        if (sink_) sink_({now, partial_});
        partial_.clear();
        start = i + 1;
    }
    partial_.append(data + start, size - start);
}

}  // namespace kovra610::runtime
