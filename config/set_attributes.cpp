/*
 * set_attributes.cpp - the edits of the configuration window's fields and
 * the Set button, which writes them to the object shown.
 */
#include <Xm/Text.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/catalog.h"
#include "core/globals.h"
#include "core/role.h"
#include "meta/meta_api.h"
#include "ui/busy_cursor.h"
#include "ui/config_win.h"
#include "ui/dialogs.h"

namespace {

/* The display name of the edit that set_image_attributes saw refused last. */
std::string refused_attribute;

/* True while set_object_cb runs: a second press of Set during its waits is
 * dropped. */
bool setting = false;

void listen_to_changes(Image& image)
{
    image.when(ATTR_CHANGED,
               Callback(SchedContext::current(), ConfigWin::attr_changed_cb, nullptr));
}

bool connection_lost(const Error& e)
{
    return e.get_error_type() == KVL_ERR_DISCONNECTED ||
           e.get_error_type() == KVL_ERR_NOT_CONNECTED;
}

/* The message line after a successful Set that wrote the edits of names. */
std::string stored_text(const std::vector<std::string>& names)
{
    if (names.empty()) return qx_msg(617, "Stored; no value was changed");
    std::string text = qx_msg(616, "Stored: ");
    for (size_t i = 0; i < names.size(); i++) text += (i ? ", " : "") + names[i];
    return text;
}

/* Why a Set was refused when another client changed attr (a full name) to
 * value since the form was loaded. */
std::string changed_text(const char* attr, const char* value)
{
    const char* colon = strrchr(attr, ':');
    const char* shown = colon ? colon + 1 : attr;
    std::vector<char> text(300 + strlen(shown) + strlen(value));
    snprintf(text.data(), text.size(),
             qx_msg(950, "%s was changed by another user since it was loaded; its value is now "
                         "'%s'. Nothing was set: press Update to see it."),
             shown, value);
    return text.data();
}

} // namespace

void ConfigWin::activate_set_button(Widget field, XtPointer client, XtPointer)
{
    ConfigWin* win = object_configuration;
    if (!client || !win) return;
    char* text = XmTextGetString(field);
    Attribute::record(DataUnit((const char*)client), DataUnit(text));
    XtFree(text);
    XtVaSetValues(field, XmNbackground, win->text_foreground, XmNforeground, win->text_background,
                  NULL);
    /* An object deleted on the server meanwhile takes no more Set; nor
     * does a role that may not set or create. */
    XtSetSensitive(win->oc_set_button,
                   !win->shown_object_gone &&
                       role_permits(win->create_mode == 1 ? ROLE_CREATE : ROLE_SET));
}

void ConfigWin::set_attributes_cb(Widget, XtPointer)
{
    if (create_mode == 1)
        create_object_cb();
    else
        set_object_cb();
}

int ConfigWin::set_image_attributes(Image& image)
{
    /* The edits as they are now: a callback run during a wait may rebuild
     * the form, which empties the list. */
    std::vector<std::pair<DataUnit, DataUnit>> edits;
    for (const auto& rec : Attribute::attr_list.items())
        edits.emplace_back(rec->get_name(), rec->get_value());
    for (const auto& edit : edits) {
        if (!image.set_str(edit.first, edit.second, REPLACE, std_form)) {
            refused_attribute = edit.first.str();
            return 0;
        }
    }
    return 1;
}

void ConfigWin::set_object_cb()
{
    if (setting) return;
    setting = true;
    /* The image being written: a load during a wait may make `global`
     * another object's image, which this Set must leave alone. */
    Image target = global;
    target.when(ATTR_CHANGED, Callback());
    /* Until the outcome is settled: a refusal's dialog is answered first. */
    BusyCursor busy(XtParent(oc_dialog));

    std::vector<std::string> names; /* what this Set writes, for the message line */
    for (const auto& rec : Attribute::attr_list.items()) names.push_back(rec->get_name().str());
    std::string failure;
    bool refused = false;
    DataUnit changed_attr, changed_value; /* what another client changed meanwhile */
    if (!set_image_attributes(target)) {
        refused = true;
        failure = refused_attribute + ": " + target.get_error_string();
    } else if (!target.store(KVL_DEFAULT_TIMEOUT)) {
        failure = target.changed_on_server(changed_attr, changed_value)
                      ? changed_text(changed_attr.str(), changed_value.str())
                      : target.get_error_string();
    }
    bool still_shown = global.impl_ == target.impl_;

    if (failure.empty()) {
        if (still_shown) create_attr_widgets_cb(attr_names, nullptr, nullptr);
        listen_to_changes(target);
        if (still_shown) {
            Attribute::attr_list.clear_and_destroy();
            /* In addition to the rebuilt form, the message line says what
             * was stored, in place of a refusal it may still show. */
            global.update_label(oc_message_label, stored_text(names).c_str());
        }
        setting = false;
        return;
    }

    /* Refused: the edits stay for the user to correct.  The message line
     * names what failed and why; the dialog says that it failed.  A lost
     * connection has a dialog of its own, which ends the program. */
    if (still_shown)
        global.update_label(oc_message_label,
                            (std::string(qx_msg(612, "Object not set: ")) + failure).c_str());
    /* The message line may cut the reason off: the values the attribute
     * accepts are shown in full in the syntax area. */
    if (still_shown && refused) show_syntax_values(refused_attribute.c_str()); /* waits */
    /* Nothing was written; Update reads and shows the server's values. */
    if (still_shown && !changed_attr.is_empty()) XtSetSensitive(oc_update_button, True);
    if (!connection_lost(target)) {
        if (refused)
            error_dialog(oc_dialog, "Incorrect Attribute Syntax");
        else
            error_dialog(oc_dialog, failure.c_str());
    }
    listen_to_changes(target);
    target.reset_error();
    global.reset_error();
    setting = false;
}
