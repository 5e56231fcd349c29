#include "platform/json/json_text.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace kovra610::json {
namespace {

// The length of the well-formed UTF-8 sequence at s (at most `left` bytes),
// or 0. Overlong forms, UTF-16 surrogates (ED A0..BF) and code points above
// U+10FFFF are not well-formed: a strict reader refuses them.
int sequenceLength(const unsigned char* s, std::ptrdiff_t left) {
    const unsigned char c = s[0];
    int follow = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        follow = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        follow = 2;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        follow = 3;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left <= follow || s[1] < low || s[1] > high) return 0;
    for (int k = 2; k <= follow; ++k)
        if ((s[k] & 0xC0) != 0x80) return 0;
    return follow + 1;
}

}  // namespace

std::string jsonArray(const std::vector<std::string>& items) {
    std::string list;
    for (const std::string& item : items) list += (list.empty() ? "" : ",") + item;
    return "[" + list + "]";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text.c_str());
    const auto* end = s + text.size();
    while (s < end) {
        const unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++s;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++s;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++s;
        } else {
            const int length = sequenceLength(s, end - s);
            if (length > 0) {
                out.append(reinterpret_cast<const char*>(s), static_cast<std::size_t>(length));
                s += length;
            } else {
                out += "\\ufffd";
                ++s;
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

JsonMembers& JsonMembers::member(const char* key, const std::string& json) {
    if (!text_.empty()) text_ += ',';
    text_ += jsonString(key) + ":" + json;
    return *this;
}

JsonMembers& JsonMembers::add(const char* key, long long value) {
    return member(key, std::to_string(value));
}

JsonMembers& JsonMembers::add(const char* key, const std::string& text) {
    return member(key, jsonString(text));
}

JsonMembers& JsonMembers::number(const char* key, double value) {
    return member(key, jsonNumber(value));
}

JsonMembers& JsonMembers::raw(const char* key, const std::string& json) {
    return member(key, json);
}

JsonMembers& JsonMembers::append(const JsonMembers& more) {
    if (more.text_.empty()) return *this;
    if (!text_.empty()) text_ += ',';
    text_ += more.text_;
    return *this;
}

}  // namespace kovra610::json
