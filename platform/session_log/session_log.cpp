#include "platform/session_log/session_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/json/json_text.h"

namespace kovra610::sessionlog {
namespace {

struct Log {
    std::mutex lock;
    int fd = -1;
    std::string path;
    std::string head;  // "board" and "pid" members, on every line
    std::string error;
    // The file may end in part of a line: when it was opened (another
    // session's write cut short), or after a write of ours failed.
    bool mayEndMidLine = true;
};

Log& theLog() {
    static Log log;
    return log;
}

// Whether the file ends in part of a line, which a line appended now would
// continue: it is not empty and its last byte is no line end.
bool endsMidLine(int fd) {
    struct stat file {};
    char last = '\n';
    return ::fstat(fd, &file) == 0 && file.st_size > 0 &&
           ::pread(fd, &last, 1, file.st_size - 1) == 1 && last != '\n';
}

// Writes the line with one write(), so that appends of other writers never
// fall inside it. A write cut short (a full disk) is finished where it can
// be, and still reported. A line after a piece of one left by a write cut
// short starts on a line of its own, so that it stays whole JSON.
bool writeLine(Log& log, std::string line) {
    if (log.mayEndMidLine && endsMidLine(log.fd)) line.insert(0, 1, '\n');
    log.mayEndMidLine = true;
    const char* data = line.data();
    std::size_t left = line.size();
    bool whole = true;
    while (left > 0) {
        const ssize_t n = ::write(log.fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            log.error =
                "cannot write the session log \"" + log.path + "\": " + std::strerror(errno);
            return false;
        }
        if (static_cast<std::size_t>(n) < left) whole = false;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (!whole) {
        log.error = "the session log \"" + log.path + "\" took a line in pieces (is it full?)";
        return false;
    }
    log.mayEndMidLine = false;
    return true;
}

std::string lineFor(const Log& log, const std::string& event, const std::string& members) {
    std::string line = "{\"time\":" + json::jsonString(utcTimestamp()) +
                       ",\"event\":" + json::jsonString(event) + "," + log.head;
    if (!members.empty()) line += "," + members;
    return line + "}\n";
}

}  // namespace

std::string utcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms.count() % 1000));
    return text;
}

bool open(const std::string& path, const std::string& tool, const std::string& version,
          const std::string& board, std::string* error) {
    Log& log = theLog();
    {
        std::lock_guard guard(log.lock);
        if (log.fd >= 0) ::close(log.fd);
        // Read as well, where it may be, to see whether the file ends in
        // part of a line.
        log.fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (log.fd < 0 && errno == EACCES)
            log.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (log.fd < 0) {
            if (error != nullptr)
                *error = "cannot open the session log \"" + path + "\": " + std::strerror(errno);
            return false;
        }
        log.path = path;
        log.error.clear();
        log.mayEndMidLine = true;
        json::JsonMembers head;
        head.add("board", board).add("pid", static_cast<long long>(::getpid()));
        log.head = head.members();
    }
    json::JsonMembers start;
    start.add("tool", tool).add("version", version);
    if (!append("start", start.members())) {
        std::lock_guard guard(log.lock);
        if (error != nullptr) *error = log.error;
        ::close(log.fd);
        log.fd = -1;
        return false;
    }
    return true;
}

bool isOpen() {
    Log& log = theLog();
    std::lock_guard guard(log.lock);
    return log.fd >= 0;
}

void close(int status) {
    append("end", "\"status\":" + std::to_string(status));
    Log& log = theLog();
    std::lock_guard guard(log.lock);
    if (log.fd >= 0) ::close(log.fd);
    log.fd = -1;
}

bool append(const std::string& event, const std::string& members) {
    Log& log = theLog();
    std::lock_guard guard(log.lock);
    if (log.fd < 0) return false;
    return writeLine(log, lineFor(log, event, members));
}

std::string lastError() {
    Log& log = theLog();
    std::lock_guard guard(log.lock);
    return log.error;
}

std::string fileSha256(int fd, std::string* error) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error != nullptr) *error = std::strerror(errno);
            return "";
        }
        if (n == 0) break;
        hash.addData(QByteArrayView(buffer, n));
        at += n;
    }
    return hash.result().toHex().toStdString();
}

bool recordStartUp(bool ok, const std::string& serial, const json::JsonMembers& details) {
    json::JsonMembers members;
    members.raw("ok", ok ? "true" : "false");
    if (serial.empty())
        members.raw("serial", "null");
    else
        members.add("serial", serial);
    return append("start-up", members.append(details).members());
}

bool recordCommand(const std::string& command, const std::string& step, const std::string& answer) {
    json::JsonMembers members;
    members.add("command", command);
    if (!step.empty() && step != command) members.add("step", step);
    return append("command", members.raw("answer", answer).members());
}

bool recordSetupFile(const std::string& path, int fd) {
    if (!isOpen()) return false;
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
    json::JsonMembers members;
    members.add("path", failed ? path : absolute.string());
    std::string why;
    const std::string digest = fileSha256(fd, &why);
    if (digest.empty())
        members.raw("sha256", "null").add("error", why);
    else
        members.add("sha256", digest);
    return append("setup-file", members.members());
}

}  // namespace kovra610::sessionlog
