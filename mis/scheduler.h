// Public within qx_mis: which client the event loop serves next.
//
// The clients with requests waiting are served least-served first: each client has a count
// of the server time its turns took, and the ready client with the smallest count goes next.
// A client that sends a cheap request now and then is therefore answered before those that
// keep the server busy (a batch of large derivations, thousands of costly filters), however
// many of them there are, and those share what is left evenly among themselves.
//
// A client that was idle does not keep the credit of all the time it did not use: when it
// becomes ready its count is raised to at least the count of the client served last, less
// WAKE_CREDIT, so it goes first but cannot then hold the server for longer than that.
//
// Not thread-safe; ids are the server's client numbers.
#pragma once
#include <chrono>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>

namespace mis {

class Scheduler {
public:
    using Duration = std::chrono::nanoseconds;
    // How far ahead of the busiest clients one that was idle may start.
    static constexpr Duration WAKE_CREDIT = std::chrono::milliseconds(10);

    // Marks a client as having work; nothing when it is ready already.
    void ready(int id);
    // Marks it as having none; it keeps its count for when it is ready again.
    void idle(int id);
    // Forgets a client that is gone.
    void forget(int id);
    bool is_ready(int id) const;
    bool empty() const { return queue_.empty(); }
    size_t size() const { return queue_.size(); }
    // The ready client served least so far; only when !empty().
    int next();
    // Adds the time a turn of the client's took to its count.
    void charge(int id, Duration spent);

private:
    struct Client {
        int64_t served = 0; // ns of turns, as adjusted on waking
        bool ready = false;
    };
    std::unordered_map<int, Client> clients_;
    std::set<std::pair<int64_t, int>> queue_; // (served, id) of the ready clients
    int64_t floor_ = 0;                       // the count of the client chosen last
};

} // namespace mis
