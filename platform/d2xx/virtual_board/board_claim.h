// A named virtual board held by one process at a time, as a real board's
// interface is held by the one program that opened it.
//
// The claim is an abstract Unix socket bound to a name made from the board's
// serial number: nothing on disk, released by the kernel when the process
// ends however it ends, and refused (EADDRINUSE) while another process holds
// it.
#pragma once

#include <string>

namespace kovra610::vboard {

class BoardClaim {
public:
    BoardClaim() = default;
    ~BoardClaim() { release(); }
    BoardClaim(const BoardClaim&) = delete;
    BoardClaim& operator=(const BoardClaim&) = delete;

    // Takes the board named `serial`. False, with the reason in `error`,
    // when another process holds it or no claim can be made.
    bool take(const std::string& serial, std::string* error);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace kovra610::vboard
