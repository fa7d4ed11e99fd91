/*
 * create.cpp - the configuration window in create mode: the form of a new
 * object, from a template object or from a class typed into the Object Class
 * field, and the Create button, which makes the object on the server beneath
 * the Parent FDN.  The navigator learns of the new object from the server's
 * OBJECT_CREATED event.
 */
#include <Xm/Xm.h>
#include <string>

#include "config/choices.h"
#include "core/catalog.h"
#include "core/role.h"
#include "core/field_text.h"
#include "core/globals.h"
#include "meta/meta_api.h"
#include "tree/tree_api.h"
#include "ui/busy_cursor.h"
#include "ui/config_win.h"
#include "ui/dialogs.h"

namespace {

/* True while create_object_cb waits: a second press of Create meanwhile is
 * dropped, so one press makes one object. */
bool creating = false;

/* Holds `creating` true for its scope. */
class Creating {
public:
    Creating() { creating = true; }
    ~Creating() { creating = false; }
    Creating(const Creating&) = delete;
    Creating& operator=(const Creating&) = delete;
};

void set_button_label(Widget button, const char* text)
{
    XmString label = XmStringCreateLocalized(const_cast<char*>(text));
    XtVaSetValues(button, XmNlabelString, label, NULL);
    XmStringFree(label);
}

} // namespace

/* Waits (the template's class and its description).  What it needs of the
 * template is read first, since server events may remove it meanwhile; when
 * another load or form replaced `global` during the wait, that one stands. */
void ConfigWin::create_object(DataObject* obj)
{
    Widget shell = XtParent(oc_dialog);
    const bool from_template = obj != nullptr;
    const std::string name = obj && obj->name ? obj->name : "";
    const std::string parent = obj && obj->parent_name ? obj->parent_name : "";
    obj = nullptr;
    /* In addition to opening the form: edits of the object shown that were
     * not yet set are not dropped without a question, as for loading another
     * object.  (What a create form holds is its own and goes with it.) */
    if (create_mode == 0 &&
        !may_drop_pending_edits(from_template ? name : qx_msg(601, "Create"), shell))
        return; /* waits */
    set_button_label(oc_set_button, qx_msg(601, "Create"));
    BusyCursor busy(shell);
    create_mode = 1;
    if (from_template) {
        Image reference(DataUnit(name.c_str()), DataUnit(), Platform::def_platform);
        static_cast<Image&>(global) = reference;
        ++image_loads;
        ClassInfo info(name.c_str()); /* waits */
        if (global.impl_ != reference.impl_) return;
        learn_choices(info.get_attributes()); /* waits */
        if (global.impl_ != reference.impl_) return;
        if (info.get_attributes().count() == 0) {
            error_dialog(oc_dialog, qx_msg(602, "Error retrieving attributes for object"));
            XtSetSensitive(oc_set_button, False);
            return;
        }
        attr_names.take(info.get_attributes());
        create_attr_widgets_cb(attr_names, const_cast<char*>(parent.c_str()),
                               const_cast<char*>(info.class_name.str()));
        XtSetSensitive(oc_set_button, role_permits(ROLE_CREATE));
    } else {
        XtSetSensitive(oc_set_button, False);
        static_cast<Image&>(global) = Image();
        ++image_loads;
        attr_names.resize(0);
        create_attr_widgets_cb(attr_names, const_cast<char*>(""), const_cast<char*>(""));
    }
    XtManageChild(oc_dialog);
    global.update_label(oc_message_label, "");
}

/* Waits (the class description).  On a class the repository does not know,
 * the form keeps its fields and the user's edits. */
void ConfigWin::create_object()
{
    if (create_mode != 1) return;
    const std::string parent = field_text(PARENTFDN);
    const std::string cls = field_text(OBJCLASS);
    BusyCursor busy(XtParent(oc_dialog));
    ClassInfo info{DataUnit(cls.c_str())}; /* waits */
    if (create_mode != 1) return;          /* an existing object was loaded meanwhile */
    learn_choices(info.get_attributes());  /* waits */
    if (create_mode != 1) return;
    if (info.get_attributes().count() > 0) {
        XtSetSensitive(oc_set_button, role_permits(ROLE_CREATE));
        static_cast<Image&>(global) = Image(NONE, DataUnit(cls.c_str()), Platform::def_platform);
        ++image_loads;
        attr_names.take(info.get_attributes());
        create_attr_widgets_cb(attr_names, const_cast<char*>(parent.c_str()),
                               const_cast<char*>(cls.c_str()));
        global.update_label(oc_message_label, "");
        XtManageChild(oc_dialog);
    } else {
        XtSetSensitive(oc_set_button, False);
        error_dialog(oc_dialog, qx_msg(600, "Error retrieving attributes for object"));
    }
}

/* Waits (boot, the reference's values, one request per edit, the creation).
 * The form is rebuilt for the new object only when `global` is still the
 * reference it was made from; the edits stay on every failure. */
void ConfigWin::create_object_cb()
{
    if (creating) return;
    Creating pressed;
    BusyCursor busy(XtParent(oc_dialog));
    const std::string cls = field_text(OBJCLASS);
    const std::string parent = field_text(PARENTFDN);
    Image reference = global;
    Image created(NONE, DataUnit(cls.c_str()), Platform::def_platform);

    if (!created.boot(DeriveTimeout)) { /* waits */
        error_dialog(oc_dialog, bounded_label(created.get_error_string()).c_str());
    } else if (!created.set_from_ref(reference)) {
        error_dialog(oc_dialog, bounded_label(created.get_error_string()).c_str());
        global.update_label(oc_message_label, qx_msg(603, "Object Creation Error"));
    } else if (!set_image_attributes(created)) {
        error_dialog(oc_dialog, bounded_label(created.get_error_string()).c_str());
        global.update_label(oc_message_label, qx_msg(604, "Object Creation Error"));
        global.reset_error();
    } else {
        Image unused;
        if (created.create_within(DataUnit(parent.c_str()), unused, DeriveTimeout)) {
            if (global.impl_ == reference.impl_ && create_mode == 1) {
                Attribute::attr_list.clear_and_destroy();
                static_cast<Image&>(global) = created;
                create_attr_widgets_cb(attr_names, nullptr, nullptr);
                global.update_label(oc_message_label, qx_msg(606, "Object Created"));
            }
        } else {
            error_dialog(oc_dialog, bounded_label(created.get_error_string()).c_str());
            global.update_label(oc_message_label, qx_msg(605, "Object Creation Error"));
        }
    }
}
