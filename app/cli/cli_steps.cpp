// Reading the command line of kovra610-cli and its bench scripts.
#include "app/cli/cli_steps.h"

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
                                std::string* why);

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

bool noArguments(const std::vector<std::string>&, Step*, std::string*) {
    return true;
}

bool readFileName(const std::vector<std::string>& words, Step* step, std::string* why) {
    step->path = words[1];
    if (!step->path.empty()) return true;
    *why = "the file name is empty";
    return false;
}

bool readWrite(const std::vector<std::string>& words, Step* step, std::string* why) {
    return numberArgument(words[1], "CH", kChannelMin, kChannelMax, &step->ch, why) &&
           numberArgument(words[2], "RW", 0, 1, &step->rw, why) &&
           numberArgument(words[3], "ADDR", 0, kAddressMax, &step->addr, why) &&
           numberArgument(words[4], "DATA", 0, kDataMax, &step->data, why);
}

bool readRead(const std::vector<std::string>& words, Step* step, std::string* why) {
    return numberArgument(words[1], "CH", kChannelMin, kChannelMax, &step->ch, why) &&
           numberArgument(words[2], "ADDR", 0, kAddressMax, &step->addr, why);
}

bool readBitString(const std::vector<std::string>& words, Step* step, std::string* why) {
    step->bits = words[1];
    if (step->bits.size() == kWordBits && step->bits.find_first_not_of("01") == std::string::npos)
        return true;
    *why =
        "BITSTRING must be exactly 26 characters of 0 and 1 (channel select, address, "
        "read/write, data), not \"" +
        words[1] + "\"";
    return false;
}

bool readDivisor(const std::vector<std::string>& words, Step* step, std::string* why) {
    return numberArgument(words[1], "DIVISOR", 0, kDivisorMax, &step->divisor, why);
}

bool readLevel(const std::vector<std::string>& words, Step* step, std::string* why) {
    if (!numberArgument(words[1], "ROW", 0, kRowMax, &step->row, why)) return false;
    const std::optional<double> v = parseVolts(words[2]);
    if (!v || *v < kVoltsMin || *v > kVoltsMax) {
        *why = "VOLTS must be a level from -2.5 to 7.5, not \"" + words[2] + "\"";
        return false;
    }
    step->volts = *v;
    return true;
}

bool readCode(const std::vector<std::string>& words, Step* step, std::string* why) {
    return numberArgument(words[1], "ROW", 0, kRowMax, &step->row, why) &&
           numberArgument(words[2], "CODE", 0, kDataMax, &step->code, why);
}

struct Command {
    const char* name;
    StepKind kind;
    std::size_t arguments;
    const char* usage;
    ArgumentReader readArguments;
};

const Command kCommands[] = {
    {"load", StepKind::Load, 1, "load FILE", readFileName},
    {"save", StepKind::Save, 1, "save FILE", readFileName},
    {"read-all", StepKind::ReadAll, 0, "read-all", noArguments},
    {"write", StepKind::Write, 4, "write CH RW ADDR DATA", readWrite},
    {"read", StepKind::Read, 2, "read CH ADDR", readRead},
    {"bits", StepKind::Bits, 1, "bits BITSTRING", readBitString},
    {"ovd-mask", StepKind::OvdMask, 0, "ovd-mask", noArguments},
    {"reset", StepKind::Reset, 0, "reset", noArguments},
    {"clock", StepKind::Clock, 1, "clock DIVISOR", readDivisor},
    {"level", StepKind::Level, 2, "level ROW VOLTS", readLevel},
    {"code", StepKind::Code, 2, "code ROW CODE", readCode},
};

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
    explicit Reader(Invocation* out) : out_(out) {}

    // Reads sub-commands from `words`, numbering each as a step of its own.
    bool commandLine(const std::vector<std::string>& words, std::string* error) {
        std::size_t i = 0;
        int number = 0;
        while (i < words.size()) {
            if (words[i] == "--json") {
                out_->json = true;
                ++i;
                continue;
            }
            if (words[i] == "--help" || words[i] == "-h") {
                out_->help = true;
                ++i;
                continue;
            }
            ++number;
            const Command* command = findCommand(words[i]);
            std::size_t count = command ? command->arguments : words[i] == "script" ? 1 : 0;
            if (i + 1 + count > words.size()) count = words.size() - i - 1;
            const std::vector<std::string> these(words.begin() + static_cast<long>(i),
                                                 words.begin() + static_cast<long>(i + 1 + count));
            const std::string label = std::to_string(number) + " (" + joined(these) + ")";
            if (!subCommand(these, label, 0, error)) return false;
            i += 1 + count;
        }
        return true;
    }

