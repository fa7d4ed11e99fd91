/*
 * event_log.h - what the editor has said: every raw event of the server and
 * every text of the main window's status line, with its time and the object
 * it concerns, oldest first.  PUBLIC HEADER.
 *
 * The status line keeps only the last text, and raw events overwrite it
 * within seconds; the log keeps the last EventLog::CAPACITY entries, so an
 * error written there can still be read afterwards (the event log window,
 * ui/event_log_win.h).  The oldest entry goes when a new one would pass the
 * bound.  No X here: the window watches the log through its listener.
 */
#ifndef CORE_EVENT_LOG_H
#define CORE_EVENT_LOG_H

#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class EventLog {
public:
    static const size_t CAPACITY = 10000;

    struct Entry {
        std::time_t time;
        std::string text;   /* the status text, or the raw event's name */
        std::string object; /* the raw event's object; "" for a status text */
    };

    /* Called after each add with the new entry and the entry that went to
     * keep the bound (null when none went). */
    typedef std::function<void(const Entry& added, const Entry* dropped)> Listener;

    explicit EventLog(size_t capacity = CAPACITY) : capacity_(capacity ? capacity : 1) {}

    void add(std::time_t when, const std::string& text, const std::string& object = "");
    size_t size() const { return entries_.size(); }
    const Entry& at(size_t i) const { return entries_[i]; } /* 0 is the oldest */
    void set_listener(Listener l) { listener_ = std::move(l); }
    void clear() { entries_.clear(); }

    /* The entries whose line contains filter, ignoring case, oldest first;
     * every entry for an empty filter. */
    std::vector<const Entry*> matching(const std::string& filter) const;

    /* An entry as one line: "HH:MM:SS  text", then "  (object)" when it names
     * one; local time. */
    static std::string line(const Entry& e);
    static bool matches(const Entry& e, const std::string& filter);

private:
    size_t capacity_;
    std::deque<Entry> entries_;
    Listener listener_;
};

/* The editor's one log. */
EventLog& event_log();

/* Adds text about object to the editor's log, at the current time. */
void log_text(const char* text, const char* object = "");

#endif /* CORE_EVENT_LOG_H */
