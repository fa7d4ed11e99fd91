#include "log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace mis {

bool log_enabled = true;

void log_line(const char* fmt, ...)
{
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

std::string excerpt(const std::string& text)
{
    std::string out;
    size_t n = std::min(text.size(), LOG_EXCERPT_BYTES);
    for (size_t i = 0; i < n; ++i) {
        unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch >= 0x20 && ch != 0x7f) {
            out += static_cast<char>(ch);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", ch);
            out += hex;
        }
    }
    if (n < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

} // namespace mis
