// Password checks off the event loop (password_checks.h).
#include "password_checks.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "users.h"

namespace mis {

namespace {

// The hash an absent user is checked against, so that a wrong name costs what a wrong password
// does and the time of the answer does not tell whether the user exists.
const std::string& decoy_hash()
{
    static const std::string hash = hash_password("no such user");
    return hash;
}

} // namespace

PasswordChecks::PasswordChecks()
{
    fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) {
        why_ = std::string("cannot make the password checks' eventfd: ") + std::strerror(errno);
        return;
    }
    decoy_hash();
    try {
        thread_ = std::thread([this] { work(); });
    } catch (const std::system_error& e) {
        why_ = std::string("cannot start the password checks' thread: ") + e.what();
        ::close(fd_);
        fd_ = -1;
    }
}

PasswordChecks::~PasswordChecks()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (auto& [due, j] : waiting_) wipe(j.password);
        waiting_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

bool PasswordChecks::submit(uint64_t ticket, const std::string& hash, const std::string& password,
                            Clock::time_point not_before)
{
    if (fd_ < 0) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.size() + running_ >= MAX_PENDING) return false;
        waiting_.emplace(not_before, Job{ticket, hash, password});
    }
    wake_.notify_one();
    return true;
}

void PasswordChecks::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        // A submit of an earlier check, or the stop, ends the wait for this one.
        Clock::time_point due = waiting_.begin()->first;
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        Job job = std::move(waiting_.begin()->second);
        waiting_.erase(waiting_.begin());
        running_ = 1;
        lock.unlock();
        bool ok = verify_password(job.hash.empty() ? decoy_hash() : job.hash, job.password) &&
                  !job.hash.empty();
        wipe(job.password);
        lock.lock();
        running_ = 0;
        done_.push_back({job.ticket, ok});
        uint64_t one = 1;
        // A full counter (2^64 - 2 unread wakes) cannot happen; the loop reads it every turn.
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

std::vector<PasswordChecks::Result> PasswordChecks::take()
{
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Result> out;
    out.swap(done_);
    return out;
}

size_t PasswordChecks::pending() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.size() + running_;
}

} // namespace mis
