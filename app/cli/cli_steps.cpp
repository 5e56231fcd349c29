// Reading the command line of kovra610-cli and its bench scripts.
#include "app/cli/cli_steps.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kovra610::cli {
namespace {

// Reads a sub-command's arguments (words[1] on) into the step; false with
// the reason when one is not acceptable.
using ArgumentReader = bool (*)(const std::vector<std::string>& words, Step* step,
                                const PanelFields& fields, std::string* why);

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

bool noArguments(const std::vector<std::string>&, Step*, const PanelFields&, std::string*) {
    return true;
}

bool readFileName(const std::vector<std::string>& words, Step* step, const PanelFields&,
                  std::string* why) {
    step->path = words[1];
    if (!step->path.empty()) return true;
    *why = "the file name is empty";
    return false;
}

bool readWrite(const std::vector<std::string>& words, Step* step, const PanelFields&,
               std::string* why) {
    return numberArgument(words[1], "CH", kChannelMin, kChannelMax, &step->ch, why) &&
           numberArgument(words[2], "RW", 0, 1, &step->rw, why) &&
           numberArgument(words[3], "ADDR", 0, kAddressMax, &step->addr, why) &&
           numberArgument(words[4], "DATA", 0, kDataMax, &step->data, why);
}

bool readRead(const std::vector<std::string>& words, Step* step, const PanelFields&,
              std::string* why) {
    return numberArgument(words[1], "CH", kChannelMin, kChannelMax, &step->ch, why) &&
           numberArgument(words[2], "ADDR", 0, kAddressMax, &step->addr, why);
}

bool readBitString(const std::vector<std::string>& words, Step* step, const PanelFields&,
                   std::string* why) {
    step->bits = words[1];
    if (step->bits.size() == kWordBits && step->bits.find_first_not_of("01") == std::string::npos)
        return true;
    *why =
        "BITSTRING must be exactly 26 characters of 0 and 1 (channel select, address, "
        "read/write, data), not \"" +
        words[1] + "\"";
    return false;
}

bool readDivisor(const std::vector<std::string>& words, Step* step, const PanelFields&,
                 std::string* why) {
    return numberArgument(words[1], "DIVISOR", 0, kDivisorMax, &step->divisor, why);
}

bool readLevel(const std::vector<std::string>& words, Step* step, const PanelFields&,
               std::string* why) {
    if (!rowArgument(words[1], &step->row, why)) return false;
    const std::optional<double> v = parseVolts(words[2]);
    if (!v || *v < kVoltsMin || *v > kVoltsMax) {
        *why = "VOLTS must be a level from -2.5 to 7.5, not \"" + words[2] + "\"";
        return false;
    }
    step->volts = *v;
    return true;
}

bool readCode(const std::vector<std::string>& words, Step* step, const PanelFields&,
              std::string* why) {
    return rowArgument(words[1], &step->row, why) &&
           numberArgument(words[2], "CODE", 0, kDataMax, &step->code, why);
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

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The ring value a set names: one of the listed values, by number or by
// its caption (blanks around either ignored).
bool ringValue(const RegisterField& field, const std::string& text, int* value, std::string* why) {
    const std::optional<unsigned> number = parseNumber(text, 0xFFFF);
    for (std::size_t i = 0; i < field.values.size(); ++i) {
        const bool byCaption =
            i < field.captions.size() && trimmed(field.captions[i]) == trimmed(text);
        if (byCaption || (number && static_cast<int>(*number) == field.values[i])) {
            *value = field.values[i];
            return true;
        }
    }
    *why = "VALUE of " + field.name + " must be one of";
    for (std::size_t i = 0; i < field.values.size(); ++i) {
        *why += (i > 0 ? ", " : " ") + std::to_string(field.values[i]);
        if (i < field.captions.size()) *why += " \"" + trimmed(field.captions[i]) + "\"";
    }
    *why += ", not \"" + text + "\"";
    return false;
}

bool readSet(const std::vector<std::string>& words, Step* step, const PanelFields& fields,
             std::string* why) {
    return fieldArgument(words[1], fields, step, why) &&
           ringValue(*step->field, words[2], &step->value, why);
}

bool readGet(const std::vector<std::string>& words, Step* step, const PanelFields& fields,
             std::string* why) {
    return fieldArgument(words[1], fields, step, why);
}

// 1 channel 0, 2 channel 1, 3 both: the items "RW Ch0", "RW CH1" and
// "RW Ch0/Ch1" of the channel selection, whose values are 1, 2 and 0.
bool readChannels(const std::vector<std::string>& words, Step* step, const PanelFields&,
                  std::string* why) {
    unsigned channels = 0;
    if (!numberArgument(words[1], "channels", 1, 3, &channels, why)) return false;
    step->value = channels == 3 ? 0 : static_cast<int>(channels);
    return true;
}

struct Command {
    const char* name;
    StepKind kind;
    std::size_t arguments;
    const char* usage;
    ArgumentReader readArguments;
    bool serveOnly = false;
};

const Command kCommands[] = {
    {"load", StepKind::Load, 1, "load FILE", readFileName},
    {"save", StepKind::Save, 1, "save FILE", readFileName},
    {"read-all", StepKind::ReadAll, 0, "read-all [--fast]", noArguments},
    {"verify", StepKind::Verify, 0, "verify", noArguments},
    {"write", StepKind::Write, 4, "write CH RW ADDR DATA", readWrite},
    {"read", StepKind::Read, 2, "read CH ADDR", readRead},
    {"bits", StepKind::Bits, 1, "bits BITSTRING", readBitString},
    {"ovd-mask", StepKind::OvdMask, 0, "ovd-mask", noArguments},
    {"reset", StepKind::Reset, 0, "reset", noArguments},
    {"clock", StepKind::Clock, 1, "clock DIVISOR", readDivisor},
    {"level", StepKind::Level, 2, "level ROW VOLTS", readLevel},
    {"code", StepKind::Code, 2, "code ROW CODE", readCode},
    {"set", StepKind::Set, 2, "set FIELD VALUE", readSet},
    {"get", StepKind::Get, 1, "get FIELD", readGet},
    {"channels", StepKind::Channels, 1, "channels 1|2|3", readChannels},
    {"reopen", StepKind::Reopen, 0, "reopen", noArguments, true},
    {"quit", StepKind::Quit, 0, "quit", noArguments, true},
};

const char kFastOption[] = "--fast";

const Command* findCommand(const std::string& name) {
    for (const Command& c : kCommands) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) out += ' ';
        out += w;
    }
    return out;
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
            if (option(words[i])) {
                ++i;
                continue;
            }
            ++number;
            if (words[i] == "serve" || words[i] == "devices") {
                if (!standalone(words[i], error)) return false;
                ++i;
                continue;
            }
            const std::size_t count = argumentCount(words, i);
            const std::vector<std::string> these(words.begin() + static_cast<long>(i),
                                                 words.begin() + static_cast<long>(i + 1 + count));
            const std::string label = std::to_string(number) + " (" + joined(these) + ")";
            if (!subCommand(these, label, 0, error)) return false;
            i += 1 + count;
        }
        return standaloneAlone(error);
    }

    // One command line of a serve session.
    bool serveLine(const std::string& line, std::string* error) {
        std::vector<std::string> words;
        std::string why;
        if (!scriptLineWords(line, &words, &why)) return fail(why, error);
        if (words.empty()) return fail("empty command", error);
        if (words[0] == "script")
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

    // serve and devices run alone, without other sub-commands.
    bool standalone(const std::string& word, std::string* error) {
        if (out_->mode != Mode::Steps || !out_->steps.empty())
            return fail(word + " runs alone, without other sub-commands", error);
        out_->mode = word == "serve" ? Mode::Serve : Mode::Devices;
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
        std::size_t count = command ? command->arguments : words[i] == "script" ? 1 : 0;
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
        if (command == nullptr || (command->serveOnly && !serving_)) {
            const bool option = !words[0].empty() && words[0][0] == '-';
            *why = std::string(option ? "unknown option" : "unknown sub-command") + " \"" +
                   words[0] + "\"" + (command ? " (a command of serve)" : " (see --help)");
            return nullptr;
        }
        std::size_t arguments = words.size() - 1;
        if (command->kind == StepKind::ReadAll && arguments == 1 && words[1] == kFastOption)
            arguments = 0;
        if (arguments == command->arguments) return command;
        *why = std::string("usage: ") + command->usage;
        return nullptr;
    }

    // One step of exactly its arguments; false with the reason.
    bool step(const std::vector<std::string>& words, const std::string& label, std::string* why) {
        const Command* command = knownCommand(words, why);
        if (command == nullptr) return false;
        Step step;
        step.kind = command->kind;
        step.label = label;
        step.fast = command->kind == StepKind::ReadAll && words.size() == 2;
        if (!command->readArguments(words, &step, fields_, why)) return false;
        out_->steps.push_back(std::move(step));
        return true;
    }

    // One sub-command with exactly its arguments: a step, or a script's steps.
    bool subCommand(const std::vector<std::string>& words, const std::string& label, int depth,
                    std::string* error) {
        if (words[0] == "script") {
            if (words.size() != 2) return failStep(label, "usage: script FILE", error);
            return script(words[1], label, depth, error);
        }
        std::string why;
        if (!step(words, label, &why)) return failStep(label, why, error);
        return true;
    }

    // The text of a script file; false with the reason when it cannot be
    // read or is too large.
    static bool readScript(const std::string& path, std::string* text, std::string* why) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            const int e = errno;
            *why = e == ENOENT ? "no such file"
                   : e != 0    ? std::strerror(e)
                               : "cannot open the script";
            return false;
        }
        char chunk[4096];
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
            text->append(chunk, static_cast<std::size_t>(in.gcount()));
            if (text->size() > kScriptSizeLimit) {
                *why = "the script is larger than " + std::to_string(kScriptSizeLimit) + " bytes";
                return false;
            }
        }
        if (!in.bad()) return true;
        *why = "cannot read the script";
        return false;
    }

    // The words of one script line; false with the reason when the line is
    // not acceptable.
    static bool scriptLineWords(const std::string& line, std::vector<std::string>* words,
                                std::string* why) {
        if (line.size() > kScriptLineLimit) {
            *why = "the line is longer than " + std::to_string(kScriptLineLimit) + " characters";
            return false;
        }
        if (line.find('\0') != std::string::npos) {
            *why = "the script is not text";
            return false;
        }
        if (splitScriptLine(line, words)) return true;
        *why = "a double quote is not closed";
        return false;
    }

    // The sub-commands of a script file, one per line, as steps of `label`.
    bool script(const std::string& path, const std::string& label, int depth, std::string* error) {
        if (depth >= kScriptDepthLimit)
            return failStep(label,
                            "scripts nest deeper than " + std::to_string(kScriptDepthLimit) +
                                " (does a script call itself?)",
                            error);
        std::string text, why;
        if (!readScript(path, &text, &why)) return failStep(label, why, error);
        std::size_t start = 0;
        int lineNumber = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            start = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string where = label + ", line " + std::to_string(++lineNumber);
            std::vector<std::string> words;
            if (!scriptLineWords(line, &words, &why)) return failStep(where, why, error);
            if (words.empty()) continue;
            if (!subCommand(words, where + " (" + joined(words) + ")", depth + 1, error))
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

std::optional<unsigned> parseNumber(const std::string& text, unsigned max) {
    const char* first = text.data();
    const char* last = first + text.size();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        first += 2;
        base = 16;
    }
    if (first == last || *first == '+' || *first == '-') return std::nullopt;
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(first, last, value, base);
    if (ec != std::errc() || end != last || value > max) return std::nullopt;
    return static_cast<unsigned>(value);
}

