#include "audit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace mis {

std::unique_ptr<AuditTrail> AuditTrail::open(const std::string& path, std::string& why)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = "cannot open audit file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) < 0) {
        why = "cannot examine audit file " + path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = "audit file " + path + " is not a plain file";
    } else if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 0777));
        why = "audit file " + path + " may be read or written by others (mode " + mode +
              "); it must be 0600 (chmod 600 " + path + ")";
    } else {
        return std::unique_ptr<AuditTrail>(new AuditTrail(fd, path));
    }
    ::close(fd);
    return nullptr;
}

AuditTrail::~AuditTrail()
{
    ::close(fd_);
}

bool AuditTrail::append(const nlohmann::json& entry)
{
    std::string rest = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string line = "{\"time\":\"" + audit_time(std::chrono::system_clock::now()) + "\"";
    line += rest.size() > 2 ? "," + rest.substr(1) : std::string("}");
    line += '\n';
    // One write: with O_APPEND the line lands whole at the end, never interleaved with
    // another writer's. A short write (a full disk) is finished by more writes.
    size_t done = 0;
    while (done < line.size()) {
        ssize_t w = ::write(fd_, line.data() + done, line.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            why_ = "cannot write audit file " + path_ + ": " +
                   (w < 0 ? std::strerror(errno) : "nothing written");
            return false;
        }
        done += static_cast<size_t>(w);
    }
    if (fdatasync(fd_) < 0) {
        why_ = "cannot sync audit file " + path_ + ": " + std::strerror(errno);
        return false;
    }
    why_.clear();
    return true;
}

std::string audit_time(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

} // namespace mis
