/* event_log.cpp - the bounded record of raw events and status texts. */
#include "core/event_log.h"

#include <algorithm>
#include <cctype>

void EventLog::add(std::time_t when, const std::string& text, const std::string& object)
{
    entries_.push_back(Entry{when, text, object});
    Entry dropped;
    bool full = entries_.size() > capacity_;
    if (full) {
        dropped = std::move(entries_.front());
        entries_.pop_front();
    }
    if (listener_) listener_(entries_.back(), full ? &dropped : nullptr);
}

std::string EventLog::line(const Entry& e)
{
    char stamp[16] = "";
    struct tm local;
    if (localtime_r(&e.time, &local)) strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::string out = std::string(stamp) + "  " + e.text;
    if (!e.object.empty()) out += "  (" + e.object + ")";
    return out;
}

static bool same_letter(char a, char b)
{
    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
}

bool EventLog::matches(const Entry& e, const std::string& filter)
{
    if (filter.empty()) return true;
    std::string l = line(e);
    return std::search(l.begin(), l.end(), filter.begin(), filter.end(), same_letter) != l.end();
}

std::vector<const EventLog::Entry*> EventLog::matching(const std::string& filter) const
{
    std::vector<const Entry*> out;
    for (const Entry& e : entries_)
        if (matches(e, filter)) out.push_back(&e);
    return out;
}

EventLog& event_log()
{
    static EventLog log;
    return log;
}

void log_text(const char* text, const char* object)
{
    /* Blanks only clear the status line; they say nothing worth keeping. */
    if (!text || std::string(text).find_first_not_of(" \t\n") == std::string::npos) return;
    event_log().add(std::time(nullptr), text ? text : "", object ? object : "");
}
