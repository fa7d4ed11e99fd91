/*
 * XtHelp.h - the help client: starts the help viewer (hyperhelp) and drives
 * it to show topics of a help file.  PUBLIC HEADER.
 *
 * The client and its viewer talk through the property "HyperHelpAtomV40" on
 * the root window of the display's default screen: a list of 1056-byte
 * records, one per client.  A record holds the client's number (offset 0,
 * 32 bits in the host's order; this client is 67890), the viewer's window
 * (offset 8, 0 until the viewer fills it in) and a command text (offset 32,
 * up to 1024 bytes with its NUL):
 *
 *     "-c <topic> <file>\n"   show a topic
 *     "-i <file>\n"           show the table of contents
 *     "-q <client>\n"         quit
 *
 * The client writes the command into its record and sends the viewer's
 * window a ClientMessage of the same type, format 8, carrying its number as
 * decimal text.  When no viewer serves it, it appends its record and starts
 *
 *     $QX_HOME/bin/hyperhelp -d 67890 -s 0 -display <name> -c <topic> <file>
 *
 * with HHHOME and HHPATH set to $QX_HOME/share/qx-tarn.  Everything runs on the Xt
 * thread; nothing here waits for the viewer.  Failures return -1 with the
 * reason in the error holder (getMessage); none is fatal.
 */
#ifndef HELP_XTHELP_H
#define HELP_XTHELP_H

#include <X11/Intrinsic.h>
#include "help/help_record.h"
#include <sys/stat.h>
#include <sys/types.h>

/* Holds the text of the last failure. */
class XtHelpError {
public:
    XtHelpError() = default;
    XtHelpError(const XtHelpError&) = delete;
    XtHelpError& operator=(const XtHelpError&) = delete;
    ~XtHelpError();
    /* Keeps a copy of message (null clears it). */
    void setMessage(const char* message);
    /* The text, or null when none was set. */
    const char* getMessage() const { return message; }

private:
    char* message = nullptr;
};

class XtHelp;

/* Told when a client starts a viewer and when a viewer process ends. */
class XtHelpNotify {
public:
    virtual void processCreated(XtHelp* client, long pid) {}
    virtual void processExited(long pid) {}
    virtual ~XtHelpNotify() = default;
};

/* Remembers the one viewer started, and tells its client when it ends. */
class XtDefaultHelpNotify : public XtHelpNotify {
public:
    void processCreated(XtHelp* client, long pid) override;
    void processExited(long pid) override;

    long pid = 0;
    XtHelp* help = nullptr;
};

class XtHelp {
public:
    XtHelp() = default;
    XtHelp(const XtHelp&) = delete;
    XtHelp& operator=(const XtHelp&) = delete;
    /* Asks a viewer this client started to quit. */
    ~XtHelp();

    /* parent's display carries every request.  Null notify or error select
     * the defaults.  The first call in a process sets QX_HOME's default and
     * HHHOME and HHPATH; 0, or -1 when the environment cannot be set. */
    int initialize(Widget parent, XtHelpNotify* notify, XtHelpError* error);
    /* Looks file up along HHPATH (a name with a slash as it is); always 0,
     * the outcome shows in help_file_is_valid. */
    int setHelpFile(const char* file);
    /* 0 when the command went to a viewer or one was started, else -1. */
    int showHelpOnTopic(int topic);
    int showTableOfContents();
    void terminate();
    const char* getMessage() const { return error ? error->getMessage() : nullptr; }
    /* The viewer this client started has ended. */
    void processExited() { pid = 0; }

    static const char* const hyperhelp_command;   /* "hyperhelp" */
    static const char* const hyperhelp_atom_name; /* "HyperHelpAtomV40" */
    static const int CLIENT_ID = 67890;
    static const int RECORD_SIZE = (int)help_record::RECORD_SIZE;

    Widget parent = nullptr;
    long pid = 0;               /* the viewer this client started; 0 for none */
    char* help_file = nullptr;  /* the help file's path (XtMalloc'd), or null */
    int help_file_is_valid = 0; /* 1 when found along HHPATH */
    XtHelpError* error = nullptr;
    XtHelpNotify* notify = nullptr;

private:
    int startViewer(const char* command, char register_first);
    Atom protocolAtom(Display*& dpy);
    int setupCommunications();
    int sendEvent(char* command);

    bool own_error = false; /* error was made by initialize */
};

/* The program's help client: creates help once; a failure goes to standard
 * error. */
void init_help(Widget w);

/* Looks file up: a name with a slash is taken as it is (0 when it
 * qualifies), else each directory of the colon-separated list in variable
 * is tried in order, an empty one as "/" (1 for the first that qualifies).
 * A file qualifies when its mode has every bit of mask.  result (1024 bytes)
 * receives the path tried last, resolved through symbolic links when found.
 * -1 when none qualifies. */
int find_in_path(const char* variable, const char* file, mode_t mask, char* result);

/* stat() that follows symbolic links itself, at most 20, rewriting path
 * (1024 bytes) to the final target; 0, or -1 when a step fails. */
int pstat(char* path, struct stat* buffer);

#endif /* HELP_XTHELP_H */
