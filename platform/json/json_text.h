// JSON text: kovra610-cli's answers, one object per line, and the session log's lines.
#pragma once

#include <string>
#include <vector>

namespace kovra610::json {

// A text as a JSON string. Bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);
// A number as JSON: the shortest text that reads back as the same double;
// null when it is not finite.
std::string jsonNumber(double value);

// JSON texts (objects, numbers, ...) as one array.
std::string jsonArray(const std::vector<std::string>& items);

// The members of one object, in the order added.
class JsonMembers {
public:
    JsonMembers& add(const char* key, long long value);
    JsonMembers& add(const char* key, const std::string& text);
    JsonMembers& number(const char* key, double value);
    JsonMembers& raw(const char* key, const std::string& json);
    JsonMembers& append(const JsonMembers& more);
    bool empty() const { return text_.empty(); }
    // The members without braces, and the whole object.
    const std::string& members() const { return text_; }
    std::string object() const { return "{" + text_ + "}"; }

private:
    JsonMembers& member(const char* key, const std::string& json);
    std::string text_;
};

}  // namespace kovra610::json
