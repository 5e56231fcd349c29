// kovra610-cli's whole run, for its main and for tests that run it
// in-process on a board of their own.
#pragma once

#include <cstdio>

namespace kovra610::cli {

// Runs kovra610-cli with these arguments; a serve session reads its
// commands from `in`. Returns the exit status.
int runCommandLine(int argc, char* argv[], FILE* in);

}  // namespace kovra610::cli
