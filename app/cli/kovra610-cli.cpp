// kovra610-cli: the bench tool without a display, for scripts and for
// programs that drive the board through a serve session.
#include <csignal>
#include <cstdio>

#include "app/cli/cli_main.h"

int main(int argc, char* argv[]) {
    // A write past the file-size limit (ulimit -f) fails with EFBIG instead
    // of ending the process: a setup file or the session log that cannot be
    // written is then reported as such, and the save's temporary file is
    // removed.
    std::signal(SIGXFSZ, SIG_IGN);
    return kovra610::cli::runCommandLine(argc, argv, stdin);
}
