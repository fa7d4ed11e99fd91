/*
 * startup.h - the editor's start-up: the command line, the toolkit and the
 * windows, and the launcher's reply.  PUBLIC HEADER.
 *
 * These fill the shared state of core/globals.h; main() runs them once, in
 * this order, and the tests run them to bring the editor up in process.
 */
#ifndef APP_STARTUP_H
#define APP_STARTUP_H

/* Opens the catalogue "qx.cat" of the user's language along NLSPATH, once;
 * before it every text is its built-in English default. */
void open_catalogue();
/* Fills the globals from the environment and the command line; an unknown
 * option or a missing value ends the process through usage(). */
void get_arguments(int argc, char** argv);
/* Prints the usage text on standard error and exits with status 1. */
[[noreturn]] void usage();
/* Toolkit, catalogue, application context, display, the eight windows and
 * their wiring to the editor's features, the icon; realizes the main shell
 * and titles it with the host.  Exits with status 255 without a display. */
void initialize_gui(int argc, char** argv);
/* After a successful connection, in this order: registers the platform's
 * callbacks, switches raw-event display off, makes the image of the
 * metadata repository (ClassInfo::initialize; class metadata is read later,
 * on demand), builds and shows the first tree, switches raw-event display
 * on.  Waits (the first tree) with the Xt loop running. */
void load_first_view();
/* Writes text with its NUL to fd in one write and closes fd; -1: nothing. */
void g2_panel_response(int fd, const char* text);

#endif /* APP_STARTUP_H */
