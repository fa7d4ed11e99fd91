/*
 * hyperhelp - the help viewer.  Shows the topics of a help file (format in
 * docs/help-format.md) in one window with Back, a table of contents, a
 * search over the text and links between topics.
 *
 * A client (the editor's help client, help/XtHelp.h) starts it with
 *
 *     hyperhelp -d <client> -s <screen> -display <name> -c <topic> <file>
 *     hyperhelp -d <client> -s <screen> -display <name> -i <file>
 *
 * and then drives it through the root window's property "HyperHelpAtomV40":
 * a list of records, one per client (layout in help/help_record.h), each
 * holding the client's number, its viewer's window and a command text.  The viewer writes its window into its client's record; the
 * client writes a command ("-c <topic> <file>", "-i <file>" or "-q <client>")
 * into the record and sends a ClientMessage of that type, carrying its number
 * as text, to the window.  When the viewer ends it takes its client's record
 * out of the property, so the client's next request starts a new viewer.
 *
 * Without -d it is a stand-alone viewer for the file given.
 */
#include <Xm/Xm.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/Protocols.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>
#include <X11/Xatom.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/desktop.h"
#include "help/help_record.h"
#include "hyperhelp/helpfile.h"

namespace {

using help_record::ATOM_NAME;
using help_record::RECORD_SIZE;

/* What the viewer is showing: a topic, the contents or a search, so Back
 * can show it again from the file as it is then. */
struct Place {
    enum Kind { TOPIC, CONTENTS, SEARCH } kind = CONTENTS;
    int topic = 0;
    std::string term;
};

struct Viewer {
    Display* dpy = nullptr;
    XtAppContext app = nullptr;
    Atom atom = None;
    long client = -1; /* -d; -1 when stand-alone */
    int screen = -1;  /* -s; -1 for the display's default */
    Widget shell, back, title, text, links, search, message;
    std::string path; /* the help file as found */
    HelpFile file;
    HelpPage page;
    std::vector<Place> history;
};

Viewer v;

void usage()
{
    fputs("usage: hyperhelp [-d client] [-s screen] [-display name]\n"
          "                 (-c topic file | -i file)\n",
          stderr);
}

/* The help file named on a command: a name with a slash as it is, else the
 * first readable one along HHPATH, then in HHHOME. */
std::string find_file(const std::string& name)
{
    if (name.find('/') != std::string::npos) return name;
    std::vector<std::string> dirs;
    if (const char* p = getenv("HHPATH")) {
        std::string s = p;
        size_t at = 0;
        for (;;) {
            size_t colon = s.find(':', at);
            dirs.push_back(s.substr(at, colon == std::string::npos ? colon : colon - at));
            if (colon == std::string::npos) break;
            at = colon + 1;
        }
    }
    if (const char* h = getenv("HHHOME")) dirs.push_back(h);
    for (const std::string& d : dirs) {
        std::string full = d + "/" + name;
        struct stat st;
        if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return full;
    }
    return name;
}

void set_message(const std::string& s)
{
    XmString xs = XmStringCreateLocalized(const_cast<char*>(s.empty() ? " " : s.c_str()));
    XtVaSetValues(v.message, XmNlabelString, xs, NULL);
    XmStringFree(xs);
}

/* (Re)reads the help file, so a writer's edits show on the next request;
 * false when it gave no topic. */
bool load(const std::string& name)
{
    v.path = find_file(name);
    bool ok = v.file.load(v.path);
    const auto& problems = v.file.problems();
    if (!problems.empty()) {
        std::string m = problems.front();
        if (problems.size() > 1)
            m += " (and " + std::to_string(problems.size() - 1) + " more problems)";
        set_message(m);
        for (const std::string& p : problems) fprintf(stderr, "hyperhelp: %s\n", p.c_str());
    } else {
        set_message("");
    }
    return ok;
}

void show_page(const HelpPage& p)
{
    v.page = p;
    /* The window's title names the page too, for the window manager's list
     * and for programs that look for the viewer's window. */
    std::string title = (v.file.title().empty() ? "Help" : v.file.title()) + ": " + p.title;
    XtVaSetValues(v.shell, XmNtitle, title.c_str(), NULL);
    XmString xs = XmStringCreateLocalized(const_cast<char*>(p.title.c_str()));
    XtVaSetValues(v.title, XmNlabelString, xs, NULL);
    XmStringFree(xs);
    XmTextSetString(v.text, const_cast<char*>(p.text.c_str()));
    for (const HelpLink& l : p.links)
        XmTextSetHighlight(v.text, (XmTextPosition)l.start, (XmTextPosition)l.end,
                           XmHIGHLIGHT_SECONDARY_SELECTED);
    XmTextShowPosition(v.text, 0);
    XmListDeleteAllItems(v.links);
    for (const HelpLink& l : p.links) {
        std::string label = p.text.substr(l.start, l.end - l.start);
        XmString item = XmStringCreateLocalized(const_cast<char*>(label.c_str()));
        XmListAddItemUnselected(v.links, item, 0);
        XmStringFree(item);
    }
    XtSetSensitive(v.back, v.history.size() > 1);
}

void show_place(const Place& at)
{
    switch (at.kind) {
    case Place::TOPIC: show_page(v.file.topic_page(at.topic)); break;
    case Place::CONTENTS: show_page(v.file.contents_page()); break;
    case Place::SEARCH: show_page(v.file.search_page(at.term)); break;
    }
}

void go(const Place& at)
{
    v.history.push_back(at);
    show_place(at);
}

void go_topic(int topic)
{
    Place at;
    at.kind = Place::TOPIC;
    at.topic = topic;
    go(at);
}

void go_contents()
{
    go(Place());
}

/* Shows the window in front, whether it was closed, iconified or hidden. */
void raise()
{
    XtPopup(v.shell, XtGrabNone);
    XtVaSetValues(v.shell, XmNiconic, False, NULL);
    XMapRaised(v.dpy, XtWindow(v.shell));
}

/* Runs f on the records of the property between a grab of the server, so
 * that two programs changing records at once do not lose each other's
 * change; writes them back when f returns true. */
template <class F> void with_records(F f)
{
    XGrabServer(v.dpy);
    Atom type;
    int format;
    unsigned long items = 0, after;
    unsigned char* data = nullptr;
    std::vector<unsigned char> bytes;
    if (XGetWindowProperty(v.dpy, DefaultRootWindow(v.dpy), v.atom, 0, 61440, False,
                           AnyPropertyType, &type, &format, &items, &after, &data) == Success &&
        data) {
        /* Anything but our records is dropped when the records are written. */
        if (type == v.atom && format == 8) bytes.assign(data, data + items - items % RECORD_SIZE);
        XFree(data);
    }
    if (f(bytes))
        XChangeProperty(v.dpy, DefaultRootWindow(v.dpy), v.atom, v.atom, 8, PropModeReplace,
                        bytes.data(), (int)bytes.size());
    XUngrabServer(v.dpy);
    /* Done before the viewer goes on, so that its record is up to date by the
     * time it has exited or its client hears from it. */
    XSync(v.dpy, False);
}

/* Fills the viewer's window into the first record of its client, adding one
 * when the client has none. */
void register_window()
{
    uint32_t win = (uint32_t)XtWindow(v.shell);
    with_records([&](std::vector<unsigned char>& bytes) {
        for (size_t at = 0; at < bytes.size(); at += RECORD_SIZE)
            if (help_record::client(&bytes[at]) == v.client) {
                help_record::set_window(&bytes[at], win);
                return true;
            }
        std::vector<unsigned char> r(RECORD_SIZE, 0);
        help_record::set_client(r.data(), (int32_t)v.client);
        help_record::set_window(r.data(), win);
        bytes.insert(bytes.end(), r.begin(), r.end());
        return true;
    });
}

/* Takes the client's records out of the property. */
void unregister()
{
    with_records([&](std::vector<unsigned char>& bytes) {
        std::vector<unsigned char> kept;
        for (size_t at = 0; at < bytes.size(); at += RECORD_SIZE)
            if (help_record::client(&bytes[at]) != v.client)
                kept.insert(kept.end(), bytes.begin() + at, bytes.begin() + at + RECORD_SIZE);
        bool changed = kept.size() != bytes.size();
        bytes.swap(kept);
        return changed;
    });
}

void quit()
{
    if (v.client != -1) unregister();
    XtDestroyApplicationContext(v.app);
    exit(0);
}

/* Carries out a command, from the command line or from the record:
 * "-c <topic> <file>", "-i <file>" or "-q <client>".  A bad command is
 * reported in the window, never fatal. */
void run_command(const std::vector<std::string>& words)
{
    if (words.empty()) return;
    const std::string& cmd = words[0];
    if (cmd == "-q") {
        quit();
    } else if (cmd == "-c" && words.size() >= 3) {
        int topic = atoi(words[1].c_str());
        load(words[2]);
        go_topic(topic);
    } else if ((cmd == "-i" || cmd == "-c") && words.size() == 2) {
        load(words[1]);
        go_contents();
    } else {
        std::string all;
        for (const std::string& w : words) all += (all.empty() ? "" : " ") + w;
        set_message("Unknown help command \"" + all + "\"");
    }
}

/* A command's words: "-c", the topic and the file, or "-i" and the file, or
 * "-q" and the client.  The file is the rest of the line, so that a path
 * with a blank in it stays whole. */
std::vector<std::string> split(const std::string& s)
{
    std::vector<std::string> out;
    size_t at = 0;
    while ((at = s.find_first_not_of(" \t\r\n", at)) != std::string::npos) {
        bool last = out.size() == (out.size() && out[0] == "-i" ? 1u : 2u);
        size_t end = last ? s.find_last_not_of(" \t\r\n") + 1 : s.find_first_of(" \t\r\n", at);
        out.push_back(s.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return out;
}

/* The client's announcement: read its record's command and carry it out. */
void client_message(Widget, XtPointer, XEvent* e, Boolean*)
{
    if (e->type != ClientMessage || e->xclient.message_type != v.atom || e->xclient.format != 8)
        return;
    char digits[21];
    memcpy(digits, e->xclient.data.b, 20);
    digits[20] = 0;
    if (atol(digits) != v.client) return;
    std::string command;
    with_records([&](std::vector<unsigned char>& bytes) {
        for (size_t at = 0; at < bytes.size(); at += RECORD_SIZE)
            if (help_record::client(&bytes[at]) == v.client) {
                command = help_record::command(&bytes[at]);
                break;
            }
        return false;
    });
    std::vector<std::string> words = split(command);
    if (words.empty() || words[0] != "-q") raise();
    run_command(words);
}

void back_cb(Widget, XtPointer, XtPointer)
{
    if (v.history.size() < 2) return;
    v.history.pop_back();
    show_place(v.history.back());
}

void contents_cb(Widget, XtPointer, XtPointer)
{
    go_contents();
}

void search_cb(Widget, XtPointer, XtPointer)
{
    char* s = XmTextFieldGetString(v.search);
    Place at;
    at.kind = Place::SEARCH;
    at.term = s ? s : "";
    XtFree(s);
    go(at);
}

void close_cb(Widget, XtPointer, XtPointer)
{
    quit();
}

void follow(size_t index)
{
    if (index < v.page.links.size()) go_topic(v.page.links[index].topic);
}

void link_list_cb(Widget, XtPointer, XtPointer call)
{
    auto* cbs = (XmListCallbackStruct*)call;
    follow((size_t)cbs->item_position - 1);
}

/* A click that presses and releases on the same link follows it; a drag
 * selects text as usual. */
void text_click(Widget w, XtPointer, XEvent* e, Boolean*)
{
    static long pressed_on = -1;
    if (e->xbutton.button != Button1) return;
    XmTextPosition pos = XmTextXYToPos(w, (Position)e->xbutton.x, (Position)e->xbutton.y);
    long on = -1;
    for (size_t i = 0; i < v.page.links.size(); i++)
        if ((size_t)pos >= v.page.links[i].start && (size_t)pos < v.page.links[i].end) on = (long)i;
    if (e->type == ButtonPress) {
        pressed_on = on;
    } else if (on != -1 && on == pressed_on) {
        pressed_on = -1;
        follow((size_t)on);
    }
}

Widget button(Widget parent, const char* name, const char* label, XtCallbackProc cb)
{
    XmString s = XmStringCreateLocalized(const_cast<char*>(label));
    Widget b =
        XtVaCreateManagedWidget(name, xmPushButtonWidgetClass, parent, XmNlabelString, s, NULL);
    XmStringFree(s);
    XtAddCallback(b, XmNactivateCallback, cb, nullptr);
    return b;
}

/* The row along the top: Back, Contents, the search field with its Search
 * button, and Close at the right end. */
void build_button_row(Widget form)
{
    v.back = button(form, "hh_back", "Back", back_cb);
    Widget contents = button(form, "hh_contents", "Contents", contents_cb);
    Widget go_search = button(form, "hh_search_button", "Search", search_cb);
    Widget close = button(form, "hh_close", "Close", close_cb);
    v.search =
        XtVaCreateManagedWidget("hh_search", xmTextFieldWidgetClass, form, XmNcolumns, 24, NULL);
    XtAddCallback(v.search, XmNactivateCallback, search_cb, nullptr);
    XtVaSetValues(v.back, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, NULL);
    XtVaSetValues(contents, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_WIDGET,
                  XmNleftWidget, v.back, NULL);
    XtVaSetValues(v.search, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_WIDGET,
                  XmNleftWidget, contents, XmNleftOffset, 24, NULL);
    XtVaSetValues(go_search, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_WIDGET,
                  XmNleftWidget, v.search, NULL);
    XtVaSetValues(close, XmNtopAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, NULL);
}

/* The page's links in a scrolled list just above the message line, under
 * their label; returns the label. */
Widget build_link_list(Widget form)
{
    Arg args[2];
    Cardinal n = 0;
    XtSetArg(args[n], XmNvisibleItemCount, 4);
    n++;
    XtSetArg(args[n], XmNselectionPolicy, XmBROWSE_SELECT);
    n++;
    v.links = XmCreateScrolledList(form, const_cast<char*>("hh_links"), args, n);
    XtVaSetValues(XtParent(v.links), XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget,
                  v.message, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
                  NULL);
    XmString see = XmStringCreateLocalized(const_cast<char*>("Links of this page:"));
    Widget links_label = XtVaCreateManagedWidget(
        "hh_links_label", xmLabelWidgetClass, form, XmNlabelString, see, XmNalignment,
        XmALIGNMENT_BEGINNING, XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget,
        XtParent(v.links), XmNleftAttachment, XmATTACH_FORM, NULL);
    XmStringFree(see);
    XtAddCallback(v.links, XmNdefaultActionCallback, link_list_cb, nullptr);
    XtManageChild(v.links);
    return links_label;
}

/* The page's text, read-only and wrapped, in a scrolled window from the
 * title down to above. */
void build_text(Widget form, Widget above)
{
    Arg args[7];
    Cardinal n = 0;
    XtSetArg(args[n], XmNeditMode, XmMULTI_LINE_EDIT);
    n++;
    XtSetArg(args[n], XmNeditable, False);
    n++;
    XtSetArg(args[n], XmNcursorPositionVisible, False);
    n++;
    XtSetArg(args[n], XmNwordWrap, True);
    n++;
    XtSetArg(args[n], XmNscrollHorizontal, False);
    n++;
    XtSetArg(args[n], XmNrows, 24);
    n++;
    XtSetArg(args[n], XmNcolumns, 76);
    n++;
    v.text = XmCreateScrolledText(form, const_cast<char*>("hh_text"), args, n);
    XtVaSetValues(XtParent(v.text), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, v.title,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, above, XmNleftAttachment,
                  XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, NULL);
    XtAddEventHandler(v.text, ButtonPressMask | ButtonReleaseMask, False, text_click, nullptr);
    XtManageChild(v.text);
}

void build_window(int argc, char** argv)
{
    /* The screen asked for, when the display has it; the records stay on the
     * default screen's root window either way. */
    Screen* screen = v.screen >= 0 && v.screen < ScreenCount(v.dpy)
                         ? ScreenOfDisplay(v.dpy, v.screen)
                         : DefaultScreenOfDisplay(v.dpy);
    v.shell =
        XtVaAppCreateShell("hyperhelp", "HyperHelp", applicationShellWidgetClass, v.dpy, XmNscreen,
                           screen, XmNtitle, "Help", XmNiconName, "Help", XmNdeleteResponse,
                           XmDO_NOTHING, XmNwidth, 640, XmNheight, 640, NULL);
    Widget form = XtVaCreateManagedWidget("hh_form", xmFormWidgetClass, v.shell,
                                          XmNhorizontalSpacing, 6, XmNverticalSpacing, 6, NULL);
    build_button_row(form);
    v.title = XtVaCreateManagedWidget("hh_title", xmLabelWidgetClass, form, XmNalignment,
                                      XmALIGNMENT_BEGINNING, XmNtopAttachment, XmATTACH_WIDGET,
                                      XmNtopWidget, v.search, XmNleftAttachment, XmATTACH_FORM,
                                      XmNrightAttachment, XmATTACH_FORM, NULL);
    v.message = XtVaCreateManagedWidget("hh_message", xmLabelWidgetClass, form, XmNalignment,
                                        XmALIGNMENT_BEGINNING, XmNbottomAttachment, XmATTACH_FORM,
                                        XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                        XmATTACH_FORM, NULL);
    build_text(form, build_link_list(form));

    Atom wm_delete = XmInternAtom(v.dpy, const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(v.shell, wm_delete, close_cb, nullptr);
    /* Client messages are not selected by a mask: nonmaskable. */
    XtAddEventHandler(v.shell, NoEventMask, True, client_message, nullptr);
    XtRealizeWidget(v.shell);
}

} // namespace

int main(int argc, char** argv)
{
    /* A client starts the viewer with its descriptors closed.  Standard
     * input, output and error go to /dev/null then, so that the display's
     * connection is never one of them and a message to standard error cannot
     * end up in it. */
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd ? O_WRONLY : O_RDONLY) != fd) return 1;
    const char* display_name = nullptr;
    std::vector<std::string> command;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "-d" && has_value) {
            v.client = atol(argv[++i]);
        } else if (a == "-s" && has_value) {
            v.screen = atoi(argv[++i]);
        } else if (a == "-display" && has_value) {
            display_name = argv[++i];
        } else if ((a == "-c" || a == "-i") && command.empty()) {
            command.push_back(a);
            /* An empty word (a client that filled a missing one) is skipped. */
            while (i + 1 < argc && command.size() < 3 && argv[i + 1][0] != '-')
                if (argv[++i][0]) command.push_back(argv[i]);
        } else {
            usage();
            return 2;
        }
    }
    if (command.size() < 2) {
        usage();
        return 2;
    }

    XtToolkitInitialize();
    v.app = XtCreateApplicationContext();
    int xargc = 1;
    v.dpy = XtOpenDisplay(v.app, display_name, "hyperhelp", "HyperHelp", nullptr, 0, &xargc, argv);
    if (!v.dpy) {
        fprintf(stderr, "hyperhelp: can't open display %s\n",
                display_name ? display_name : XDisplayName(nullptr));
        return 1;
    }
    /* Its look, from the installation as the editor takes its own: below
     * the user's resources (data/app-defaults/HyperHelp). */
    merge_app_defaults(v.dpy, "HyperHelp");
    v.atom = XInternAtom(v.dpy, ATOM_NAME, False);
    build_window(argc, argv);
    run_command(command);
    if (v.client != -1) register_window();
    XtAppMainLoop(v.app);
    return 0;
}
