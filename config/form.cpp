/*
 * form.cpp - the configuration window in edit mode: loading an object, its
 * attribute form, the syntax of the field in focus, Update and Close, and
 * the server's reports of changed attributes.
 */
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/Text.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "PsCaption.h"
#include "config/choices.h"
#include "core/catalog.h"
#include "core/globals.h"
#include "meta/meta_api.h"
#include "tree/tree_api.h"
#include "ui/config_win.h"
#include "ui/dialogs.h"

namespace {

/* Fields are at least this wide, and a longer value widens its own. */
const int FIELD_COLUMNS = 100;
/* A text longer than this turns its field into a wrapped one of LONG_ROWS. */
const size_t LONG_TEXT = 125;
const int LONG_ROWS = 4;

const char* display_name(const char* full)
{
    const char* colon = strrchr(full, ':');
    return colon ? colon + 1 : full;
}

/* destroyCallback of a field: frees the copy of the display name it carries. */
void free_name_cb(Widget, XtPointer client, XtPointer)
{
    XtFree((char*)client);
}

/* Counts the syntax requests, so that one answered after a later one does
 * not overwrite the later one's text. */
unsigned syntax_requests = 0;

/* The syntax text of attribute name: "<name: description> ...", the
 * expansion and the values accepted; empty when the server has no syntax or
 * no expansion.  Waits. */
std::string syntax_text(const char* name)
{
    Syntax syntax(DataUnit(name), Platform::def_platform);
    DataUnit first = syntax.get(0);
    if (first.is_empty()) return std::string();
    DataUnit expansion = syntax.expansion().get(0);
    if (expansion.is_empty()) return std::string();
    std::string text = std::string(first.str()) + " ...\n" + expansion.str();
    DataUnit rule = syntax.get(1);
    if (!rule.is_empty()) text += std::string("\n") + qx_msg(611, "Values: ") + rule.str();
    return text;
}

/* An edit of the form not yet set: display name and text. */
using Edit = std::pair<std::string, std::string>;

std::vector<Edit> pending_edits()
{
    std::vector<Edit> out;
    for (const auto& rec : Attribute::attr_list.items())
        out.emplace_back(rec->get_name().str(), rec->get_value().str());
    return out;
}

std::string edit_names(const std::vector<Edit>& edits)
{
    std::string out;
    for (const auto& e : edits) out += (out.empty() ? "" : ", ") + e.first;
    return out;
}

/* The message line while the form holds edits not yet set. */
void say_not_yet_set(ConfigWin& win)
{
    std::string text = qx_msg(614, "Not yet set: ") + edit_names(pending_edits());
    global.update_label(win.oc_message_label, text.c_str());
}

/* Edits are pending and fdn, another object, is to be loaded: asks whether
 * to drop them.  On Cancel the window shows them, and listens to the
 * changes of its object again when Close had stopped that.  Waits. */
bool may_drop_edits(ConfigWin& win, const std::string& fdn, Widget parent)
{
    std::string names = edit_names(pending_edits());
    std::vector<char> text(200 + names.size() + fdn.size());
    snprintf(text.data(), text.size(),
             qx_msg(613, "Edits not yet set will be lost: %s.\nLoad %s?"), names.c_str(),
             fdn.c_str());
    if (question_dialog(parent, bounded_label(text.data()).c_str(), ok_cancel_ques_cb,
                        ok_cancel_ques_cb) == XmCR_OK)
        return true;
    if (!XtIsManaged(win.oc_dialog)) {
        if (win.create_mode == 0)
            global.when(ATTR_CHANGED,
                        Callback(SchedContext::current(), ConfigWin::attr_changed_cb, nullptr));
        XtManageChild(win.oc_dialog);
    }
    if (Attribute::attr_list.entries() > 0) say_not_yet_set(win);
    return false;
}

/* Puts edits back into the new form of the same object, as typed, so that
 * each is recorded and marked as an edit again; one whose field has gone
 * is kept as a record. */
void restore_edits(ConfigWin& win, const std::vector<Edit>& edits)
{
    for (const Edit& e : edits) {
        if (Widget f = win.field_named(e.first.c_str()))
            XmTextSetString(f, const_cast<char*>(e.second.c_str()));
        else
            Attribute::record(DataUnit(e.first.c_str()), DataUnit(e.second.c_str()));
    }
}

} // namespace

