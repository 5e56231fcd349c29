// The panel's register fields as the panel file describes them: the rings
// and ring slides whose commit packs the register groups and sends them,
// with their ring values and captions.
#pragma once

#include <string>

#include "app/cli/cli_steps.h"

namespace kovra610::cli {

// Reads the register fields (the controls bound to `registerCallback`) and
// the channel-selection ring `channelControl` from the panel file at
// `path`; false with the reason when the file cannot be read.
bool readPanelFields(const std::string& path, const char* registerCallback,
                     const char* channelControl, PanelFields* out, std::string* why);

// The panel file `name` beside the running program, as the run-time looks
// it up.
std::string panelFileBesideProgram(const char* name);

}  // namespace kovra610::cli
