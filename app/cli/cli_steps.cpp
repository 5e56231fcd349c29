// Reading the command line of kovra610-cli and its bench scripts.

#include "app/cli/cli.h"
#include "app/core/setup_files.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/text/text_lines.h"

namespace kovra610::cli {
namespace {

const char kFastOption[] = "--fast";

// Bench scripts: how deep `script` may nest, and how big a script may be.
constexpr int kScriptDepthLimit = 8;
constexpr std::size_t kScriptSizeLimit = 1 << 20;

// Rows from the first register entry on have no DAC entry; the panel shows
// 32 rows.
constexpr unsigned kRowMax = sbus::kDriverEntries.entry - 1;
constexpr unsigned kPanelRows = 32;
constexpr double kVoltsMin = -2.5, kVoltsMax = 7.5;

// A sub-command's argument: what it must be. A whole number in [min, max]
// goes into the step's member `number`; the others into the member their
// kind names (kChannels, like kValue, into `value`).
enum ArgumentKind { kNumber, kRow, kVolts, kChannels, kFile, kBits, kField, kValue };
struct Argument {
    const char* name;
    ArgumentKind kind;
    unsigned min = 0, max = 0;
    unsigned Step::*number = nullptr;
};

// The arguments the sub-commands' usage lines name ("write CH RW ADDR
// DATA"), each read the same way wherever it stands; "[--fast]" is an
// option of read-all, not an argument.
const Argument kArguments[] = {
    {"FILE", kFile},
    {"CH", kNumber, sbus::kChannel0, sbus::kChannelMax, &Step::ch},
    {"RW", kNumber, 0, 1, &Step::rw},
    {"ADDR", kNumber, 0, sbus::kAddressMax, &Step::addr},
    {"DATA", kNumber, 0, sbus::kDataMax, &Step::data},
    {"CODE", kNumber, 0, sbus::kDataMax, &Step::code},
    {"DIVISOR", kNumber, 0, 59, &Step::divisor},  // "Sclk Divider"
    {"ROW", kRow},
    {"VOLTS", kVolts},
    {"BITSTRING", kBits},
    {"FIELD", kField},
    {"VALUE", kValue},
    {"1|2|3", kChannels},
};

using kovra610::runtime::trimmed;
using namespace kovra610::text;

// One argument that must be a whole number in [min, max].
bool numberArgument(const std::string& text, const char* what, unsigned min, unsigned max,
                    unsigned* value, std::string* error) {
    const std::optional<unsigned> n = parseNumber(text, max);
    if (!n || *n < min) {
        *error = std::string(what) + " must be " + std::to_string(min) + ".." +
                 std::to_string(max) + " (decimal or 0x hex), not \"" + text + "\"";
        return false;
    }
    *value = *n;
    return true;
}

// A DAC row: the panel shows 32, the image has DAC entries for 30.
bool rowArgument(const std::string& text, unsigned* row, std::string* why) {
    if (numberArgument(text, "ROW", 0, kRowMax, row, why)) return true;
    const std::optional<unsigned> panelRow = parseNumber(text, kPanelRows - 1);
    if (panelRow)
        *why = "ROW " + text + " has no DAC entry: rows 0.." + std::to_string(kRowMax) +
               " are DAC levels";
    return false;
}

// A register field named by its constant name, any case.
bool fieldArgument(const std::string& name, const PanelFields& fields, Step* step,
                   std::string* why) {
    step->field = fields.find(name);
    if (step->field != nullptr) return true;
    *why = "FIELD must be one of the panel's register fields (";
    for (std::size_t i = 0; i < fields.fields.size(); ++i)
        *why += (i > 0 ? ", " : "") + fields.fields[i].name;
    *why += "), not \"" + name + "\"";
    return false;
}

// The ring value a set names: one of the listed values, by number or by
// its caption.
bool ringValue(const RegisterField& field, const std::string& text, int* value, std::string* why) {
    if (const std::optional<int> named = field.valueNamed(text)) {
        *value = *named;
        return true;
    }
    *why = "VALUE of " + field.name + " must be one of";
    for (std::size_t i = 0; i < field.values.size(); ++i) {
        *why += (i > 0 ? ", " : " ") + std::to_string(field.values[i]);
        if (i < field.captions.size()) *why += " \"" + trimmed(field.captions[i]) + "\"";
    }
    *why += ", not \"" + text + "\"";
    return false;
}

// One argument of a sub-command's row, read into the step; false with the
// reason.
bool readArgument(const Argument& argument, const std::string& text, Step* step,
                  const PanelFields& fields, std::string* why) {
    unsigned channels = 0;
    switch (argument.kind) {
        case kNumber:
            return numberArgument(text, argument.name, argument.min, argument.max,
                                  &(step->*argument.number), why);
        case kRow:
            return rowArgument(text, &step->row, why);
        case kVolts: {
            const std::optional<double> v = parseDecimal(text);
            step->volts = v.value_or(0.0);
            if (v && *v >= kVoltsMin && *v <= kVoltsMax) return true;
            *why = "VOLTS must be a level from -2.5 to 7.5, not \"" + text + "\"";
            return false;
        }
        case kChannels:
            // 1 channel 0, 2 channel 1, 3 both: the items "RW Ch0", "RW CH1"
            // and "RW Ch0/Ch1" of the channel selection, whose values are 1,
            // 2 and 0.
            if (!numberArgument(text, "channels", 1, 3, &channels, why)) return false;
            step->value = channels == 3 ? 0 : static_cast<int>(channels);
            return true;
        case kFile:
            step->path = text;
            if (!text.empty()) return true;
            *why = "the file name is empty";
            return false;
        case kBits:
            step->bits = text;
            if (text.size() == sbus::kWordBits && text.find_first_not_of("01") == std::string::npos)
                return true;
            *why =
                "BITSTRING must be exactly 26 characters of 0 and 1 (channel select, address, "
                "read/write, data), not \"" +
                text + "\"";
            return false;
        case kField:
            return fieldArgument(text, fields, step, why);
        case kValue:
            return ringValue(*step->field, text, &step->value, why);
    }
    return false;
}

// The arguments of a row, as its usage line names them.
std::vector<const Argument*> argumentsOf(const Command& command) {
    std::vector<std::string> words;
    splitWords(command.usage, &words);
    std::vector<const Argument*> arguments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        for (const Argument& argument : kArguments) {
            if (words[i] == argument.name) arguments.push_back(&argument);
        }
    }
    return arguments;
}

class Reader {
public:
    Reader(Invocation* out, const PanelFields& fields) : out_(out), fields_(fields) {}

