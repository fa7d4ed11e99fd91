/*
 * choices.cpp - the drop-down of allowed values beside the fields of
 * attributes whose syntax is an enumeration.  The field stays a text field
 * that takes any text; the arrow at its right pops a menu of the values, and
 * a value chosen goes into the field as though typed, so it is recorded and
 * marked as an edit like any other.
 */
#include "config/choices.h"

#include <Xm/ArrowB.h>
#include <Xm/Form.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Text.h>

#include <cstring>
#include <map>

namespace {

/* Allowed values by display name; an empty list for a syntax that is no
 * enumeration. */
std::map<std::string, std::vector<std::string>> learnt;

const char* display_name(const char* full)
{
    const char* colon = strrchr(full, ':');
    return colon ? colon + 1 : full;
}

/* A menu item: the value into the field (its client data). */
void choose_cb(Widget item, XtPointer field, XtPointer)
{
    XmTextSetString((Widget)field, XtName(item));
    XmTextSetInsertionPosition((Widget)field, XmTextGetLastPosition((Widget)field));
}

/* The arrow: the menu (client data) drops down under the field. */
void drop_down_cb(Widget arrow, XtPointer menu, XtPointer call)
{
    Widget field = nullptr;
    XtVaGetValues(arrow, XmNuserData, &field, NULL);
    if (!field || !XtIsRealized(field)) return;
    Dimension height = 0;
    XtVaGetValues(field, XmNheight, &height, NULL);
    Position x = 0, y = 0;
    XtTranslateCoords(field, 0, (Position)height, &x, &y);
    XButtonPressedEvent press = {};
    press.type = ButtonPress;
    press.display = XtDisplay(field);
    press.window = XtWindow(field);
    press.root = RootWindowOfScreen(XtScreen(field));
    press.x_root = x;
    press.y_root = y;
    XmAnyCallbackStruct* cbs = (XmAnyCallbackStruct*)call;
    if (cbs && cbs->event && cbs->event->type == ButtonRelease) press.time = cbs->event->xbutton.time;
    XmMenuPosition((Widget)menu, &press);
    XtManageChild((Widget)menu);
}

} // namespace

std::vector<std::string> enumeration_values(const char* rule)
{
    std::vector<std::string> values;
    if (!rule) return values;
    const std::string text = rule;
    const std::string bar = " | ";
    size_t start = 0;
    while (true) {
        size_t end = text.find(bar, start);
        std::string value = text.substr(start, end == std::string::npos ? end : end - start);
        if (value.empty() || value.find_first_of(" \t|") != std::string::npos) return {};
        values.push_back(value);
        if (end == std::string::npos) break;
        start = end + bar.size();
    }
    if (values.size() < 2) values.clear();
    return values;
}

void learn_choices(const DUArray& names)
{
    std::vector<std::string> asked;
    for (int i = 0; i < names.count(); i++) {
        std::string name = display_name(names.get(i).str());
        if (!learnt.count(name)) asked.push_back(name);
    }
    for (const std::string& name : asked) {
        Syntax syntax(DataUnit(name.c_str()), Platform::def_platform);
        if (syntax.get(0).is_empty()) continue; /* waits; asked again next time */
        learnt[name] = enumeration_values(syntax.get(1).str());
    }
}

const std::vector<std::string>* choices_of(const char* name)
{
    auto it = name ? learnt.find(name) : learnt.end();
    return it == learnt.end() || it->second.empty() ? nullptr : &it->second;
}

void add_drop_down(Widget box, Widget field, const std::vector<std::string>& values)
{
    Widget arrow = XtVaCreateManagedWidget(
        "drop_down", xmArrowButtonWidgetClass, box, XmNarrowDirection, XmARROW_DOWN, XmNuserData,
        field, XmNtraversalOn, False, XmNtopAttachment, XmATTACH_FORM, XmNbottomAttachment,
        XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, XmNwidth, 22, NULL);
    XtVaSetValues(field, XmNtopAttachment, XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM,
                  XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_WIDGET,
                  XmNrightWidget, arrow, NULL);
    Arg args[1];
    XtSetArg(args[0], XmNpopupEnabled, XmPOPUP_DISABLED);
    Widget menu = XmCreatePopupMenu(box, const_cast<char*>("choices"), args, 1);
    for (const std::string& value : values) {
        Widget item = XtVaCreateManagedWidget(value.c_str(), xmPushButtonWidgetClass, menu, NULL);
        XtAddCallback(item, XmNactivateCallback, choose_cb, field);
    }
    XtAddCallback(arrow, XmNactivateCallback, drop_down_cb, menu);
}
