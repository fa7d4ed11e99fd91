/*
 * helpfile.h - the help viewer's model: a help file parsed into topics, and
 * the pages the viewer shows (a topic, the table of contents, the results of
 * a search).  Needs no display, so it is tested on its own.  Internal to
 * hyperhelp/.
 *
 * The file format is written up in docs/help-format.md.  A damaged file is
 * never fatal: whatever parses is kept, and each fault is recorded in
 * problems() with its line number for the viewer to show.
 */
#ifndef HYPERHELP_HELPFILE_H
#define HYPERHELP_HELPFILE_H

#include <string>
#include <vector>

/* A link inside a page's text: the bytes [start, end) lead to topic. */
struct HelpLink {
    size_t start;
    size_t end;
    int topic;
};

/* What the viewer shows: a title, the text, and the links within it. */
struct HelpPage {
    std::string title;
    std::string text;
    std::vector<HelpLink> links;
};

/* One topic of a file: its number, title and its body ready to show. */
struct HelpTopic {
    int number = 0;
    std::string title;
    HelpPage page;
    int line = 0; /* the line of its .topic, for messages */
};

class HelpFile {
public:
    /* Reads and parses path.  False when nothing could be read or no topic
     * parsed; problems() says why in every case. */
    bool load(const std::string& path);
    /* Parses text; name is used in the problems' messages. */
    void parse(const std::string& text, const std::string& name);

    const HelpTopic* find(int number) const;
    /* The page of topic number, or a page that says the file has no such
     * topic. */
    HelpPage topic_page(int number) const;
    /* Every topic's title in file order, each a link to its topic. */
    HelpPage contents_page() const;
    /* The topics whose title or text holds term (case ignored), each a link
     * followed by the line where the term was found. */
    HelpPage search_page(const std::string& term) const;

    const std::string& title() const { return title_; }
    const std::vector<HelpTopic>& topics() const { return topics_; }
    /* "name:line: what is wrong", one per fault, in file order. */
    const std::vector<std::string>& problems() const { return problems_; }

    /* Files larger than this are refused: a help file is text a person
     * writes, and the viewer keeps it all in memory. */
    static const size_t MAX_SIZE = 4 * 1024 * 1024;

private:
    /* The lines of a topic's body, the first of them at first_line. */
    struct Body {
        std::vector<std::string> lines;
        int first_line = 0;
    };

    void problem(int line, const std::string& what);
    void directive(int n, const std::string& line, std::vector<Body>& bodies, bool& skipping);
    void start_topic(int n, const std::string& rest, std::vector<Body>& bodies, bool& skipping);
    void sort_problems();
    void finish_topic(HelpTopic& t, const std::vector<std::string>& lines, int first_line);

    std::string name_;
    std::string title_;
    std::vector<HelpTopic> topics_;
    std::vector<std::string> problems_;
    std::vector<int> problem_lines_; /* the line of each problem, to sort them */
};

#endif /* HYPERHELP_HELPFILE_H */