    // Reads options and sub-commands from `words`, numbering each
    // sub-command as a step of its own.
    bool commandLine(const std::vector<std::string>& words, std::string* error) {
        std::size_t i = 0;
        int number = 0;
        while (i < words.size()) {
            if (words[i] == "--log" || words[i].rfind("--log=", 0) == 0) {
                if (!logOption(words, &i, error)) return false;
                continue;
            }
            if (option(words[i])) {
                ++i;
                continue;
            }
            ++number;
            const Command* command = findCommand(words[i]);
            if (command != nullptr && command->use == kStandalone) {
                if (!standalone(*command, error)) return false;
                ++i;
                continue;
            }
            const std::size_t count = argumentCount(words, i);
            const std::vector<std::string> these(words.begin() + static_cast<long>(i),
                                                 words.begin() + static_cast<long>(i + 1 + count));
            const std::string label = std::to_string(number) + " (" + joinWords(these) + ")";
            if (!subCommand(these, label, 0, error)) return false;
            i += 1 + count;
        }
        return standaloneAlone(error);
    }

    // One command line of a serve session.
    bool serveLine(const std::string& line, std::string* error) {
        std::vector<std::string> words;
        std::string why;
        if (!lineWords(line, kLineLimit, &words, &why)) return fail(why, error);
        if (words.empty()) return fail("empty command", error);
        const Command* command = findCommand(words[0]);
        if (command != nullptr && command->use == kScript)
            return fail("script is not a command of serve: send its lines one by one", error);
        serving_ = true;
        if (!step(words, trimmed(line), &why)) return fail(why, error);
        return true;
    }

private:
    static bool fail(const std::string& why, std::string* error) {
        *error = why;
        return false;
    }

