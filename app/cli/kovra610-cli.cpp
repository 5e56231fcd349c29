// kovra610-cli: the bench tool without a display, for scripts and for
// programs that drive the board through a serve session.
#include <cstdio>

#include "app/cli/cli_main.h"

int main(int argc, char* argv[]) {
    return kovra610::cli::runCommandLine(argc, argv, stdin);
}