bool ConfigWin::may_drop_pending_edits(const std::string& what, Widget parent)
{
    return Attribute::attr_list.entries() == 0 || may_drop_edits(*this, what, parent);
}

void ConfigWin::get_object(DataObject* obj, Widget w)
{
    /* In addition to the load itself: edits not yet set are not dropped
     * without a word.  The same object shown again gets them back in its
     * new form, marked as edits; another object is loaded only when the user
     * agrees to drop them. */
    std::vector<Edit> kept;
    if (obj && Attribute::attr_list.entries() > 0) {
        const std::string name = obj->name ? obj->name : "";
        if (create_mode == 0 && global.get_objname() == name.c_str()) {
            kept = pending_edits();
        } else {
            Widget parent = XtIsManaged(oc_dialog) ? oc_dialog : w ? XtParent(w) : oc_dialog;
            if (!may_drop_edits(*this, name, parent)) return; /* waits */
            obj = find_album_object(name.c_str()); /* it may have gone meanwhile */
            if (!obj) return;
        }
    }
    bool restored = false;
    create_mode = 0;
    if (obj) {
        /* Read before the wait: a rebuild of the tree during it may delete
         * obj, and a node may go with its object. */
        std::string name = obj->name ? obj->name : "";
        std::string parent = obj->parent_name ? obj->parent_name : "";
        Widget dialog_parent = w ? XtParent(w) : XtParent(oc_dialog);
        const unsigned load = ++image_loads;
        DUArray names = obj->get_attributes();
        obj = nullptr;
        if (load != image_loads) {
            /* Another load or form replaced the image during the wait and
             * shows its own object, message line included: this one is
             * void.  Counted, not compared by name: the server writes the
             * name in its canonical form, which need not be the text the
             * object was registered under (a root typed loosely). */
            return;
        }
        if (names.count() > 0) {
            learn_choices(names); /* waits */
            if (load != image_loads) return;
        }
        if (names.count() == 0) {
            error_dialog(dialog_parent, qx_msg(610, "Error retrieving attributes for object"));
        } else {
            attr_names.take(names);
            DataUnit cls = global.get_objclass();
            create_attr_widgets_cb(attr_names, const_cast<char*>(parent.c_str()),
                                   const_cast<char*>(cls.str()));
            XmString label = XmStringCreateLocalized(const_cast<char*>(qx_msg(609, "Set")));
            XtVaSetValues(oc_set_button, XmNlabelString, label, NULL);
            XmStringFree(label);
            XtSetSensitive(oc_set_button, False);
            restore_edits(*this, kept);
            restored = !kept.empty();
            XtManageChild(oc_dialog);
            if (XtIsRealized(XtParent(oc_dialog)))
                XRaiseWindow(XtDisplay(oc_dialog), XtWindow(XtParent(oc_dialog)));
        }
    }
    global.update_label(oc_message_label, "");
    if (restored) say_not_yet_set(*this);
}

Widget ConfigWin::field_named(const char* name) const
{
    if (!oc_attribute_caption || !name) return nullptr;
    WidgetList kids = nullptr;
    Cardinal n = 0;
    XtVaGetValues(oc_attribute_caption, XmNchildren, &kids, XmNnumChildren, &n, NULL);
    for (Cardinal i = 0; i < n; i++) {
        if (XmIsText(kids[i]) && strcmp(XtName(kids[i]), name) == 0) return kids[i];
        if (XmIsForm(kids[i])) /* a field with its drop-down */
            if (Widget f = XtNameToWidget(kids[i], name))
                if (XmIsText(f)) return f;
    }
    return nullptr;
}

