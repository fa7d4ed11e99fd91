/*
 * main.cpp - qx_tarn, the Tarnwick editor.
 *
 * Reads the command line, brings up the windows, connects to the server and
 * answers the launcher, then hands control to the Xt main loop for good.  The
 * program ends only through exit(): the File menu's Exit, or OK in the error
 * dialog after a failed or lost connection.
 */
#include "app/connection.h"
#include "app/desktop.h"
#include "app/startup.h"
#include "core/globals.h"

int main(int argc, char** argv)
{
    /* An installed program finds its help, catalogue and look by itself. */
    settle_home();
    /* The usage text is in the user's language too. */
    open_catalogue();
    get_arguments(argc, argv);
    initialize_gui(argc, argv);

    if (platform_connect()) {
        /* The launcher hears from us before the tree is loaded. */
        if (file_desc != 0) g2_panel_response(file_desc, argv[0]);
        load_first_view();
    } else if (file_desc != 0) {
        /* The error dialog stays up; its OK ends the program. */
        g2_panel_response(file_desc, argv[0]);
    }

    XtAppMainLoop(app_context);
    return 0;
}
