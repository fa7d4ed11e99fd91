// Public within qx_mis: the server's log, one line per event on standard error.
#pragma once

namespace mis {

// Off in tests and fuzzing, where the log would only be noise.
extern bool log_enabled;

void log_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace mis
