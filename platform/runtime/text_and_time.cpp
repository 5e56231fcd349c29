// Text formatting, the working directory and timed waits.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime_internal.h"

using kovra610::runtime::detail::reportError;

int Fmt(char* target, std::size_t size, const char* format, ...) {
    if (!target || size == 0) return -1;
    if (!format || std::strncmp(format, "%s<", 3) != 0) {
        target[0] = '\0';
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(target, size, format + 3, args);
    va_end(args);
    if (n < 0) {
        target[0] = '\0';
        return -1;
    }
    return static_cast<int>(std::min(static_cast<std::size_t>(n), size - 1));
}

int GetDir(char* directory, std::size_t size) {
    if (!directory || size == 0) return UIE_OUT_OF_RANGE;
    directory[0] = '\0';
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE || buf.size() > (1u << 20)) {
            reportError("GetDir",
                        std::string("cannot read the working directory: ") + std::strerror(errno));
            return UIE_FILE_ERROR;
        }
        buf.resize(buf.size() * 2);
    }
    std::string dir = buf.data();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.size() >= size) {
        // A cut directory would name another place: give none.
        reportError("GetDir", "the working directory is longer than " + std::to_string(size - 1) +
                                  " characters: " + dir);
        return UIE_OUT_OF_RANGE;
    }
    std::memcpy(directory, dir.c_str(), dir.size() + 1);
    return UIE_NO_ERROR;
}

void Delay(double seconds) {
    if (!(seconds > 0)) return;  // also NaN
    // Bounded at one day. The wait runs no callbacks; a panel displayed just
    // before is put on screen within it.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::min(seconds, 86400.0)));
    kovra610::runtime::detail::finishPanelsWhileWaiting(deadline);
    kovra610::runtime::detail::completeMainWindow();
    std::this_thread::sleep_until(deadline);
}

std::string kovra610::runtime::trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}
