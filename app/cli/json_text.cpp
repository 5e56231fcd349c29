#include "app/cli/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kovra610::cli {
namespace {

// How many continuation bytes follow a UTF-8 lead byte, or -1.
int continuationBytes(unsigned char c) {
    if (c >= 0xF0 && c < 0xF5) return 3;
    if (c >= 0xE0 && c < 0xF0) return 2;
    if (c >= 0xC2 && c < 0xE0) return 1;
    return -1;
}

}  // namespace

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
            const int follow = continuationBytes(c);
            bool valid = follow > 0 && end - s > follow;
            for (int k = 1; valid && k <= follow; ++k) valid = (s[k] & 0xC0) == 0x80;
            if (valid) {
                out.append(reinterpret_cast<const char*>(s), static_cast<std::size_t>(follow) + 1);
                s += follow + 1;
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

}  // namespace kovra610::cli
