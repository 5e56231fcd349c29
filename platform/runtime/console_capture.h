// Copies what the program prints on standard output to a second reader, line
// by line, each with the time it was completed. Standard output itself still
// receives every byte, unchanged and in order.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace kovra610::runtime {

struct ConsoleLine {
    std::chrono::system_clock::time_point time;
    std::string text;  // without its line end
};

// While it lives, stdio's `stdout` is a stream of its own that writes
// through to file descriptor 1 and hands each completed line to the sink.
// The stream keeps the buffering of the one it stands in for. The sink runs
// on the printing thread and must not print on standard output itself.
// Captures do not nest: a second one while the first lives captures nothing.
class ConsoleCapture {
public:
    using Sink = std::function<void(const ConsoleLine&)>;

    explicit ConsoleCapture(Sink sink);
    // Flushes, gives back the previous `stdout`, and hands a last line that
    // has no line end yet to the sink.
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    bool capturing() const { return stream_ != nullptr; }

private:
    static ssize_t writeThrough(void* cookie, const char* data, size_t size);
    void take(const char* data, size_t size);

    Sink sink_;
    FILE* previous_ = nullptr;
    FILE* stream_ = nullptr;
    std::string partial_;
};

}  // namespace kovra610::runtime
