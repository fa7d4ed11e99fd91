#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace mis {

bool log_enabled = true;

void log_line(const char* fmt, ...) {
    if (!log_enabled) return;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    std::fprintf(stderr, "%s qx_mis: ", stamp);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
}

}  // namespace mis
