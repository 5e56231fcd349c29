// One line of kovra610-cli's JSON output, read with Qt's JSON reader.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <optional>
#include <string>

namespace kovra610::cli::testing {

// The line as a JSON object; nothing when it is not exactly one object.
inline std::optional<QJsonObject> parseJsonLine(const std::string& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

}  // namespace kovra610::cli::testing
