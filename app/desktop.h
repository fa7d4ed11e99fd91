/*
 * desktop.h - what the editor does at start-up to fit the desktop it runs
 * on: it finds its own installation and merges its app-defaults file.
 * PUBLIC HEADER (app/ and its tests).
 *
 * editres needs nothing here: Motif's vendor shell, the base of every shell
 * the editor makes (application, top-level and dialog shells), answers the
 * editres protocol itself, so a second handler would answer each request
 * twice.
 */
#ifndef APP_DESKTOP_H
#define APP_DESKTOP_H

#include <X11/Intrinsic.h>
#include <string>

/* The installation the program runs from: the folder above the one that
 * holds the running program (/usr for /usr/bin/qx_tarn); "" when the
 * program's own path cannot be read. */
std::string program_home();

/* For a program started with no set-up: when QX_HOME is unset it becomes
 * program_home(), so the help client finds the viewer and the help file of
 * this installation; when NLSPATH is unset it names the installation's
 * share/locale/<language>/LC_MESSAGES, with the English catalogue last, so
 * the catalogue of the user's language is found.  Values the user set are
 * kept.
 * Call before the catalogue is opened. */
void settle_home();

/* The app-defaults file of app_class under $QX_HOME/share/X11/app-defaults
 * (or program_home()'s), merged into the display's resource database below
 * everything already there: the user's own resources (xrdb, ~/.Xdefaults,
 * XENVIRONMENT, XUSERFILESEARCHPATH) keep every value they set.  Nothing is
 * merged when XFILESEARCHPATH is set or the toolkit's own search already
 * found an app-defaults file for the class: then that one is used alone, as
 * in any Xt program.  Returns the file merged, "" for none. */
std::string merge_app_defaults(Display* dpy, const char* app_class);

#endif /* APP_DESKTOP_H */
