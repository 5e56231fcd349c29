#include "platform/text/text_lines.h"

#include <poll.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

namespace kovra610::text {

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

std::optional<double> parseDecimal(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first == last) return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (ec != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

void dropLineFraming(std::string* line) {
    if (!line->empty() && line->back() == '\r') line->pop_back();
    if (line->rfind("\xEF\xBB\xBF", 0) == 0) line->erase(0, 3);
}

bool splitWords(const std::string& line, std::vector<std::string>* words) {
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

bool lineWords(const std::string& line, std::size_t limit, std::vector<std::string>* words,
               std::string* why) {
    if (line.size() > limit) {
        *why = "the line is longer than " + std::to_string(limit) + " characters";
        return false;
    }
    if (line.find('\0') != std::string::npos) {
        *why = "the line is not text (it holds a NUL byte)";
        return false;
    }
    if (splitWords(line, words)) return true;
    *why = "a double quote is not closed";
    return false;
}

std::string joinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) out += ' ';
        const bool quote = w.empty() || w.find_first_of(" \t\v\f#") != std::string::npos;
        out += quote ? '"' + w + '"' : w;
    }
    return out;
}

bool readFile(const std::string& path, const char* what, std::size_t limit, std::string* text,
              std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int e = errno;
        *why = e == ENOENT ? "no such file"
               : e != 0    ? std::strerror(e)
                           : std::string("cannot open ") + what;
        return false;
    }
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text->append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text->size() > limit) {
            *why = std::string(what) + " is larger than " + std::to_string(limit) + " bytes";
            return false;
        }
    }
    if (!in.bad()) return true;
    *why = std::string("cannot read ") + what;
    return false;
}

bool readLine(FILE* in, std::size_t limit, std::string* line, bool* tooLong) {
    constexpr std::size_t kFraming = 4;  // "\xEF\xBB\xBF" and "\r"
    line->clear();
    *tooLong = false;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        if (line->size() < limit + kFraming)
            *line += static_cast<char>(c);
        else
            *tooLong = true;
    }
    if (c == EOF && line->empty() && !*tooLong) return false;
    dropLineFraming(line);
    *tooLong = *tooLong || line->size() > limit;
    return true;
}

bool writeLine(FILE* out, const std::string& line) {
    const bool written = std::fputs(line.c_str(), out) >= 0 && std::fputc('\n', out) != EOF;
    return std::fflush(out) == 0 && written && !std::ferror(out);
}

bool readerGone(FILE* out) {
    pollfd p{fileno(out), POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace kovra610::text
