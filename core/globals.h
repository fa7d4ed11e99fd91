/*
 * globals.h - the editor's application-wide state.  PUBLIC HEADER.
 *
 * One of each, living for the whole run.  The string globals set from the
 * command line point into argv and are never freed; their initial values
 * point at static storage, so a writer that wants to release the old value
 * must know it owns it (the preferences dialog replaces user_object_name only
 * after it has made a copy of its own).
 *
 * Every layer of the editor reads this state; it names the windows, the tree's
 * root and the help client by pointer only, so it depends on nothing of the
 * editor above it.  Start-up fills it (app/startup.h).
 */
#ifndef CORE_GLOBALS_H
#define CORE_GLOBALS_H

#include <X11/Intrinsic.h>

#include <string>

#include "core/catalog.h"
#include "kvl/kvl.h"

class MainWin;
class ActionWin;
class CreateWin;
class SelectWin;
class DefaultWin;
class OpenWin;
class ConfigWin;
class OutputWin;
class DataObject;
class XtHelp;

/* The release named in the main window's title. */
#define QX_RELEASE "1.2"

/* The X resource class of the application. */
#define QX_APP_CLASS "QX_tarn"

/*
 * GlobalVars: the image of the object shown in the configuration window, and
 * the one way to write a line into a label widget (above all the status line
 * mw_message_label).  Adds no data to Image; constructed empty (no object).
 */
class GlobalVars : public Image {
public:
    GlobalVars();
    ~GlobalVars();

    /* Sets text (copied; the caller keeps it) as w's labelString, as a
     * compound string in the current locale, cut as bounded_label cuts it, so
     * that no text a server sends can make X refuse the request.  Does nothing
     * when w is null. */
    void update_label(Widget w, const char* text);
};

/* Text as it may go into a label or a dialog: X refuses the request for a
 * text of a few hundred kilobytes, so a longer text is cut, at a character
 * boundary, with "..." at the end. */
const size_t MAX_LABEL_TEXT = 400;
std::string bounded_label(const char* text);

/* Set from the command line and the environment (get_arguments). */
extern char* platform_host;        /* server host; null until get_arguments */
extern char* default_root;         /* "/": FDN of the tree's root */
extern int default_scope;          /* 2: levels derived below the root */
extern char* default_scope_string; /* "2": the scope as typed */
extern char* default_filter;       /* "": CMIS filter given with -f */
extern char* current_filter;       /* null: filter used by every derivation */
extern double DeriveTimeout;       /* 300.0 s: time-out of timed server operations */
extern int file_desc;              /* 0: launcher's descriptor for the start-up reply */

/* Fixed or written by later parts of the program. */
extern int display_format;         /* 1: outline form of the tree view */
extern int sort_on;                /* 1 */
extern bool fdn_name;              /* false: label nodes by RDN */
extern bool natural_order;         /* false: siblings in FDN order; true: numbers as numbers */
extern unsigned int CurrentCookie; /* 0: generation number of the tree */
extern char* user_object_class;    /* "" */
extern char* user_object_name;     /* "" */
extern int std_form;               /* 65542: format of Image::get_str / set_str */

extern Platform platform; /* the one connection to the server */
extern DataObject* root;  /* root object of the tree; null */
extern GlobalVars global;

/* The eight windows; null until initialize_gui creates them. */
extern MainWin* main_window;
extern ActionWin* action_window;
extern CreateWin* create_object;
extern SelectWin* selection_window;
extern DefaultWin* default_preferences;
extern OpenWin* open_view;
extern ConfigWin* object_configuration;
extern OutputWin* output_window;

extern XtAppContext app_context;
extern Display* display;
extern Pixel fg, bg; /* the main shell's colours */
extern XtHelp* help; /* the help client; null until started */

#endif /* CORE_GLOBALS_H */
