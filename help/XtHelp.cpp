/* XtHelp.cpp - the help client: the viewer's process, its record and commands. */
#include "help/XtHelp.h"

#include <X11/Xlib.h>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/globals.h"
#include "help/help_record.h"

const char* const XtHelp::hyperhelp_command = "hyperhelp";
const char* const XtHelp::hyperhelp_atom_name = help_record::ATOM_NAME;

/* The suite's home: QX_HOME, or the built-in default kept in qxhome_default. */
static char* qxhome = nullptr;
static char qxhome_default[1024];

static XtDefaultHelpNotify* DefaultHelpNotify = nullptr;
static char SendEventError = 0;

namespace {

struct XFreeDeleter {
    void operator()(unsigned char* p) const
    {
        if (p) XFree(p);
    }
};

void set_error(XtHelpError* error, const std::string& text)
{
    error->setMessage(text.c_str());
}

/*
 * Reaps the viewer when it ends, so no zombie is left behind, and tells the
 * default notifier (which tells the client, so its next request starts a new
 * viewer).  Only the viewer's own process is waited for: other children of
 * the program are left to whoever started them.
 */
void reap_viewer(int)
{
    int saved = errno;
    if (DefaultHelpNotify && DefaultHelpNotify->pid > 0) {
        pid_t r;
        do r = waitpid((pid_t)DefaultHelpNotify->pid, nullptr, WNOHANG);
        while (r < 0 && errno == EINTR);
        if (r > 0) DefaultHelpNotify->processExited(r);
    }
    errno = saved;
}

/*
 * Starts path with argv.  The child keeps descriptor 0 as the write end of a
 * pipe that closes on exec, and closes everything else; when the exec fails
 * it writes its errno there.  Returns the child's id, or -1 with the reason
 * in error.
 *
 * A failed exec fails the start: the child is reaped at once and -1 returned,
 * so the user reads why the viewer did not come up, and the next request
 * tries again instead of counting a dead child as its viewer.
 */
long fork_and_exec(const char* path, char* const* argv, XtHelpError* error)
{
    int fds[2];
    if (pipe(fds) != 0) {
        set_error(error, std::string("Can't fork program ") + path + ": " + strerror(errno));
        return -1;
    }
    pid_t child = fork();
    if (child < 0) {
        int e = errno;
        close(fds[0]);
        close(fds[1]);
        set_error(error, std::string("Can't fork program ") + path + ": " + strerror(e));
        return -1;
    }
    if (child == 0) {
        close(fds[0]);
        dup2(fds[1], 0);
        fcntl(0, F_SETFD, FD_CLOEXEC);
        if (close_range(1, ~0U, 0) != 0) {
            long limit = sysconf(_SC_OPEN_MAX);
            if (limit < 0) limit = 64;
            for (long fd = limit - 1; fd >= 1; fd--) close((int)fd);
        }
        execvp(path, argv);
        int e = errno;
        ssize_t w = write(0, &e, sizeof e);
        (void)w;
        close(0);
        _exit(128);
    }
    close(fds[1]);
    int e = 0;
    ssize_t n;
    do n = read(fds[0], &e, sizeof e);
    while (n < 0 && errno == EINTR);
    close(fds[0]);
    if (n == (ssize_t)sizeof e) {
        set_error(error, std::string("Can't execute ") + path + ": " + strerror(e));
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
        return -1;
    }
    return child;
}

/* The text of command after its first n blank-separated words, without
 * the blanks around it and the closing newline. */
std::string after_words(const char* command, int n)
{
    std::string s = command;
    size_t at = 0;
    for (int k = 0; k < n && at != std::string::npos; k++) {
        at = s.find_first_not_of(' ', at);
        at = at == std::string::npos ? at : s.find(' ', at);
    }
    if (at == std::string::npos) return "";
    s.erase(0, at);
    s.erase(0, s.find_first_not_of(' '));
    size_t end = s.find_last_not_of(" \n");
    return end == std::string::npos ? "" : s.substr(0, end + 1);
}

int send_event_error(Display*, XErrorEvent*)
{
    SendEventError = 1;
    return 0;
}

} // namespace

XtHelpError::~XtHelpError()
{
    free(message);
}

void XtHelpError::setMessage(const char* text)
{
    free(message);
    message = text ? strdup(text) : nullptr;
}

void XtDefaultHelpNotify::processCreated(XtHelp* client, long p)
{
    help = client;
    pid = p;
}

void XtDefaultHelpNotify::processExited(long p)
{
    if (p == pid) pid = 0;
    if (help) {
        help->processExited();
        help = nullptr;
    }
}

XtHelp::~XtHelp()
{
    terminate();
    XtFree(help_file);
    if (own_error) delete error;
}