private:
    // Fails the step `label` for the reason given.
    static bool failStep(const std::string& label, const std::string& why, std::string* error) {
        *error = "step " + label + ": " + why;
        return false;
    }

    // The command the first word names, with exactly its arguments; null
    // with the reason when there is none.
    static const Command* knownCommand(const std::vector<std::string>& words, std::string* why) {
        const Command* command = findCommand(words[0]);
        if (command == nullptr) {
            const bool option = !words[0].empty() && words[0][0] == '-';
            *why = std::string(option ? "unknown option" : "unknown sub-command") + " \"" +
                   words[0] + "\" (see --help)";
            return nullptr;
        }
        if (words.size() == command->arguments + 1) return command;
        *why = std::string("usage: ") + command->usage;
        return nullptr;
    }

    // One sub-command with exactly its arguments: a step, or a script's steps.
    bool subCommand(const std::vector<std::string>& words, const std::string& label, int depth,
                    std::string* error) {
        if (words[0] == "script") {
            if (words.size() != 2) return failStep(label, "usage: script FILE", error);
            return script(words[1], label, depth, error);
        }
        std::string why;
        const Command* command = knownCommand(words, &why);
        if (command == nullptr) return failStep(label, why, error);
        Step step;
        step.kind = command->kind;
        step.label = label;
        if (!command->readArguments(words, &step, &why)) return failStep(label, why, error);
        out_->steps.push_back(std::move(step));
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

Parsed parseCommandLine(const std::vector<std::string>& args) {
    Parsed parsed;
    Invocation invocation;
    Reader reader(&invocation);
    if (!reader.commandLine(args, &parsed.error)) return parsed;
    if (!invocation.help && invocation.steps.empty()) {
        parsed.error = "no sub-command given (see --help)";
        return parsed;
    }
    parsed.invocation = std::move(invocation);
    return parsed;
}

const char kHelpText[] =
    R"(Usage: kovra610-cli [--json] SUB-COMMAND [ARGUMENTS] [SUB-COMMAND [ARGUMENTS]]...

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
  read-all               "Read all Regs": read every entry back and list it
  write CH RW ADDR DATA  send one serial-bus word
  read CH ADDR           read one register and print the answer word (no
                         answer from the chip fails the step)
  bits BITSTRING         send one word given as exactly 26 characters of 0/1:
                         2 channel select, 7 address, 1 read/write, 16 data
  ovd-mask               mask the over-voltage alarm of both channels
                         (alarm register 0x1D := 12)
  reset                  pulse the chip's reset line
  clock DIVISOR          "Sclk Divider" 0..59, then "Set SCLK Freq"
  level ROW VOLTS        commit a DAC level (row 0..31, -2.5..7.5 V); its
                         code is computed and the image is sent
  code ROW CODE          commit a DAC code (row 0..31, 0..65535); its level
                         is computed, it goes out with the next transfer
  script FILE            run the sub-commands of FILE, one per line; blank
                         lines and everything after # are ignored, "double
                         quotes" keep blanks in a file name

Numbers are decimal or 0x hexadecimal. CH is 1 (channel 0), 2 (channel 1)
or 3 (both); RW 1 write, 0 read; ADDR 0..127; DATA 0..65535.

Options:
  --json   print the results of read-all and read as JSON lines on standard
           output, one object per line: read-all gives
             {"index":0,"name":"DVH_Ch0","ch":1,"addr":0,"rw":1,"data":36044,"volts":3}
           per entry (the entry's name, channel, address and read/write flag,
           the data read back and its level), read gives the answer word
             {"ch":1,"addr":25,"rw":0,"data":6687,"word":20060703}
           Everything else (link progress, the read-back listing) then goes
           to standard error, so standard output holds JSON only.
  --help   show this text

Without --json, link progress, the read-back listing and read results go to
standard output. Errors go to standard error as one line naming the step:
  kovra610-cli: step 3 (load missing.sbus): no such file

The whole command line, scripts included, is checked before the board is
touched. A failed step ends the run; the steps after it do not run. A setup
file is written under a temporary name and renamed into place, so a failed
save leaves no partial file.

Exit status:
  0  every step done
  2  usage error: nothing was run
  3  link down: no board answered at start-up, or the link was lost
  4  a step failed (or the panel could not be loaded)

Environment:
  KOVRA610_BOARD=usb|virtual   the real board (default) or the virtual board
  KOVRA610_BOARD_TRACE=F.vcd   the virtual board's pin trace
  QT_QPA_PLATFORM              set to "offscreen" when unset
)";

const char* helpText() {
    return kHelpText;
}

}  // namespace kovra610::cli
