/*
 * arguments.cpp - the command line and the environment.
 *
 * The command line is parsed before the toolkit sees it, so the toolkit's own
 * options (-display, -geometry, -xrm ...) are rejected like any other unknown
 * argument; the display comes from DISPLAY.
 */
#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "core/globals.h"

/* The text of the value that follows option i, or usage when there is none. */
static char* option_value(int argc, char** argv, int& i)
{
    if (i + 1 >= argc) usage();
    return argv[++i];
}

void get_arguments(int argc, char** argv)
{
    /* The environment first, so that -t overrides it.  The value goes through
     * single precision, and only a positive result replaces the default. */
    if (const char* env = getenv("QX_TARN_TIMEOUT")) {
        float t = (float)atof(env);
        if (t > 0.0f) DeriveTimeout = (double)t;
    }

    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (strcmp(arg, "-fd") == 0) {
            file_desc = atoi(option_value(argc, argv, i));
        } else if (strcmp(arg, "-host") == 0 || strcmp(arg, "-h") == 0) {
            platform_host = option_value(argc, argv, i);
        } else if (strcmp(arg, "-v") == 0) {
            /* accepted for the launcher's sake; nothing to do */
        } else if (strcmp(arg, "-r") == 0 || strcmp(arg, "-root") == 0) {
            default_root = option_value(argc, argv, i);
        } else if (strcmp(arg, "-s") == 0 || strcmp(arg, "-scope") == 0) {
            default_scope_string = option_value(argc, argv, i);
            default_scope = atoi(default_scope_string);
        } else if (strcmp(arg, "-f") == 0) {
            default_filter = option_value(argc, argv, i);
            current_filter = default_filter;
        } else if (strcmp(arg, "-t") == 0) {
            /* Taken as given, sign included: the caller asked for it. */
            DeriveTimeout = atof(option_value(argc, argv, i));
        } else {
            usage();
        }
    }

    if (!platform_host) platform_host = getenv("QX_SERVER");
    if (!platform_host) {
        /* Kept for the whole run, like every other host string. */
        enum { HOST_BUFFER = 256 };
        char* name = (char*)calloc(HOST_BUFFER, 1);
        if (name && gethostname(name, HOST_BUFFER - 1) != 0) strcpy(name, "localhost");
        platform_host = name;
    }
}

void usage()
{
    /* Each text is written as the catalogue holds it: it is text, not a
     * format, so a '%' in a translation cannot read arguments that are not
     * there. */
    fputs(qx_msg(6, "Usage: qx_tarn [-help] [-host <server>] [-root <fdn>] [-scope <level>]\n"),
          stderr);
    fputs(qx_msg(7, "\t-help \t\t: this message\n"), stderr);
    fputs(qx_msg(8, "\t-host <server> \t: MIS server\n"), stderr);
    fputs(qx_msg(9, "\t-root <fdn> \t: Use specified object as root object\n"), stderr);
    fputs(qx_msg(10, "\t-scope <level> \t: Number of levels to scope down\n"), stderr);
    exit(1);
}