int XtHelp::initialize(Widget parent_arg, XtHelpNotify* notify_arg, XtHelpError* error_arg)
{
    assert(parent_arg != 0);
    parent = parent_arg;
    if (error_arg) {
        error = error_arg;
    } else if (!error) {
        error = new XtHelpError;
        own_error = true;
    }
    if (!qxhome) {
        qxhome = getenv("QX_HOME");
        if (!qxhome) {
            snprintf(qxhome_default, sizeof qxhome_default, "%s", "/opt/KESTnet/qx");
            qxhome = qxhome_default;
        }
        /* setenv copies the values, so a second start of the client
         * replaces them without leaving the old ones behind. */
        std::string help_dir = std::string(qxhome) + "/share/qx-tarn";
        if (setenv("HHHOME", help_dir.c_str(), 1) != 0 ||
            setenv("HHPATH", help_dir.c_str(), 1) != 0)
            return -1;
    }
    if (notify_arg) {
        notify = notify_arg;
    } else {
        if (!DefaultHelpNotify) DefaultHelpNotify = new XtDefaultHelpNotify;
        notify = DefaultHelpNotify;
    }
    return 0;
}

int XtHelp::setHelpFile(const char* file)
{
    char found[1024];
    XtFree(help_file);
    int r = file ? find_in_path("HHPATH", file, S_IFREG | S_IRUSR, found) : -1;
    if (r == 0 || r == 1) {
        help_file = XtNewString(found);
        help_file_is_valid = 1;
    } else {
        help_file = file ? XtNewString(file) : nullptr;
        help_file_is_valid = 0;
    }
    return 0;
}

int XtHelp::showHelpOnTopic(int topic)
{
    if (!help_file_is_valid) {
        set_error(error,
                  std::string("Can't find help file ") + (help_file ? help_file : "(no file set)"));
        return -1;
    }
    std::string command = "-c " + std::to_string(topic) + " " + help_file + "\n";
    return sendEvent(&command[0]);
}

int XtHelp::showTableOfContents()
{
    if (!help_file_is_valid) {
        error->setMessage("Can't find help file");
        return -1;
    }
    std::string command = std::string("-i ") + help_file + "\n";
    return sendEvent(&command[0]);
}

void XtHelp::terminate()
{
    if (pid > 0) {
        char command[32];
        snprintf(command, sizeof command, "-q %d\n", CLIENT_ID);
        sendEvent(command);
    }
}

/* The display and the atom of the viewer's property protocol; None, with
 * the error set, when the atom cannot be had. */
Atom XtHelp::protocolAtom(Display*& dpy)
{
    dpy = XtDisplay(parent);
    assert(dpy != NULL);
    Atom atom = XInternAtom(dpy, hyperhelp_atom_name, False);
    if (atom == None) error->setMessage("Can't talk to HyperHelp");
    return atom;
}

int XtHelp::sendEvent(char* command)
{
    Display* dpy = nullptr;
    Atom atom = protocolAtom(dpy);
    if (atom == None) return -1;
    Window root_window = RootWindow(dpy, DefaultScreen(dpy));
    Atom type;
    int format;
    unsigned long items = 0, after = 0;
    unsigned char* raw = nullptr;
    XGetWindowProperty(dpy, root_window, atom, 0, 61440, False, AnyPropertyType, &type, &format,
                       &items, &after, &raw);
    std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
    /* A property of another type or format is none of ours, and appending
     * records to it would fail: it goes, and this client registers anew. */
    if (data && (type != atom || format != 8)) {
        XDeleteProperty(dpy, root_window, atom);
        data.reset();
    }
    if (!data || items == 0) return startViewer(command, 1);

    /* Whole records only: a torn tail is dropped when the property is
     * written back. */
    size_t count = items / RECORD_SIZE;
    std::vector<unsigned char> records(data.get(), data.get() + count * RECORD_SIZE);
    unsigned char* mine = nullptr;
    for (size_t i = 0; i < count && !mine; i++)
        if (help_record::client(&records[i * RECORD_SIZE]) == CLIENT_ID)
            mine = &records[i * RECORD_SIZE];
    uint32_t window = mine ? help_record::window(mine) : 0;
    if (window == 0) return startViewer(command, 1);

    help_record::set_command(mine, command);
    XChangeProperty(dpy, root_window, atom, atom, 8, PropModeReplace, records.data(),
                    (int)records.size());

    XClientMessageEvent ev = {};
    ev.type = ClientMessage;
    ev.display = dpy;
    ev.window = window;
    ev.message_type = atom;
    ev.format = 8;
    snprintf(ev.data.b, sizeof ev.data.b, "%d", CLIENT_ID);

    /* Only an error the send itself causes reaches the handler: the request
     * queue is emptied before it is installed and after the send. */
    XSync(dpy, False);
    XErrorHandler previous = XSetErrorHandler(send_event_error);
    SendEventError = 0;
    XSendEvent(dpy, window, True, NoEventMask, (XEvent*)&ev);
    XSync(dpy, False);
    XSetErrorHandler(previous);

    /* The recorded window is gone, and with it the viewer: start a new one,
     * which fills its window into the record that is already there. */
    if (SendEventError) return startViewer(command, 0);
    return 0;
}