void ConfigWin::create_attr_widgets_cb(DUArray& names, char* parent_text, char* class_text)
{
    build_config_win_cb();
    XtVaSetValues(PARENTFDN, XmNeditable, create_mode == 1, NULL);
    XtVaSetValues(OBJCLASS, XmNeditable, create_mode == 1, NULL);
    if (parent_text) XtVaSetValues(PARENTFDN, XmNvalue, parent_text, NULL);
    if (class_text) XtVaSetValues(OBJCLASS, XmNvalue, class_text, NULL);

    /* In edit mode a read-only attribute's field is read-only and looks it:
     * flat, without the sunken frame of a field that takes input, on the
     * window's own background. */
    std::set<std::string> writable;
    if (create_mode != 1) {
        DUArray rw = global.get_attr_names(1);
        for (int i = 0; i < rw.count(); i++) writable.insert(rw[i].str());
    }
    Pixel window_background = text_background;
    XtVaGetValues(oc_dialog, XmNbackground, &window_background, NULL);

    for (int i = 0; i < names.count(); i++) {
        const char* full = names[i].str();
        const char* shown = display_name(full);
        DataUnit value = global.get_str(names[i], std_form);
        Widget label =
            XtVaCreateManagedWidget("label", xmLabelWidgetClass, oc_attribute_caption, NULL);
        global.update_label(label, shown);
        int columns = value.length() > (size_t)FIELD_COLUMNS ? (int)value.length() : FIELD_COLUMNS;
        const bool editable = create_mode == 1 || writable.count(full);
        /* Besides the text field itself, an attribute that takes one of a
         * few values gets a drop-down of them: the field and its arrow sit
         * in a form of their own as the row's control. */
        const std::vector<std::string>* values = editable ? choices_of(shown) : nullptr;
        Widget box = values ? XtVaCreateWidget((std::string(shown) + "_choices").c_str(),
                                               xmFormWidgetClass, oc_attribute_caption,
                                               PsNstretchHorizontal, True, NULL)
                            : nullptr;
        Widget field = XtVaCreateManagedWidget(shown, xmTextWidgetClass,
                                               box ? box : oc_attribute_caption, XmNcolumns,
                                               columns, XmNvalue, value.str(), XmNeditMode,
                                               XmSINGLE_LINE_EDIT, NULL);
        if (box) {
            add_drop_down(box, field, *values);
            XtManageChild(box);
        } else {
            XtVaSetValues(field, PsNstretchHorizontal, True, NULL);
        }
        if (!editable)
            XtVaSetValues(field, XmNeditable, False, XmNcursorPositionVisible, False,
                          XmNshadowThickness, 0, XmNbackground, window_background, NULL);
        char* client = XtNewString(shown);
        XtAddCallback(field, XmNdestroyCallback, free_name_cb, client);
        XtAddCallback(field, XmNfocusCallback, show_attr_syntax, client);
        XtAddCallback(field, XmNvalueChangedCallback, activate_set_button, client);
        XtAddCallback(field, XmNactivateCallback, activate_set_button, client);
        XtAddCallback(field, XmNvalueChangedCallback, expand_text_field_cb, client);
        XtAddCallback(field, XmNfocusCallback, check_text_field_cb, client);
    }
    /* The values shown are those the next Set expects the server to hold
     * still: a change made meanwhile by another client refuses it. */
    if (create_mode != 1) global.mark_read();
    XtManageChild(oc_attribute_caption);
    /* The fields asked for their own widths while they were added; the form
     * goes back to the view's width so that nothing sticks out sideways. */
    fit_form_to_view();

    DataUnit objname = global.get_objname();
    XmString item = XmStringCreateLocalized(const_cast<char*>(objname.str()));
    XmListAddItem(oc_loaded_object_list, item, 0);
    XmStringFree(item);
}

void ConfigWin::build_config_win_cb()
{
    Attribute::attr_list.clear_and_destroy();
    XmListDeleteAllItems(oc_loaded_object_list);
    create_caption_cb();
    XmTextSetString(oc_attribute_format_list, const_cast<char*>(""));
    char text[200];
    snprintf(text, sizeof text, qx_msg(607, "Objects Loaded (%d)"),
             (int)DataObject::selected_list.entries());
    global.update_label(oc_loaded_objects_label, text);
}

/* The form changed size (a field asked for more width as it was added or
 * as its text grew): it goes back to the view's width. */
static void form_resized_cb(Widget, XtPointer client, XEvent* event, Boolean*)
{
    if (event->type == ConfigureNotify) ((ConfigWin*)client)->fit_form_to_view();
}

void ConfigWin::create_caption_cb()
{
    if (oc_attribute_caption) XtDestroyWidget(oc_attribute_caption);
    oc_attribute_caption = XtVaCreateWidget("oc_attribute_caption", psCaptionWidgetClass,
                                            oc_attribute_scrolled_window, NULL);
    XtVaSetValues(oc_attribute_scrolled_window, XmNworkWindow, oc_attribute_caption, NULL);
    XtAddEventHandler(oc_attribute_caption, StructureNotifyMask, False, form_resized_cb, this);
    fit_form_to_view();
}

