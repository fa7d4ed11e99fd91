// Least-served-first choice of the next client's turn.
#include "scheduler.h"

#include <algorithm>

namespace mis {

void Scheduler::ready(int id)
{
    Client& c = clients_[id];
    if (c.ready) return;
    c.served = std::max(c.served, floor_ - WAKE_CREDIT.count());
    c.ready = true;
    queue_.emplace(c.served, id);
}

void Scheduler::idle(int id)
{
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.ready) return;
    queue_.erase({it->second.served, id});
    it->second.ready = false;
}

void Scheduler::forget(int id)
{
    idle(id);
    clients_.erase(id);
}

bool Scheduler::is_ready(int id) const
{
    auto it = clients_.find(id);
    return it != clients_.end() && it->second.ready;
}

int Scheduler::next()
{
    auto [served, id] = *queue_.begin();
    floor_ = std::max(floor_, served);
    return id;
}

void Scheduler::charge(int id, Duration spent)
{
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    Client& c = it->second;
    if (c.ready) queue_.erase({c.served, id});
    c.served += std::max<int64_t>(spent.count(), 1);
    if (c.ready) queue_.emplace(c.served, id);
}

} // namespace mis
