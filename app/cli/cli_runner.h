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

// Whether a step talks to the board (and so fails while the link is down).
bool needsLink(StepKind kind);

class Runner {
public:
    Runner(const PanelFields& fields, CollectedPopups& popups) : fields_(fields), popups_(popups) {}

    // Runs one step: refused while the link is down when it needs the link,
    // failed when the link is lost on the way or a popup reports an error.
    Answer run(const Step& step);

private:
    Answer perform(const Step& step);
    Answer load(const Step& step);
    Answer save(const Step& step);
    Answer readAll();
    Answer readAllFast();
    Answer verify();
    Answer read(const Step& step);
    Answer set(const Step& step);
    Answer get(const RegisterField& field);
    Answer channels(const Step& step);
    Answer reopen();
    Answer level(const Step& step);
    Answer code(const Step& step);

    const PanelFields& fields_;
    CollectedPopups& popups_;
};

// Reads every entry in use back in one batched stream: the answer words in
// entry order, or false with the reason (then nothing was read).
bool readEntriesFast(std::vector<unsigned>* words, std::string* why);
// Stores answer words in the image as "Read all Regs" stores its reads: the
// data field, and its level by conversion pair 0.
void storeReadBack(const std::vector<unsigned>& words);

// The image's entries in use as JSON objects (index, name, channel,
// address, read/write flag `rw`, data, level); the level is null for
// register entries.
std::vector<std::string> imageRows(const std::vector<unsigned>& rwFlags);

}  // namespace kovra610::cli