std::optional<double> parseVolts(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first == last) return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (ec != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool splitScriptLine(const std::string& line, std::vector<std::string>* words) {
    words->clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    while (i < n) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n || line[i] == '#') break;
        std::string word;
        while (i < n && !blank(line[i])) {
            if (line[i] == '"') {
                const std::size_t close = line.find('"', i + 1);
                if (close == std::string::npos) return false;
                word.append(line, i + 1, close - i - 1);
                i = close + 1;
            } else {
                word += line[i++];
            }
        }
        words->push_back(std::move(word));
    }
    return true;
}

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

const RegisterField* PanelFields::find(const std::string& name) const {
    auto same = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) ==
                          std::toupper(static_cast<unsigned char>(y));
               });
    };
    for (const RegisterField& f : fields) {
        if (same(f.name, name)) return &f;
    }
    return nullptr;
}

namespace {

// The setup file reader looks at this many bytes of a file.
constexpr std::size_t kSetupReadLimit = 6096;

// Whether the text starts with a whole setup record before the end marker:
// a name, a level and four whole numbers, each field ended by a comma.
bool startsWithRecord(const std::string& text) {
    if (text.compare(0, 3, "EOF") == 0) return false;
    std::size_t pos = 0;
    for (int field = 0; field < 6; ++field) {
        const std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) return false;
        const std::string value = trimmed(text.substr(pos, comma - pos));
        if (field == 1) {
            if (!parseVolts(value)) return false;
        } else if (field > 1) {
            const bool negative = !value.empty() && value[0] == '-';
            if (!parseNumber(negative ? value.substr(1) : value, 0x7FFFFFFF) ||
                value.find("0x") != std::string::npos)
                return false;
        }
        pos = comma + 1;
    }
    return true;
}

}  // namespace

