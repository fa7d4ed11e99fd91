/*
 * view_store.h - named views and named filters, kept in plain-text files in
 * the user's configuration folder ($XDG_CONFIG_HOME/tarnwick/, else
 * ~/.config/tarnwick/).  PUBLIC HEADER for prefs/ and tests.
 *
 * A file holds one record a line: a header line "tarnwick <kind> 1", then
 * the fields of each record separated by tabs, with backslash, tab, newline
 * and carriage return written as \\ \t \n \r, so any name round-trips.  A
 * file is always written whole to a temporary file in the same folder, synced
 * and renamed over the old one, so a crash leaves the old file or the new one.
 * A file that cannot be read, or that is damaged, is reported and never
 * written over.  Nothing here waits for the server.
 */
#ifndef PREFS_VIEW_STORE_H
#define PREFS_VIEW_STORE_H

#include <string>
#include <vector>

/* One named record: its name and its fields (a view: default node, scope,
 * filter, "fdn" or "rdn", "natural" or "fdn-order"; a named filter: the
 * filter). */
struct NamedRecord {
    std::string name;
    std::vector<std::string> fields;
};

class RecordFile {
public:
    /* kind: "views" or "filters", also the file's name; fields: how many
     * fields each record has besides its name.  older: a smaller count that
     * records written before the last fields were added have; they load
     * with those fields empty.  0: no such records. */
    RecordFile(const char* kind, size_t fields, size_t older = 0);

    /* The folder of the files, from XDG_CONFIG_HOME or HOME; "" when neither is set. */
    static std::string folder();
    std::string path() const;

    /* Reads every record, in the file's order; a missing file is an empty
     * list.  False and why (naming the file and the fault) when the file cannot
     * be read or is damaged. */
    bool load(std::vector<NamedRecord>& out, std::string& why) const;
    /* Adds rec, or replaces the record of the same name, and writes the file.
     * Refuses (false and why) when the old file cannot be read or is damaged,
     * or when writing fails; the old file is then unchanged. */
    bool store(const NamedRecord& rec, std::string& why) const;

private:
    std::string kind_;
    size_t fields_;
    size_t older_;
};

#endif /* PREFS_VIEW_STORE_H */
