// kovra610-cli serve: commands one per line on standard input, each
// answered by exactly one JSON object line.
#pragma once

#include <cstdio>
#include <string>

#include "app/cli/cli_steps.h"
#include "app/cli/collected_popups.h"

namespace kovra610::cli {

// The first line of a serve session and of a --json run: the tool, its
// version and the board it opened (the KOVRA610_BOARD setting and, for a
// USB board, the port as devices lists it).
//   {"ok":true,"hello":"kovra610-cli","version":"1.0.0","board":"virtual"}
std::string helloLine();
// An error answer: {"ok":false,"error":"...","step":"..."}.
std::string errorLine(const std::string& step, const std::string& why);

// Answers the commands read from `in` on `out` until the end of the input
// or quit. Returns the exit status: 0, or 4 when an answer cannot be
// written (the reader has gone), which ends the session at once.
int serve(const PanelFields& fields, CollectedPopups& popups, FILE* in, FILE* out);

}  // namespace kovra610::cli