std::string setupFileProblem(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "not a setup file (not a regular file)";
    std::ifstream in(path, std::ios::binary);
    if (!in) return errno != 0 ? std::strerror(errno) : "cannot open the file";
    std::string text(kSetupReadLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (!startsWithRecord(text))
        return "not a setup file (no setup record \"name ,volts ,addr,rw,ch,data,\" at its start)";
    return "";
}

std::optional<std::string> checkSetupFiles(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.kind != StepKind::Load || step.path == "NOFILE") continue;
        const std::string problem = setupFileProblem(step.path);
        if (!problem.empty()) return "step " + step.label + ": " + problem;
    }
    return std::nullopt;
}

const char kHelpText[] =
    R"(Usage: kovra610-cli [--json] [--attach] SUB-COMMAND [ARGUMENTS] [SUB-COMMAND [ARGUMENTS]]...
       kovra610-cli [--attach] serve
       kovra610-cli [--json] devices
       kovra610-cli --help | --version

Sets up and reads back the KOVRA610 evaluation board from scripts, without a
display. It starts exactly as the panel program does: the link to the
FT2232H is opened, the chip is reset, and Dac/kovra610_defaults.sbus of the
working directory is loaded and sent. The panel is loaded but never shown;
every sub-command then runs through the same routines as the panel's
controls, in the order given.