    // Fails the step `label` for the reason given.
    static bool failStep(const std::string& label, const std::string& why, std::string* error) {
        *error = "step " + label + ": " + why;
        return false;
    }

    bool option(const std::string& word) {
        if (word == "--json") {
            out_->json = true;
        } else if (word == "--attach") {
            out_->attach = true;
        } else if (word == "--help" || word == "-h") {
            help_ = true;
        } else if (word == "--version") {
            version_ = true;
        } else {
            return false;
        }
        return true;
    }

    // --log FILE or --log=FILE; `i` moves past it.
    bool logOption(const std::vector<std::string>& words, std::size_t* i, std::string* error) {
        std::string file;
        if (words[*i] == "--log") {
            if (*i + 1 >= words.size()) return fail("--log needs a FILE", error);
            file = words[*i + 1];
            *i += 2;
        } else {
            file = words[*i].substr(6);
            *i += 1;
        }
        if (file.empty()) return fail("--log needs a FILE", error);
        if (!out_->log.empty()) return fail("--log is given twice", error);
        out_->log = file;
        return true;
    }

    // serve and devices run alone, without other sub-commands.
    bool standalone(const Command& command, std::string* error) {
        if (out_->mode != Mode::Steps || !out_->steps.empty())
            return fail(std::string(command.name) + " runs alone, without other sub-commands",
                        error);
        out_->mode = command.kind == StepKind::Serve ? Mode::Serve : Mode::Devices;
        return true;
    }

    bool standaloneAlone(std::string* error) {
        if (out_->mode != Mode::Steps && !out_->steps.empty())
            return fail(std::string(out_->mode == Mode::Serve ? "serve" : "devices") +
                            " runs alone, without other sub-commands",
                        error);
        if (help_)
            out_->mode = Mode::Help;
        else if (version_)
            out_->mode = Mode::Version;
        return true;
    }

    // How many of the words after words[i] belong to its sub-command.
    static std::size_t argumentCount(const std::vector<std::string>& words, std::size_t i) {
        const Command* command = findCommand(words[i]);
        std::size_t count = command ? argumentsOf(*command).size() : 0;
        if (command && command->kind == StepKind::ReadAll && i + 1 < words.size() &&
            words[i + 1] == kFastOption)
            count = 1;
        if (i + 1 + count > words.size()) count = words.size() - i - 1;
        return count;
    }

    // The command the first word names, with exactly its arguments; null
    // with the reason when there is none.
    const Command* knownCommand(const std::vector<std::string>& words, std::string* why) const {
        const Command* command = findCommand(words[0]);
        const bool serveOnly = command != nullptr && command->use == kServeOnly;
        const bool steps = command != nullptr &&
                           (command->use == kStep || (serveOnly && serving_) ||
                            (command->use == kStandalone && serving_ && command->run != nullptr));
        if (!steps) {
            const bool option = !words[0].empty() && words[0][0] == '-';
            *why = std::string(option ? "unknown option" : "unknown sub-command") + " \"" +
                   words[0] + "\"" + (serveOnly ? " (a command of serve)" : " (see --help)");
            return nullptr;
        }
        std::size_t arguments = words.size() - 1;
        if (command->kind == StepKind::ReadAll && arguments == 1 && words[1] == kFastOption)
            arguments = 0;
        if (arguments == argumentsOf(*command).size()) return command;
        *why = std::string("usage: ") + command->usage;
        return nullptr;
    }

