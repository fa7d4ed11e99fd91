// Public within qx_mis: password checks on a thread of their own. A check takes about a tenth
// of a second and 64 MiB on purpose (Argon2id), so the event loop hands it here and goes on
// serving other clients; it learns of finished checks when fd() becomes readable.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mis {

class PasswordChecks {
public:
    // Checks waiting or running at once; submit refuses more. One thread checks them in turn,
    // so the memory they take stays that of one check.
    static constexpr size_t MAX_PENDING = 256;

    // Starts the thread; fd() is -1, and every submit refused, when the thread or its
    // descriptor cannot be had (why() says which).
    PasswordChecks();
    ~PasswordChecks(); // lets the running check end, drops the waiting ones, joins

    int fd() const { return fd_; }
    const std::string& why() const { return why_; }

    using Clock = std::chrono::steady_clock;

    // Queues the check of password against hash (an Argon2id string, or "" for a user that
    // does not exist: that check fails, after as much work as a real one), to be made no
    // sooner than not_before: a slowed login waits there, and the checks due before it are
    // made meanwhile. The password is wiped once checked. False when MAX_PENDING checks wait
    // already.
    bool submit(uint64_t ticket, const std::string& hash, const std::string& password,
                Clock::time_point not_before = {});

    struct Result {
        uint64_t ticket;
        bool ok;
    };
    // The checks finished since the last call, in the order they were made.
    std::vector<Result> take();
    size_t pending() const;

private:
    struct Job {
        uint64_t ticket;
        std::string hash, password;
    };
    void work();

    int fd_ = -1;
    std::string why_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, Job> waiting_; // by when each is due
    size_t running_ = 0;
    std::vector<Result> done_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace mis
