// Public within qx_mis: the audit trail, one JSON line for every write a client asks for
// (set, create, delete, action), carried out or refused. docs/protocol.md ("Audit trail")
// describes the lines.
#pragma once
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace mis {

class AuditTrail {
public:
    // Opens path for appending, creating it with mode 0600. A file that others may read or
    // write is refused (it holds every value written), and so is anything but a plain file.
    // Null, with why, when it cannot be used.
    static std::unique_ptr<AuditTrail> open(const std::string& path, std::string& why);
    ~AuditTrail();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    // Appends entry as one line, a "time" member (now) first, then its own members. When it
    // returns true the line is wholly written with one write(2) on a descriptor opened with
    // O_APPEND, and fdatasync(2) has returned: it survives a crash of the server and of the
    // machine. False, with why() saying why, when it could not be; the trail stays unhealthy
    // until the next append succeeds.
    bool append(const nlohmann::json& entry);
    bool healthy() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    const std::string& path() const { return path_; }

private:
    AuditTrail(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    std::string path_;
    std::string why_; // of the last append that failed; "" when it succeeded
};

// A moment in UTC as ISO 8601 with milliseconds: 2026-12-08T14:50:01.123Z.
std::string audit_time(std::chrono::system_clock::time_point t);

} // namespace mis
