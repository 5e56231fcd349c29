#include "board_claim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace kovra610::vboard {

bool BoardClaim::take(const std::string& serial, std::string* error) {
    if (fd_ >= 0) return true;
    const std::string name = "kovra610 virtual board " + serial;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract namespace: the name starts after a NUL in sun_path.
    if (name.size() + 1 > sizeof address.sun_path) {
        if (error != nullptr) *error = "the serial number is too long to claim the board";
        return false;
    }
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error != nullptr)
            *error = std::string("cannot claim the board: ") + std::strerror(errno);
        return false;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int why = errno;
        ::close(fd);
        if (error != nullptr) {
            *error = why == EADDRINUSE
                         ? "it is open in another session"
                         : std::string("cannot claim the board: ") + std::strerror(why);
        }
        return false;
    }
    fd_ = fd;
    return true;
}

void BoardClaim::release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kovra610::vboard