    // One step of exactly its arguments; false with the reason.
    bool step(const std::vector<std::string>& words, const std::string& label, std::string* why) {
        const Command* command = knownCommand(words, why);
        if (command == nullptr) return false;
        Step step;
        step.kind = command->kind;
        step.command = command;
        step.label = label;
        step.text = joinWords(words);
        step.fast = command->kind == StepKind::ReadAll && words.size() == 2;
        const std::vector<const Argument*> arguments = argumentsOf(*command);
        for (std::size_t k = 0; k < arguments.size(); ++k) {
            if (!readArgument(*arguments[k], words[k + 1], &step, fields_, why)) return false;
        }
        out_->steps.push_back(std::move(step));
        return true;
    }

    // One sub-command with exactly its arguments: a step, or a script's steps.
    bool subCommand(const std::vector<std::string>& words, const std::string& label, int depth,
                    std::string* error) {
        const Command* command = findCommand(words[0]);
        if (command != nullptr && command->use == kScript) {
            if (words.size() != 2)
                return failStep(label, std::string("usage: ") + command->usage, error);
            return script(words[1], label, depth, error);
        }
        std::string why;
        if (!step(words, label, &why)) return failStep(label, why, error);
        return true;
    }

    // The sub-commands of a script file, one per line, as steps of `label`.
    bool script(const std::string& path, const std::string& label, int depth, std::string* error) {
        if (depth >= kScriptDepthLimit)
            return failStep(label,
                            "scripts nest deeper than " + std::to_string(kScriptDepthLimit) +
                                " (does a script call itself?)",
                            error);
        std::string text, why;
        if (!readFile(path, "the script", kScriptSizeLimit, &text, &why))
            return failStep(label, why, error);
        std::size_t start = 0;
        int lineNumber = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            start = end + 1;
            dropLineFraming(&line);
            const std::string where = label + ", line " + std::to_string(++lineNumber);
            std::vector<std::string> words;
            if (!lineWords(line, kLineLimit, &words, &why)) return failStep(where, why, error);
            if (words.empty()) continue;
            if (!subCommand(words, where + " (" + joinWords(words) + ")", depth + 1, error))
                return false;
        }
        return true;
    }

    Invocation* out_;
    const PanelFields& fields_;
    bool serving_ = false;
    bool help_ = false;
    bool version_ = false;
};

}  // namespace

Parsed parseCommandLine(const std::vector<std::string>& args, const PanelFields& fields) {
    Parsed parsed;
    Invocation invocation;
    Reader reader(&invocation, fields);
    if (!reader.commandLine(args, &parsed.error)) return parsed;
    if (invocation.mode == Mode::Steps && invocation.steps.empty()) {
        parsed.error = "no sub-command given (see --help)";
        return parsed;
    }
    parsed.invocation = std::move(invocation);
    return parsed;
}

Parsed parseServeLine(const std::string& line, const PanelFields& fields) {
    Parsed parsed;
    Invocation invocation;
    Reader reader(&invocation, fields);
    if (reader.serveLine(line, &parsed.error)) parsed.invocation = std::move(invocation);
    return parsed;
}

std::string noSetupReason(const Step& step) {
    const bool reads = step.kind == StepKind::ReadAll || step.kind == StepKind::Verify;
    const char* what = reads                         ? "no entry to read back"
                       : step.kind == StepKind::Save ? "nothing saved"
                                                     : "nothing sent";
    return std::string("no setup loaded: ") + what + " - load a setup file first";
}

std::optional<std::string> checkSetupLoaded(const std::vector<Step>& steps, bool loaded) {
    for (const Step& step : steps) {
        loaded |= step.kind == StepKind::Load && step.path != "NOFILE";
        if (!loaded && step.command != nullptr && step.command->needsSetup)
            return "step " + step.label + ": " + noSetupReason(step);
    }
    return std::nullopt;
}

std::optional<std::string> checkSetupFiles(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.kind != StepKind::Load || step.path == "NOFILE") continue;
        const std::string problem = sbus_setup_file_problem(step.path.c_str());
        if (!problem.empty()) return "step " + step.label + ": " + problem;
    }
    return std::nullopt;
}

}  // namespace kovra610::cli
