// Public within qx_mis: the server's log, one line per event on standard error.
#pragma once
#include <string>

namespace mis {

// Off in tests and fuzzing, where the log would only be noise.
extern bool log_enabled;

// How much of a text a client sent (a request line, a name, a message quoting it) goes into
// one log line: a client may send a megabyte per line, line after line.
constexpr size_t LOG_EXCERPT_BYTES = 200;

void log_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The first LOG_EXCERPT_BYTES of text, control characters written as \xNN so that the log
// keeps one line per event; a longer text ends in "... (N bytes)".
std::string excerpt(const std::string& text);

} // namespace mis