int XtHelp::startViewer(const char* command, char register_first)
{
    assert(help_file_is_valid);
    Display* dpy = XtDisplay(parent);
    assert(dpy != NULL);

    char path[1100];
    snprintf(path, sizeof path, "%s/bin/%s", qxhome, hyperhelp_command);
    struct stat st;
    if (stat(path, &st) != 0) {
        error->setMessage("Can't find HyperHelp executable");
        return -1;
    }

    char word1[16] = "", word2[16] = "", word3[1024] = "";
    sscanf(command, "%15s %15s %1023s", word1, word2, word3);
    /* A quit with no viewer serving this client has nothing to do: starting
     * a viewer only to end it would flash a window at the user. */
    if (strcmp(word1, "-q") == 0) return 0;

    if (register_first && setupCommunications() != 0) return -1;

    /* "-c <topic> <file>" passes the topic and the file after "-c".  The file
     * is the rest of the command, so a path with a blank in it stays whole.
     * "-i <file>" names only the file, which a 15-character word would cut
     * short: the viewer gets "-i" and the whole file, and opens on the table
     * of contents, as asked, rather than on a topic nobody named. */
    char name[] = "hyperhelp", d[] = "-d", s[] = "-s", zero[] = "0", disp[] = "-display";
    char c[] = "-c", i[] = "-i";
    char id[16];
    snprintf(id, sizeof id, "%d", CLIENT_ID);
    std::vector<char*> argv = {name, d, id, s, zero, disp, DisplayString(dpy)};
    bool contents = strcmp(word1, "-i") == 0;
    std::string file = after_words(command, contents ? 1 : 2);
    if (file.empty()) file = word3;
    if (contents)
        argv.insert(argv.end(), {i, &file[0]});
    else
        argv.insert(argv.end(), {c, word2, &file[0]});
    argv.push_back(nullptr);

    long child = fork_and_exec(path, argv.data(), error);
    if (child < 0) return -1;
    pid = child;
    if (notify) {
        notify->processCreated(this, pid);
        /* The default notifier learns of the viewer's end from the signal. */
        if (notify == DefaultHelpNotify) {
            struct sigaction sa = {};
            sa.sa_handler = reap_viewer;
            sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
            sigemptyset(&sa.sa_mask);
            sigaction(SIGCHLD, &sa, nullptr);
            /* It may have ended before the handler was there. */
            reap_viewer(0);
        }
    }
    return 0;
}

int XtHelp::setupCommunications()
{
    Display* dpy = nullptr;
    Atom atom = protocolAtom(dpy);
    if (atom == None) return -1;
    unsigned char record[RECORD_SIZE] = {};
    help_record::set_client(record, CLIENT_ID);
    XChangeProperty(dpy, RootWindow(dpy, DefaultScreen(dpy)), atom, atom, 8, PropModeAppend, record,
                    RECORD_SIZE);
    /* The viewer about to start looks for this record: it must be there. */
    XSync(dpy, False);
    return 0;
}

void init_help(Widget w)
{
    if (help) return;
    help = new XtHelp;
    if (help->initialize(w, nullptr, nullptr) == -1) fputs("initialize  failed: \n", stderr);
}

int find_in_path(const char* variable, const char* file, mode_t mask, char* result)
{
    struct stat st;
    if (strchr(file, '/')) {
        if (snprintf(result, 1024, "%s", file) >= 1024) return -1;
        if (pstat(result, &st) != 0) return -1;
        return (st.st_mode & mask) == mask ? 0 : -1;
    }
    const char* value = variable ? getenv(variable) : nullptr;
    if (!value) return -1;
    std::string list = value;
    size_t at = 0;
    for (;;) {
        size_t colon = list.find(':', at);
        std::string dir = list.substr(at, colon == std::string::npos ? colon : colon - at);
        if (snprintf(result, 1024, "%s/%s", dir.c_str(), file) < 1024 && pstat(result, &st) == 0 &&
            (st.st_mode & mask) == mask)
            return 1;
        if (colon == std::string::npos) return -1;
        at = colon + 1;
    }
}

int pstat(char* path, struct stat* buffer)
{
    for (int links = 0;; links++) {
        if (lstat(path, buffer) != 0) return -1;
        if (!S_ISLNK(buffer->st_mode)) return 0;
        if (links == 20) return -1;
        char target[1024];
        ssize_t n = readlink(path, target, sizeof target - 1);
        if (n < 0) return -1;
        target[n] = 0;
        char* slash = strrchr(path, '/');
        size_t keep = target[0] == '/' || !slash ? 0 : (size_t)(slash - path) + 1;
        if (keep + (size_t)n >= 1024) return -1;
        memcpy(path + keep, target, (size_t)n + 1);
    }
}
