/* helpfile.cpp - parsing a help file and building the viewer's pages. */
#include "hyperhelp/helpfile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

/* A topic number: 1 to 9 digits, nothing else. */
bool parse_number(const std::string& s, int* out)
{
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!isdigit((unsigned char)c)) return false;
    *out = std::stoi(s);
    return true;
}

std::string lower(std::string s)
{
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

/* Appends a line to a page, text and links. */
void add_link_line(HelpPage& p, const std::string& label, int topic, const std::string& after)
{
    size_t start = p.text.size();
    p.text += label;
    p.links.push_back({start, p.text.size(), topic});
    p.text += after;
    p.text += '\n';
}

} // namespace

void HelpFile::problem(int line, const std::string& what)
{
    problems_.push_back(name_ + ":" + std::to_string(line) + ": " + what);
    problem_lines_.push_back(line);
}

bool HelpFile::load(const std::string& path)
{
    name_ = path;
    title_.clear();
    topics_.clear();
    problems_.clear();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        problems_.push_back("Can't read help file " + path + ": " + strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        problems_.push_back("Can't read help file " + path + ": not a regular file");
        return false;
    }
    if ((size_t)st.st_size > MAX_SIZE) {
        problems_.push_back("Can't read help file " + path + ": larger than " +
                            std::to_string(MAX_SIZE / (1024 * 1024)) + " MiB");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems_.push_back("Can't read help file " + path + ": " + strerror(errno));
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    parse(text.str(), path);
    return !topics_.empty();
}

/* Drops a line's carriage return and shows each tab as a blank and each other
 * control character as '?'; true when there was such a character. */
static bool clean_line(std::string& line)
{
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool control = false;
    for (char& c : line) {
        if (c == '\t') {
            c = ' ';
        } else if ((unsigned char)c < 32 || c == 127) {
            c = '?';
            control = true;
        }
    }
    return control;
}

void HelpFile::parse(const std::string& text, const std::string& name)
{
    name_ = name;
    title_.clear();
    topics_.clear();
    problems_.clear();
    problem_lines_.clear();

    /* Topic bodies are rendered once every title is known, for the links
     * that take their text from the topic they lead to. */
    std::vector<Body> bodies;
    bool skipping = false; /* in the body of a topic that was refused */

    std::istringstream in(text);
    std::string line;
    int n = 0;
    bool warned_before = false;
    while (std::getline(in, line)) {
        n++;
        if (clean_line(line)) problem(n, "control character shown as '?'");
        if (!line.empty() && line[0] == '#') continue;
        if (line.size() > 1 && line[0] == '.' && isalpha((unsigned char)line[1])) {
            directive(n, line, bodies, skipping);
            continue;
        }
        if (skipping) continue;
        if (topics_.empty()) {
            if (!trim(line).empty() && !warned_before) {
                problem(n, "text before the first .topic ignored");
                warned_before = true;
            }
            continue;
        }
        bodies.back().lines.push_back(line);
    }
    if (topics_.empty()) {
        problems_.push_back(name_ + ": no topic in the file (a topic starts with \".topic\")");
        problem_lines_.push_back(n + 1);
    }
    for (size_t i = 0; i < topics_.size(); i++)
        finish_topic(topics_[i], bodies[i].lines, bodies[i].first_line);
    sort_problems();
}

/* ".word rest" at line n: .title before the first topic, or .topic. */
void HelpFile::directive(int n, const std::string& line, std::vector<Body>& bodies, bool& skipping)
{
    size_t sp = line.find(' ');
    std::string word = line.substr(1, sp == std::string::npos ? std::string::npos : sp - 1);
    std::string rest = sp == std::string::npos ? "" : trim(line.substr(sp));
    if (word == "title") {
        if (!topics_.empty() || skipping)
            problem(n, ".title after the first topic ignored");
        else
            title_ = rest;
    } else if (word == "topic") {
        start_topic(n, rest, bodies, skipping);
    } else {
        problem(n, "unknown directive ." + word + " ignored");
    }
}

/* ".topic N title" at line n: a new topic and its empty body, or, for a bad or
 * repeated number, the topic's lines skipped up to the next directive. */
void HelpFile::start_topic(int n, const std::string& rest, std::vector<Body>& bodies,
                           bool& skipping)
{
    size_t sp = rest.find(' ');
    std::string num = rest.substr(0, sp);
    std::string title = sp == std::string::npos ? "" : trim(rest.substr(sp));
    int number = 0;
    if (!parse_number(num, &number)) {
        problem(n, ".topic needs a number, not \"" + num + "\"; topic skipped");
        skipping = true;
        return;
    }
    if (find(number)) {
        problem(n, "topic " + num + " defined twice; this one skipped");
        skipping = true;
        return;
    }
    if (title.empty()) {
        problem(n, "topic " + num + " has no title");
        title = "Topic " + num;
    }
    HelpTopic t;
    t.number = number;
    t.title = title;
    t.line = n;
    topics_.push_back(t);
    bodies.push_back({{}, n + 1});
    skipping = false;
}

/* The links' problems are found last: put every problem in file order, so the
 * viewer's message line shows the first one in the file. */
void HelpFile::sort_problems()
{
    std::vector<size_t> order(problems_.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return problem_lines_[a] < problem_lines_[b]; });
    std::vector<std::string> sorted;
    for (size_t i : order) sorted.push_back(problems_[i]);
    problems_.swap(sorted);
}

