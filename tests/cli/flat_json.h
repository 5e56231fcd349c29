// A strict reader of the flat JSON objects kovra610-cli prints, one per
// line: string and number members only. Enough to prove a line is JSON and
// to read it back.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace kovra610::cli::testing {

struct JsonValue {
    bool isString = false;
    std::string text;   // a string's value
    double number = 0;  // a number's value
};
using JsonObject = std::map<std::string, JsonValue>;

class FlatJsonReader {
public:
    explicit FlatJsonReader(const std::string& s) : s_(s) {}

    std::optional<JsonObject> object() {
        JsonObject out;
        if (!take('{')) return std::nullopt;
        if (peek() == '}') {
            ++i_;
            return finish(out);
        }
        for (;;) {
            std::optional<std::string> key = string();
            if (!key || !take(':')) return std::nullopt;
            JsonValue v;
            if (peek() == '"') {
                std::optional<std::string> text = string();
                if (!text) return std::nullopt;
                v.isString = true;
                v.text = *text;
            } else {
                std::optional<double> n = number();
                if (!n) return std::nullopt;
                v.number = *n;
            }
            if (!out.emplace(*key, v).second) return std::nullopt;  // duplicate key
            if (take(',')) continue;
            if (take('}')) return finish(out);
            return std::nullopt;
        }
    }

private:
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    bool take(char c) {
        if (peek() != c) return false;
        ++i_;
        return true;
    }
    std::optional<JsonObject> finish(const JsonObject& o) const {
        if (i_ != s_.size()) return std::nullopt;
        return o;
    }
    std::optional<std::string> string() {
        if (!take('"')) return std::nullopt;
        std::string out;
        while (i_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return out;
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (i_ >= s_.size()) return std::nullopt;
            const char e = s_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    if (i_ + 4 > s_.size()) return std::nullopt;
                    const std::string hex = s_.substr(i_, 4);
                    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                        return std::nullopt;
                    i_ += 4;
                    const unsigned code =
                        static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16));
                    if (code < 0x80) {
                        out += static_cast<char>(code);
                    } else {
                        out += "\\u" + hex;  // kept as written
                    }
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }
    // JSON number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    std::optional<double> number() {
        const std::size_t start = i_;
        auto digits = [&] {
            const std::size_t from = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            return i_ > from;
        };
        take('-');
        if (peek() == '0') {
            ++i_;
        } else if (!digits()) {
            return std::nullopt;
        }
        if (take('.') && !digits()) return std::nullopt;
        if (peek() == 'e' || peek() == 'E') {
            ++i_;
            if (!take('+')) take('-');
            if (!digits()) return std::nullopt;
        }
        return std::strtod(s_.substr(start, i_ - start).c_str(), nullptr);
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

inline std::optional<JsonObject> parseJsonLine(const std::string& line) {
    return FlatJsonReader(line).object();
}

}  // namespace kovra610::cli::testing
