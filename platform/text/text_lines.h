// Text as commands are written by hand: numbers, the words of a line, and
// lines read from a file or a stream within a limit, and written back.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kovra610::text {

// A whole number: decimal or 0x hexadecimal, no sign, the whole text, at
// most `max`.
std::optional<unsigned> parseNumber(const std::string& text, unsigned max);
// A decimal number with an optional minus sign, the whole text, finite.
std::optional<double> parseDecimal(const std::string& text);

// A line as read, without the "\r" of a CRLF line end and a UTF-8
// byte-order mark before it (text saved as "UTF-8 with BOM"), which are no
// part of what the line says.
void dropLineFraming(std::string* line);
// Splits a line into words; "double quotes" keep blanks in one word, `#`
// outside quotes starts a comment. False for an unterminated quote.
bool splitWords(const std::string& line, std::vector<std::string>* words);
// The words of a line of at most `limit` characters, as splitWords takes
// them; false with the reason when the line is too long, is not text or
// leaves a quote open.
bool lineWords(const std::string& line, std::size_t limit, std::vector<std::string>* words,
               std::string* why);
// The words as one line: a word that splitWords would split or take for a
// comment is quoted, so that the line reads back as the same words.
std::string joinWords(const std::vector<std::string>& words);

// Reads the file at `path` whole; false with the reason when it cannot be
// read or holds more than `limit` bytes, the file called `what` there ("the
// script").
bool readFile(const std::string& path, const char* what, std::size_t limit, std::string* text,
              std::string* why);
// Reads one line from `in` without its line end and framing; false at the
// end of the input. A line of more than `limit` characters (its framing not
// counted) sets `tooLong` and is read to its end, keeping its start.
bool readLine(FILE* in, std::size_t limit, std::string* line, bool* tooLong);

// Writes `line` and a line end to `out` at once; false when it could not be
// written (the reader has gone: EPIPE when SIGPIPE is ignored, as many
// supervisors start their children).
bool writeLine(FILE* out, const std::string& line);
// Whether the reader of `out` has gone already: a pipe or socket whose other
// end is closed.
bool readerGone(FILE* out);

}  // namespace kovra610::text