Sub-commands:
  load FILE              read a setup file into the image, show it, send it
                         (the name NOFILE loads nothing, as at the panel)
  save FILE              write all 64 entries of the image to a setup file
  read-all [--fast]      "Read all Regs": read every entry back and list it;
                         --fast reads them all in one batched stream
  verify                 read every entry back (fast) and list those whose
                         chip value differs from the image (a difference
                         fails the step)
  write CH RW ADDR DATA  send one serial-bus word
  read CH ADDR           read one register and print the answer word (no
                         answer from the chip fails the step)
  bits BITSTRING         send one word given as exactly 26 characters of 0/1:
                         2 channel select, 7 address, 1 read/write, 16 data
  set FIELD VALUE        set a register field of the panel (DRVFORCE,
                         PMUPOWER, LOAD, ...) to a value or the caption of
                         one ("set DRVFORCE Vh"); it is packed and sent as
                         the panel's rings do, to the channels chosen
  get FIELD              a register field's value in the image
  channels 1|2|3         the channels register fields go to, as "Write Read
                         Ch0/1": 1 channel 0, 2 channel 1, 3 both
  ovd-mask               mask the over-voltage alarm of both channels
                         (alarm register 0x1D := 12)
  reset                  pulse the chip's reset line
  clock DIVISOR          "Sclk Divider" 0..59, then "Set SCLK Freq"
  level ROW VOLTS        commit a DAC level (row 0..29, -2.5..7.5 V); its
                         code is computed and the image is sent
  code ROW CODE          commit a DAC code (row 0..29, 0..65535); its level
                         is computed, it goes out with the next transfer
  script FILE            run the sub-commands of FILE, one per line; blank
                         lines and everything after # are ignored, "double
                         quotes" keep blanks in a file name
  serve                  one start-up, then commands one per line on
                         standard input, each answered by one JSON object
                         line, until the end of the input or quit; reopen
                         runs "Reset FTDI232H"
  devices                list the FTDI ports attached (index, chip, serial
                         number, description, bus and address) and the one
                         the tool would open; with --json one object each

Numbers are decimal or 0x hexadecimal. CH is 1 (channel 0), 2 (channel 1)
or 3 (both); RW 1 write, 0 read; ADDR 0..127; DATA 0..65535.

Options:
  --json     print results as JSON lines on standard output. The first line
             names the tool, its version and the board:
               {"ok":true,"hello":"kovra610-cli","version":"1.0.0","board":"virtual"}
             read-all gives one object per entry (the entry's name, channel
             and address as listed, the read/write flag and data read back,
             and the level: null for register entries)
               {"index":0,"name":"DVH_Ch0","ch":1,"addr":0,"rw":0,"data":36044,"volts":3}
             read gives the answer word
               {"ch":1,"addr":25,"rw":0,"data":6687,"word":20060703}
             verify one object per differing entry, get the field.
             Everything else (link progress, the read-back listing) then
             goes to standard error, so standard output holds JSON only.
  --attach   open the link without resetting the chip and without loading
             or sending the default setup file: the image is read back from
             the chip (its entries named by Dac/kovra610_defaults.sbus), so
             the first edit sends only itself
  --help     show this text
  --version  show the version

Without --json, link progress, the read-back listing and read results go to
standard output. Errors go to standard error as one line naming the step:
  kovra610-cli: step 3 (load missing.sbus): no such file

The whole command line, scripts and the setup files to load included, is
checked before the board is touched. A failed step ends the run; the steps
after it do not run. A setup file is written under a temporary name and
renamed into place, so a failed save leaves no partial file.

Exit status:
  0  every step done
  2  usage error: nothing was run
  3  link down: no board answered at start-up, or the link was lost
  4  a step failed (a difference found by verify included), or the panel
     could not be loaded

Environment:
  KOVRA610_BOARD=usb|usb:serial=SN|virtual
                               the real board (default), the FT2232H with
                               that serial number, or the virtual board
  KOVRA610_BOARD_TRACE=F.vcd   the virtual board's pin trace
  QT_QPA_PLATFORM              set to "offscreen" when unset
)";

const char* helpText() {
    return kHelpText;
}

}  // namespace kovra610::cli
