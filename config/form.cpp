/*
 * form.cpp - the configuration window in edit mode: loading an object, its
 * attribute form, the syntax of the field in focus, Update and Close, and
 * the server's reports of changed attributes.
 */
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/Text.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "PsCaption.h"
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

} // namespace

void ConfigWin::get_object(DataObject* obj, Widget w)
{
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
            XtManageChild(oc_dialog);
            if (XtIsRealized(XtParent(oc_dialog)))
                XRaiseWindow(XtDisplay(oc_dialog), XtWindow(XtParent(oc_dialog)));
        }
    }
    global.update_label(oc_message_label, "");
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
        Widget field = XtVaCreateManagedWidget(shown, xmTextWidgetClass, oc_attribute_caption,
                                               XmNcolumns, columns, XmNvalue, value.str(),
                                               XmNeditMode, XmSINGLE_LINE_EDIT, NULL);
        if (create_mode != 1 && !writable.count(full))
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
    XtManageChild(oc_attribute_caption);

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

void ConfigWin::create_caption_cb()
{
    if (oc_attribute_caption) XtDestroyWidget(oc_attribute_caption);
    oc_attribute_caption = XtVaCreateWidget("oc_attribute_caption", psCaptionWidgetClass,
                                            oc_attribute_scrolled_window, NULL);
    XtVaSetValues(oc_attribute_scrolled_window, XmNworkWindow, oc_attribute_caption, NULL);
}

void ConfigWin::update_image_cb(Widget, XtPointer)
{
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

/* Turns field into a wrapped field of LONG_ROWS when its text is long. */
static bool widen_long_field(Widget field)
{
    XtText text(XmTextGetString(field));
    if (!text || strlen(text.get()) <= LONG_TEXT) return false;
    XtVaSetValues(field, XmNeditMode, XmMULTI_LINE_EDIT, XmNwordWrap, True, XmNrows, LONG_ROWS,
                  NULL);
    return true;
}

void ConfigWin::expand_text_field_cb(Widget field, XtPointer, XtPointer)
{
    widen_long_field(field);
}

void ConfigWin::check_text_field_cb(Widget field, XtPointer, XtPointer)
{
    if (widen_long_field(field)) XtVaSetValues(field, XmNcolumns, FIELD_COLUMNS, NULL);
}
