// Runs kovra610-cli's steps on the board brought up by the panel's start-up,
// through the same routines as the panel's controls, and says what each
// step did as JSON members and, for --json runs, JSON lines.
#pragma once

#include <string>
#include <vector>

#include "app/cli/cli_steps.h"
#include "app/cli/collected_popups.h"
#include "app/cli/json_text.h"

namespace kovra610::cli {

inline constexpr char kProgram[] = "kovra610-cli";

enum ExitStatus { kDone = 0, kUsage = 2, kLinkDown = 3, kStepFailed = 4 };

// KOVRA610_BOARD names a board the tool knows: unset, "usb",
// "usb:serial=SN" or "virtual"; false with the reason otherwise.
bool boardSettingKnown(std::string* why);

struct Answer {
    bool ok = true;
    int failure = kStepFailed;  // exit status of a run that this step ends
    std::string why;
    JsonMembers members;            // what the step answers
    std::vector<std::string> rows;  // its JSON lines in a --json run
    std::string note;               // said on standard error by a script run
    bool differs = false;           // verify found entries that differ
};

// Whether the link to the board is up.
bool linkUp();

class Runner {
public:
    Runner(const PanelFields& fields, CollectedPopups& popups) : fields_(fields), popups_(popups) {}

    // Runs one step with its row's handler: refused while the link is down
    // when it needs the link, failed when the link is lost on the way or a
    // popup reports an error.
    Answer run(const Step& step);

private:
    const PanelFields& fields_;
    CollectedPopups& popups_;
};

// Why the last batched read-back failed: how many answers arrived.
std::string batchedReadFailure();

// The handlers of the sub-commands' rows.
Answer loadStep(const Step& step, const PanelFields& fields);
Answer saveStep(const Step& step, const PanelFields& fields);
Answer readAllStep(const Step& step, const PanelFields& fields);
Answer verifyStep(const Step& step, const PanelFields& fields);
Answer writeStep(const Step& step, const PanelFields& fields);
Answer readStep(const Step& step, const PanelFields& fields);
Answer bitsStep(const Step& step, const PanelFields& fields);
Answer ovdMaskStep(const Step& step, const PanelFields& fields);
Answer resetStep(const Step& step, const PanelFields& fields);
Answer clockStep(const Step& step, const PanelFields& fields);
Answer levelStep(const Step& step, const PanelFields& fields);
Answer codeStep(const Step& step, const PanelFields& fields);
Answer setStep(const Step& step, const PanelFields& fields);
Answer getStep(const Step& step, const PanelFields& fields);
Answer channelsStep(const Step& step, const PanelFields& fields);
Answer reopenStep(const Step& step, const PanelFields& fields);
// In devices.cpp: the ports as a "devices" array of objects, as --json
// devices lists them.
Answer devicesStep(const Step& step, const PanelFields& fields);

}  // namespace kovra610::cli