/*
 * Renders a topic's body: lines of a paragraph are joined with a blank,
 * blank lines separate paragraphs, a line that begins with "- " or "* "
 * starts a new line of its own, and a line indented by four blanks or more
 * is kept as written.
 * "[[N]]" and "[[N|text]]" become links.
 */
void HelpFile::finish_topic(HelpTopic& t, const std::vector<std::string>& lines, int first_line)
{
    HelpPage& p = t.page;
    p.title = t.title;
    bool in_paragraph = false;
    bool pending_break = false; /* a blank line was seen inside the body */
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string& raw = lines[i];
        int line_no = first_line + (int)i;
        std::string s = trim(raw);
        if (s.empty()) {
            if (in_paragraph || !p.text.empty()) pending_break = true;
            in_paragraph = false;
            continue;
        }
        bool verbatim = raw.compare(0, 4, "    ") == 0;
        bool own_line = verbatim || s.rfind("- ", 0) == 0 || s.rfind("* ", 0) == 0;
        if (pending_break) {
            p.text += "\n\n";
            pending_break = false;
        } else if (in_paragraph) {
            p.text += own_line ? "\n" : " ";
        }
        std::string body = verbatim ? raw : s;
        while (!body.empty() && body.back() == ' ') body.pop_back();
        size_t at = 0;
        while (at < body.size()) {
            size_t open = body.find("[[", at);
            if (open == std::string::npos) {
                p.text += body.substr(at);
                break;
            }
            p.text += body.substr(at, open - at);
            size_t close = body.find("]]", open + 2);
            if (close == std::string::npos) {
                problem(line_no, "\"[[\" without \"]]\" shown as text");
                p.text += body.substr(open);
                break;
            }
            std::string inner = body.substr(open + 2, close - open - 2);
            size_t bar = inner.find('|');
            std::string num = trim(inner.substr(0, bar));
            std::string label = bar == std::string::npos ? "" : trim(inner.substr(bar + 1));
            int target = 0;
            if (!parse_number(num, &target)) {
                problem(line_no, "link \"[[" + inner + "]]\" needs a topic number; shown as text");
                p.text += label.empty() ? inner : label;
            } else {
                const HelpTopic* to = find(target);
                if (!to) problem(line_no, "link to unknown topic " + num);
                if (label.empty()) label = to ? to->title : "topic " + num;
                size_t start = p.text.size();
                p.text += label;
                p.links.push_back({start, p.text.size(), target});
            }
            at = close + 2;
        }
        in_paragraph = true;
    }
    if (!p.text.empty()) p.text += '\n';
}

const HelpTopic* HelpFile::find(int number) const
{
    for (const HelpTopic& t : topics_)
        if (t.number == number) return &t;
    return nullptr;
}

HelpPage HelpFile::topic_page(int number) const
{
    if (const HelpTopic* t = find(number)) return t->page;
    HelpPage p;
    p.title = "No such topic";
    p.text = "The help file " + name_ + " has no topic " + std::to_string(number) + ".";
    if (topics_.empty()) {
        p.text += "\n";
    } else {
        p.text += " Its first topic is ";
        add_link_line(p, topics_.front().title, topics_.front().number, ".");
    }
    return p;
}

HelpPage HelpFile::contents_page() const
{
    HelpPage p;
    /* The window adds the file's title in front (hyperhelp/main.cpp). */
    p.title = "Contents";
    for (const HelpTopic& t : topics_) add_link_line(p, t.title, t.number, "");
    if (topics_.empty()) p.text = "The help file " + name_ + " holds no topic.\n";
    return p;
}

HelpPage HelpFile::search_page(const std::string& term) const
{
    HelpPage p;
    std::string want = lower(trim(term));
    p.title = "Search: " + trim(term);
    if (want.empty()) {
        p.text = "Type a word into the search field first.\n";
        return p;
    }
    for (const HelpTopic& t : topics_) {
        std::string text = lower(t.page.text);
        size_t at = text.find(want);
        if (at == std::string::npos && lower(t.title).find(want) == std::string::npos) continue;
        std::string context;
        if (at != std::string::npos) {
            size_t b = text.rfind('\n', at);
            b = b == std::string::npos ? 0 : b + 1;
            size_t e = t.page.text.find('\n', at);
            context = t.page.text.substr(b, e == std::string::npos ? std::string::npos : e - b);
            if (context.size() > 160) {
                size_t from = at - b > 60 ? at - b - 60 : 0;
                context = (from ? "..." : "") + context.substr(from, 150) + "...";
            }
        }
        add_link_line(p, t.title, t.number, "");
        if (!context.empty()) p.text += "    " + context + "\n";
    }
    if (p.links.empty()) p.text = "No topic holds \"" + trim(term) + "\".\n";
    return p;
}
