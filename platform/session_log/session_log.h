// The session log: a record, appended as JSON lines, of what one session of
// the tool gave its board.
//
// Every line is one object starting with the same four members,
//   {"time":"2026-12-09T16:42:01.123Z","event":"...","board":"...","pid":4242,...}
// (time in UTC with milliseconds, the event, the board setting and the
// process), then the event's own members. Events: "start" (tool, version),
// "opened" (the device the link opened: serial and the port as listed) or
// "start-up" (why the board could not be brought up), "setup-file" (path and
// SHA-256 of a setup file read), "command" (a command and its answer),
// "action" (an operator's action at the panel and its outcome), "end".
//
// Each line is written with one write() on a file opened O_APPEND, so lines
// of sessions sharing a file never mix and a crash loses at most the line
// being written. A line written after a piece of one (a write a full disk
// cut short) starts on a line of its own. One process-wide log; any thread.
#pragma once

#include <string>

#include "platform/json/json_text.h"

namespace kovra610::sessionlog {

// Opens `path` for appending (creating it, mode 0644) and writes the "start"
// line naming `tool`, `version` and `board` (the board setting). False, with
// the reason in `error`, when the file cannot be opened or written; then no
// log is kept. A log already open is closed first.
bool open(const std::string& path, const std::string& tool, const std::string& version,
          const std::string& board, std::string* error);
bool isOpen();
// Writes the "end" line with `status` and closes the log.
void close(int status);

// Appends one line for `event` with `members`: JSON object members without
// the braces ("" for none). False when no log is open or the line could not
// be written whole; lastError() says why.
bool append(const std::string& event, const std::string& members);
// Why the last line could not be written; "" when every line was.
std::string lastError();

// The board brought up at start-up ("ok" as given) and the serial number of
// the board opened (null when it has none), then the front end's own
// `details`.
bool recordStartUp(bool ok, const std::string& serial, const json::JsonMembers& details);
// A command as given, where it came from (`step`, written only when it says
// more than the command) and its answer object.
bool recordCommand(const std::string& command, const std::string& step, const std::string& answer);

// A setup file read: its absolute path and the SHA-256 of the bytes of the
// file open as `fd` (read from its start, its offset left alone;
// "sha256":null and "error" when they cannot be read). Does nothing without
// an open log.
bool recordSetupFile(const std::string& path, int fd);

// The SHA-256 of the bytes of the file open as `fd`, from its start, as 64
// lowercase hex digits; "" with the reason in `error` when it cannot be read.
std::string fileSha256(int fd, std::string* error);

// Now, in UTC, as ISO 8601 with milliseconds: "2026-12-09T16:42:01.123Z".
std::string utcTimestamp();

}  // namespace kovra610::sessionlog
