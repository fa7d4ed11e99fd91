/* startup.cpp - toolkit, catalogue, display and windows, once at start-up. */
#include "app/startup.h"

#include <Xm/Xm.h>
#include <X11/Shell.h>
#include <cstdio>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <unistd.h>

#include "app/connection.h"
#include "app/desktop.h"
#include "core/globals.h"
#include "help/XtHelp.h"
#include "meta/meta_api.h"
#include "prefs/prefs_api.h"
#include "tree/build_tree.h"
#include "tree/go_to.h"
#include "tree/navigator.h"
#include "tree/row_menu.h"
#include "ui/action_win.h"
#include "ui/config_win.h"
#include "ui/create_win.h"
#include "ui/default_win.h"
#include "ui/event_log_win.h"
#include "ui/help_callbacks.h"
#include "ui/icon.h"
#include "ui/main_win.h"
#include "ui/open_win.h"
#include "ui/output_win.h"
#include "ui/select_win.h"

void open_catalogue()
{
    if (catd != (nl_catd)-1) return;
    /* Only the messages' category for now: the command line's numbers (-t) are
     * read in the C locale, and the toolkit sets the whole locale when it
     * opens the display.  NL_CAT_LOCALE takes the language from LC_ALL,
     * LC_MESSAGES or LANG, as setlocale does, into NLSPATH's %L and %l; a
     * locale the system does not have stays "C", and the English catalogue
     * answers for it. */
    setlocale(LC_MESSAGES, "");
    catd = catopen("qx.cat", NL_CAT_LOCALE);
}

void initialize_gui(int argc, char** argv)
{
    XtSetLanguageProc(nullptr, nullptr, nullptr);
    XtToolkitInitialize();

    /* Without the catalogue every text is its built-in default. */
    open_catalogue();

    /* Server events arrive through the Xt main loop from here on. */
    app_context = XtCreateApplicationContext();
    set_app_context(app_context);

    display = XtOpenDisplay(app_context, nullptr, argv[0], QX_APP_CLASS, nullptr, 0, &argc, argv);
    if (!display) {
        printf(qx_msg(1, "%s: can't open display, exiting...\n"), argv[0]);
        exit(-1);
    }
    /* The installation's look, under the user's own resources, before the
     * first widget is made. */
    merge_app_defaults(display, QX_APP_CLASS);

    /* The windows, made once and kept for the whole run. */
    main_window = new MainWin();
    main_window->create(display, argv[0], argc, argv, QX_APP_CLASS);
    Widget shell = main_window->shell();
    action_window = new ActionWin();
    action_window->create(shell, "action_window");
    create_object = new CreateWin();
    create_object->create(shell, "create_object");
    selection_window = new SelectWin();
    selection_window->create(shell, "selection_window");
    default_preferences = new DefaultWin();
    default_preferences->create(shell, "default_preferences");
    open_view = new OpenWin();
    open_view->create(shell, "open_view");
    object_configuration = new ConfigWin();
    object_configuration->create(shell, "object_configuration");
    output_window = new OutputWin();
    output_window->create(shell, "output_window");
    /* After the eight: the event log window, opened from File > Event Log... */
    event_log_window = new EventLogWin();
    event_log_window->create(shell, "event_log");

    /* The windows know nothing of the features above them: the navigator's
     * nodes open through the tree. */
    main_window->add_node_state_callback(node_state_cb, nullptr);
    /* Return in the path line goes to the object named there; the third
     * button and the Delete key act on the navigator's rows; F1 shows the
     * help of the window in focus. */
    XtAddCallback(main_window->mw_path, XmNactivateCallback, path_activate_cb, nullptr);
    install_row_commands();
    install_help_keys();
    /* The preferences switch raw events off while they rebuild the tree. */
    set_raw_events_hook(setup_raw_events);

    g2_setupIconPixmap(tarn_icon_data, shell, "TARN", 48, 48);
    init_help(shell);

    XtRealizeWidget(shell);

    char title[300];
    snprintf(title, sizeof title, qx_msg(2, "Corvane QX %s: Tarnwick [%s]"), QX_RELEASE,
             platform_host ? platform_host : "");
    XtVaSetValues(shell, XtNtitle, title, NULL);

    XtVaGetValues(shell, XtNforeground, &fg, XtNbackground, &bg, NULL);
}

void load_first_view()
{
    register_callbacks();
    /* Raw events are dropped while the first view loads, then shown. */
    setup_raw_events(false);
    /* Its result is not used: a query finds the image in an error state
     * and makes it again. */
    ClassInfo::initialize();
    build_tree();
    setup_raw_events(true);
    /* Who is connected, and in which role, once the tree stands. */
    if (root && platform.get_user()) status_line(connected_text().c_str());
    /* Edit > Select searches the tree, so it waits for one. */
    if (root && main_window) XtSetSensitive(main_window->mw_select_button, True);
}

void g2_panel_response(int fd, const char* text)
{
    if (fd == -1) return;
    ssize_t written = write(fd, text, strlen(text) + 1);
    (void)written;
    close(fd);
}
