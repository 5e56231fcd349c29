// The status line: short messages for the operator about what the panel did
// with an entry (a refused value and why). Where they appear is up to the
// program: until it installs a sink, each message is one line on standard
// error.
#pragma once

#include <functional>
#include <string>

namespace kovra610::runtime {

using StatusSink = std::function<void(const std::string& message)>;

// Installs where status messages go; an empty sink restores the default
// (one line on standard error).
void setStatusSink(StatusSink sink);

// Shows one status message through the installed sink.
void showStatus(const std::string& message);

}  // namespace kovra610::runtime
