// A Value Change Dump of the FT2232H's low byte (ADBUS0-7), one one-bit
// signal per pin, readable by PulseView, GTKWave and sigrok-cli.
//
// Times are given in ticks of the 60 MHz master clock and written in
// picoseconds (timescale 1 ps), relative to the moment the trace started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kovra610::vboard {

class VcdTrace {
public:
    VcdTrace() = default;
    ~VcdTrace();
    VcdTrace(const VcdTrace&) = delete;
    VcdTrace& operator=(const VcdTrace&) = delete;

    // Creates `path` and writes the header and the pins' present levels at
    // master tick `now`. On failure returns false with a reason in `error`
    // and records nothing.
    bool open(const std::string& path, uint64_t now, uint8_t levels, std::string& error);
    // Records the pins' levels at master tick `now` (ticks never go back).
    void change(uint64_t now, uint8_t levels);
    // Writes the last time stamp and closes the file. Returns false if any
    // write to the file failed.
    bool close(uint64_t now);

    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    // 16 666.67 ps a tick; saturates (after some 200 days of board time).
    static uint64_t ticksToPicoseconds(uint64_t ticks) {
        const unsigned __int128 ps = static_cast<unsigned __int128>(ticks) * 50000u / 3u;
        return ps > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(ps);
    }

private:
    void stamp(uint64_t now);
    void flush();

    std::FILE* file_ = nullptr;
    std::string path_;
    uint64_t start_ = 0;
    uint64_t lastStamp_ = 0;
    bool stamped_ = false;
    uint8_t levels_ = 0;
    bool failed_ = false;
    char buffer_[1 << 16];
    std::size_t used_ = 0;
};

}  // namespace kovra610::vboard
