#include "vcd_trace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kovra610::vboard {
namespace {

// Identifier codes of ADBUS0..ADBUS7.
constexpr char kIds[8] = {'!', '"', '#', '$', '%', '&', '\'', '('};

}  // namespace

VcdTrace::~VcdTrace() {
    if (file_ == nullptr) return;
    flush();
    std::fclose(file_);
}

bool VcdTrace::open(const std::string& path, uint64_t now, uint8_t levels, std::string& error) {
    if (file_ != nullptr) {
        error = "a pin trace is already being written to " + path_;
        return false;
    }
    // Held under an exclusive lock while written: a second board (another
    // session, another process) given the same file is refused rather than
    // writing into it. The file is emptied only once the lock is held.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create the pin trace \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(fd);
        error = why == EWOULDBLOCK
                    ? "the pin trace \"" + path +
                          "\" is being written by another board (give each "
                          "session its own trace file)"
                    : "cannot lock the pin trace \"" + path + "\": " + std::strerror(why);
        return false;
    }
    std::FILE* f = ::ftruncate(fd, 0) == 0 ? ::fdopen(fd, "w") : nullptr;
    if (f == nullptr) {
        error = "cannot write the pin trace \"" + path + "\": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    file_ = f;
    path_ = path;
    start_ = now;
    levels_ = levels;
    failed_ = false;
    std::fputs(
        "$version KOVRA610 virtual board pin trace $end\n"
        "$comment FT2232H low byte; 60 MHz master clock $end\n"
        "$timescale 1 ps $end\n"
        "$scope module ADBUS $end\n",
        f);
    for (int i = 0; i < 8; ++i) std::fprintf(f, "$var wire 1 %c ADBUS%d $end\n", kIds[i], i);
    std::fputs("$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n", f);
    for (int i = 0; i < 8; ++i) std::fprintf(f, "%d%c\n", (levels >> i) & 1, kIds[i]);
    if (std::fputs("$end\n", f) < 0) failed_ = true;
    lastStamp_ = 0;
    stamped_ = true;
    used_ = 0;
    return true;
}

void VcdTrace::flush() {
    if (used_ == 0) return;
    if (std::fwrite(buffer_, 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
}

void VcdTrace::stamp(uint64_t now) {
    const uint64_t t = ticksToPicoseconds(now >= start_ ? now - start_ : 0);
    if (stamped_ && t <= lastStamp_) return;
    lastStamp_ = t;
    stamped_ = true;
    char digits[24];
    std::size_t n = 0;
    uint64_t v = t;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    buffer_[used_++] = '#';
    while (n > 0) buffer_[used_++] = digits[--n];
    buffer_[used_++] = '\n';
}

void VcdTrace::change(uint64_t now, uint8_t levels) {
    if (file_ == nullptr || levels == levels_) return;
    // Room for one time stamp and eight changes.
    if (used_ > sizeof buffer_ - 64) flush();
    stamp(now);
    const uint8_t diff = levels ^ levels_;
    for (int i = 0; i < 8; ++i) {
        if ((diff >> i) & 1) {
            buffer_[used_++] = static_cast<char>('0' + ((levels >> i) & 1));
            buffer_[used_++] = kIds[i];
            buffer_[used_++] = '\n';
        }
    }
    levels_ = levels;
}

bool VcdTrace::close(uint64_t now) {
    if (file_ == nullptr) return true;
    flush();
    stamp(now);
    flush();
    if (std::ferror(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace kovra610::vboard