void ConfigWin::update_image_cb(Widget, XtPointer)
{
    /* After a Set refused because another client changed an attribute, the
     * image still holds the refused edits: the object is read again, so
     * that the form shows the server's values.  Waits. */
    DataUnit attr, value;
    if (create_mode != 1 && global.changed_on_server(attr, value)) {
        const unsigned load = image_loads;
        Image target = global;
        bool booted = target.boot(DeriveTimeout);
        if (load != image_loads || global.impl_ != target.impl_) return; /* replaced meanwhile */
        if (!booted) {
            global.update_label(oc_message_label,
                                (std::string(qx_msg(612, "Object not set: ")) +
                                 target.get_error_string())
                                    .c_str());
            target.reset_error();
            return;
        }
    }
    create_attr_widgets_cb(attr_names, nullptr, nullptr);
    global.update_label(oc_message_label, "");
    XtSetSensitive(oc_update_button, False);
}

void ConfigWin::close_window_cb(Widget, XtPointer)
{
    global.when(ATTR_CHANGED, Callback());
    XtSetSensitive(oc_update_button, False);
}

void ConfigWin::attr_changed_cb(void*, void* event)
{
    CurrentEvent ev(event);
    DataUnit name = ev.get_name();
    if (object_configuration) object_configuration->attribute_changed(name.str());
}

void show_attr_syntax(Widget, XtPointer client, XtPointer)
{
    if (!client || !object_configuration) return;
    std::string name = (const char*)client; /* the field may go during the wait */
    unsigned request = ++syntax_requests;
    std::string text = syntax_text(name.c_str());
    if (text.empty() || request != syntax_requests) return;
    XmTextSetString(object_configuration->oc_attribute_format_list,
                    const_cast<char*>(text.c_str()));
}

void show_syntax_values(const char* name)
{
    if (!name || !object_configuration) return;
    std::string attribute = name;
    unsigned request = ++syntax_requests;
    std::string text = syntax_text(attribute.c_str());
    if (text.empty() || request != syntax_requests) return;
    Widget area = object_configuration->oc_attribute_format_list;
    XmTextSetString(area, const_cast<char*>(text.c_str()));
    XmTextShowPosition(area, XmTextGetLastPosition(area));
}

void ConfigWin::display_syntax(Widget, char* name)
{
    printf("%s%s\n", qx_msg(608, "attribute name "), name ? name : "");
    fflush(stdout);
    if (!name) return;
    std::string attribute = name;
    unsigned request = ++syntax_requests;
    std::string text = syntax_text(attribute.c_str());
    if (text.empty() || request != syntax_requests) return;
    const size_t SYNTAX_BUFFER = 500;
    if (text.size() > SYNTAX_BUFFER - 1) text.resize(SYNTAX_BUFFER - 1);
    XmTextSetString(oc_attribute_format_list, const_cast<char*>(text.c_str()));
}

/* Turns field into a wrapped field of LONG_ROWS, FIELD_COLUMNS wide, when
 * its text has grown long, and fits the form to the view again: made with
 * as many columns as its first value had, a wrapped field would otherwise
 * ask for that width and push past the view.  True when it was turned. */
static bool widen_long_field(Widget field)
{
    int mode = XmSINGLE_LINE_EDIT; /* an int resource, not an unsigned char one */
    XtVaGetValues(field, XmNeditMode, &mode, NULL);
    if (mode == XmMULTI_LINE_EDIT) return false;
    XtText text(XmTextGetString(field));
    if (!text || strlen(text.get()) <= LONG_TEXT) return false;
    XtVaSetValues(field, XmNeditMode, XmMULTI_LINE_EDIT, XmNwordWrap, True, XmNrows, LONG_ROWS,
                  XmNcolumns, FIELD_COLUMNS, NULL);
    /* A wrapped field asks for the width of its whole text; the form grants
     * a child what it asks and keeps it as its preferred width.  Asking for
     * a narrow one puts it back: the field is stretched to its column. */
    XtVaSetValues(field, XmNwidth, 1, NULL);
    if (object_configuration) object_configuration->fit_form_to_view();
    return true;
}

void ConfigWin::expand_text_field_cb(Widget field, XtPointer, XtPointer)
{
    widen_long_field(field);
}

void ConfigWin::check_text_field_cb(Widget field, XtPointer, XtPointer)
{
    widen_long_field(field);
}
