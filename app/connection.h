/*
 * connection.h - the connection to the management server and the platform's
 * events.  PUBLIC HEADER.
 *
 * Status texts go to the main window's status line, failures to the start-up
 * error dialog, whose OK (or the window manager's close) ends the program
 * with status 0.
 *
 * EVENT-LOOP RULE: platform_connect() waits for the server while the Xt loop
 * runs, so any callback may run inside it.  process_event_cb and
 * platform_disconnect are KVL callbacks: they run from the Xt main loop, and
 * also inside any KVL wait and inside the nested loop of a blocking dialog.
 */
#ifndef APP_CONNECTION_H
#define APP_CONNECTION_H

#include <X11/Intrinsic.h>
#include <string>

class Error;

/* Connects `platform` to platform_host, asking a password in the password
 * dialog when the host names a user and QX_PASSWORD_FILE is unset; makes the
 * commands the user's role may not use insensitive.  On failure puts up the error dialog
 * "Can't connect to MIS!", writes the server's host:port and the library's
 * reason on standard output and the status line, and returns false. */
bool platform_connect();

/* What the status line says of the connection: the server, and the user
 * and role it took the connection for when there are (4/877, 888, 889). */
std::string connected_text();

/* Registers process_event_cb for RAW_EVENT and platform_disconnect for
 * DISCONNECTED on `platform`. */
void register_callbacks();

/* Shows (true) or drops (false) the names of raw events in the status line.
 * Dropped events are not queued.  On at start. */
void setup_raw_events(bool on);

/* RAW_EVENT: writes the event's name into the status line while raw-event
 * display is on; the event log keeps every event, with its object. */
void process_event_cb(void* client_data, void* call_data);

/* DISCONNECTED: puts up the error dialog "Platform has Disconnected!", with
 * the server and the library's reason on standard output and the status
 * line. */
void platform_disconnect(void* client_data, void* call_data);

/* The library's error-entry hook: the editor reports errors where they are
 * returned, so it does nothing here. */
void kvl_error_cb(Error* error);

/* Closes the start-up error dialog, if it is up, and exits with status 0. */
[[noreturn]] void exit_no_save(Widget w, XtPointer client_data, XtPointer call_data);

#endif /* APP_CONNECTION_H */
