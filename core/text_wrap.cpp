/* text_wrap.cpp - breaking a message into lines of a given width. */
#include "core/text_wrap.h"

#include <vector>

/* The pieces of one line between the places where it may break: a piece ends
 * after a blank or a "," and before a "/". */
static std::vector<std::string> pieces_of(const std::string& line)
{
    std::vector<std::string> pieces;
    std::string cur;
    for (char c : line) {
        if (c == '/' && !cur.empty()) {
            pieces.push_back(cur);
            cur.clear();
        }
        cur += c;
        if (c == ' ' || c == ',') {
            pieces.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) pieces.push_back(cur);
    return pieces;
}

static std::string without_trailing_blanks(const std::string& s)
{
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

/* Bytes of the longest start of s, whole UTF-8 characters, that fits; at
 * least one character, so the cutting always moves on. */
static size_t fitting_start(const std::string& s, int max_width, const TextWidth& width)
{
    size_t fit = 0;
    for (size_t i = 1; i <= s.size(); i++) {
        if (i < s.size() && ((unsigned char)s[i] & 0xC0) == 0x80) continue; /* inside a character */
        if (fit && width(s.substr(0, i)) > max_width) break;
        fit = i;
    }
    return fit;
}

/* One line of text (no newline in it) broken into lines, appended to out.
 * Only newlines are added: blanks stay at the end of their line. */
static void wrap_line(const std::string& text, int max_width, const TextWidth& width,
                      std::string& out)
{
    auto fits = [&](const std::string& l) { return width(without_trailing_blanks(l)) <= max_width; };
    bool first = true;
    auto put = [&](const std::string& l) {
        if (!first) out += '\n';
        out += l;
        first = false;
    };
    std::string line;
    for (const std::string& piece : pieces_of(text)) {
        if (line.empty() || fits(line + piece)) {
            line += piece;
        } else {
            put(line);
            line = piece;
        }
        /* A piece too wide for a line of its own is cut between characters. */
        while (!fits(line)) {
            size_t n = fitting_start(line, max_width, width);
            if (n >= without_trailing_blanks(line).size()) break;
            put(line.substr(0, n));
            line.erase(0, n);
        }
    }
    put(line);
}

std::string wrap_text(const std::string& text, int max_width, const TextWidth& width)
{
    std::string out;
    size_t start = 0;
    while (true) {
        size_t nl = text.find('\n', start);
        std::string para = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        std::string wrapped;
        wrap_line(para, max_width, width, wrapped);
        out += wrapped;
        if (nl == std::string::npos) break;
        out += '\n';
        start = nl + 1;
    }
    return out;
}
