/* view_store.cpp - the files of named views and named filters. */
#include "prefs/view_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

/* Splits a line at its tabs and undoes escape(); false on an unknown escape. */
bool split(const std::string& line, std::vector<std::string>& out)
{
    out.assign(1, "");
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (c == '\t') {
            out.emplace_back();
        } else if (c != '\\') {
            out.back() += c;
        } else if (i + 1 < line.size()) {
            char e = line[++i];
            if (e == '\\')
                out.back() += '\\';
            else if (e == 't')
                out.back() += '\t';
            else if (e == 'n')
                out.back() += '\n';
            else if (e == 'r')
                out.back() += '\r';
            else
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool make_folder(const std::string& dir, std::string& why)
{
    std::string part;
    for (size_t i = 1; i <= dir.size(); i++) {
        if (i == dir.size() || dir[i] == '/') {
            part = dir.substr(0, i);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                why = "cannot create folder " + part + ": " + strerror(errno);
                return false;
            }
        }
    }
    return true;
}

} // namespace

RecordFile::RecordFile(const char* kind, size_t fields, size_t older)
    : kind_(kind), fields_(fields), older_(older)
{}

std::string RecordFile::folder()
{
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/tarnwick";
    const char* home = getenv("HOME");
    if (home && *home) return std::string(home) + "/.config/tarnwick";
    return "";
}

std::string RecordFile::path() const
{
    std::string dir = folder();
    return dir.empty() ? "" : dir + "/" + kind_;
}

bool RecordFile::load(std::vector<NamedRecord>& out, std::string& why) const
{
    out.clear();
    std::string p = path();
    if (p.empty()) {
        why = "no configuration folder: neither XDG_CONFIG_HOME nor HOME is set";
        return false;
    }
    errno = 0;
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return true;
        why = "cannot read " + p + ": " + strerror(errno ? errno : EIO);
        return false;
    }
    std::string line;
    const std::string header = "tarnwick " + kind_ + " 1";
    if (!std::getline(in, line) || line != header) {
        why = p + " is damaged: its first line is not \"" + header + "\"";
        return false;
    }
    for (int n = 2; std::getline(in, line); n++) {
        std::vector<std::string> f;
        bool split_ok = split(line, f);
        if (split_ok && older_ > 0 && f.size() == older_ + 1) f.resize(fields_ + 1);
        if (!split_ok || f.size() != fields_ + 1 || f[0].empty()) {
            why = p + " is damaged at line " + std::to_string(n);
            out.clear();
            return false;
        }
        out.push_back({f[0], std::vector<std::string>(f.begin() + 1, f.end())});
    }
    if (in.bad()) {
        why = "cannot read " + p + ": " + strerror(errno ? errno : EIO);
        out.clear();
        return false;
    }
    return true;
}

bool RecordFile::store(const NamedRecord& rec, std::string& why) const
{
    if (rec.name.empty() || rec.fields.size() != fields_) {
        why = "a record needs a name and " + std::to_string(fields_) + " fields";
        return false;
    }
    std::vector<NamedRecord> all;
    if (!load(all, why)) return false;
    bool replaced = false;
    for (auto& r : all)
        if (r.name == rec.name) {
            r = rec;
            replaced = true;
        }
    if (!replaced) all.push_back(rec);

    std::string p = path();
    if (!make_folder(folder(), why)) return false;
    std::ostringstream text;
    text << "tarnwick " << kind_ << " 1\n";
    for (auto& r : all) {
        text << escape(r.name);
        for (auto& f : r.fields) text << '\t' << escape(f);
        text << '\n';
    }
    std::string data = text.str();
    std::string tmp = p + ".tmp-" + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = "cannot write " + tmp + ": " + strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = "cannot write " + tmp + ": " + strerror(errno);
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        done += (size_t)n;
    }
    int synced = fsync(fd) == 0 ? 0 : errno;
    int closed = close(fd) == 0 ? 0 : errno;
    if (synced || closed) {
        why = "cannot write " + tmp + ": " + strerror(synced ? synced : closed);
        unlink(tmp.c_str());
        return false;
    }
    if (rename(tmp.c_str(), p.c_str()) != 0) {
        why = "cannot replace " + p + ": " + strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}
