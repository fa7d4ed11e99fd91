/* connection.cpp - the connection to the management server and its events. */
#include "app/connection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/event_log.h"
#include "core/globals.h"
#include "core/role.h"
#include "ui/config_win.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"
#include "ui/password_dialog.h"

/* Whether raw events are shown; off while the first tree or a rebuilt tree
 * is loading. */
static bool raw_events_enabled = true;

static Widget main_shell()
{
    return main_window ? main_window->shell() : nullptr;
}

void kvl_error_cb(Error* error) {}

/* The root as an FDN: a directory's users name it as a DN (-root
 * uid=ann,ou=people,dc=example,dc=org), or its URL's base names it when
 * -root does not.  The strings made here live as long as the program. */
static void take_root_name()
{
    if (strcmp(default_root, "/") == 0) {
        DataUnit base = platform.get_default_root();
        if (base) default_root = strdup(base.str());
        return;
    }
    DataUnit fdn = platform.to_fdn(DataUnit(default_root));
    if (fdn && strcmp(fdn.str(), default_root) != 0) default_root = strdup(fdn.str());
}

/* A failed or lost connection: the dialog that ends the program says only
 * what happened, in the words it has always had; the server it concerns and
 * the library's reason go on standard output and on the status line behind
 * the dialog, as an addition to it. */
static void connection_failed(const char* what, const char* host, const char* reason)
{
    std::string why = reason && *reason ? reason : "no reason given";
    std::string server = host && *host ? host : "";
    /* The library's reasons mostly name the server themselves. */
    if (!server.empty() && why.find(server) == std::string::npos) why = server + ": " + why;
    std::string line = std::string(what) + " " + why;
    printf("%s\n", line.c_str());
    fflush(stdout);
    status_line(line.c_str(), server.c_str());
    if (Widget shell = main_shell()) error_dialog(shell, what, exit_no_save, exit_no_save);
}

/* The password dialog KVL asks when the host names a user or a bind DN and
 * QX_PASSWORD_FILE is unset; it lives as long as the program. */
static void install_password_dialog()
{
    static PasswordDialog* dialog = nullptr;
    Widget shell = main_shell();
    if (dialog || !shell) return;
    dialog = new PasswordDialog(shell);
    kvl_set_password_source(dialog);
}

std::string connected_text()
{
    std::string host = platform.get_host().str();
    if (host.empty()) host = platform_host ? platform_host : "";
    std::string user = platform.get_user().str();
    std::string role = platform.get_role().str();
    char line[1024];
    if (!user.empty() && !role.empty())
        snprintf(line, sizeof line, qx_msg(888, "Connected to %s as %s (%s)"), host.c_str(),
                 user.c_str(), role.c_str());
    else if (!user.empty())
        snprintf(line, sizeof line, qx_msg(889, "Connected to %s as %s"), host.c_str(),
                 user.c_str());
    else
        snprintf(line, sizeof line, qx_msg(877, "Connected to %s"), host.c_str());
    return line;
}

/* The commands the user's role may not use go insensitive now; those that
 * follow the selection or the shown object ask role_permits() themselves. */
static void apply_role()
{
    set_connection_role(platform.get_role().str());
    if (!main_window) return;
    if (!role_permits(ROLE_CREATE)) XtSetSensitive(main_window->mw_create_from_button, False);
    if (!role_permits(ROLE_ACTION)) XtSetSensitive(main_window->mw_action, False);
    if (!role_permits(ROLE_DELETE)) XtSetSensitive(main_window->mw_delete_button, False);
}

bool platform_connect()
{
    Error::error_entry_callback = kvl_error_cb;
    platform = Platform(DataUnit("QX"), DataUnit(""));
    install_password_dialog();

    status_line(qx_msg(3, "Connecting to Platform..."));
    /* The status line keeps this text until the first tree is built. */
    if (platform.connect(DataUnit(platform_host), DataUnit("Tarnwick"), KVL_DEFAULT_TIMEOUT)) {
        take_root_name();
        apply_role();
        /* Into the log only: the status line keeps its text until the
         * first tree is built, and the log then shows which server the
         * session's entries came from. */
        log_text(connected_text().c_str(), platform.get_host().str());
        return true;
    }

    std::string host = platform.get_host().str();
    connection_failed(qx_msg(4, "Can't connect to MIS!"), host.empty() ? platform_host : host.c_str(),
                      platform.get_error_string());
    return false;
}

void register_callbacks()
{
    platform.when(RAW_EVENT, Callback(SchedContext::current(), process_event_cb, nullptr));
    platform.when(DISCONNECTED, Callback(SchedContext::current(), platform_disconnect, nullptr));
}

void setup_raw_events(bool on)
{
    raw_events_enabled = on;
}

void process_event_cb(void* client_data, void* call_data)
{
    CurrentEvent event(call_data);
    /* The log keeps the events the status line drops while a view loads. */
    if (raw_events_enabled)
        status_line(event.get_name().str(), event.get_objname().str());
    else
        log_text(event.get_name().str(), event.get_objname().str());
    /* Besides the status line: the configuration window learns at once when
     * the object it shows is deleted, whoever deleted it. */
    if (object_configuration && event.get_name() == OBJECT_DESTROYED)
        object_configuration->object_destroyed(event.get_objname().str());
}

void platform_disconnect(void* client_data, void* call_data)
{
    CurrentEvent event(call_data);
    std::string host = event.get_objname().str();
    connection_failed(qx_msg(5, "Platform has Disconnected!"),
                      host.empty() ? platform.get_host().str() : host.c_str(),
                      event.get_value().str());
}

void exit_no_save(Widget w, XtPointer client_data, XtPointer call_data)
{
    if (ErrDialogBox* box = current_error_cb_dialog) {
        box->unmanage();
        delete box;
    }
    exit(0);
}
