/* action_win.cpp - the action dialog: action name and parameter. */
#include "ui/action_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void ActionWin::execute_action_tramp(Widget w, XtPointer client, XtPointer)
{
    ((ActionWin*)client)->execute_action(w, client);
}

namespace {

/* Actions whose parameter is a password. */
bool secret_action(const char* action)
{
    return action && std::strcmp(action, "setPassword") == 0;
}

void wipe(std::vector<std::string>& chars)
{
    for (std::string& c : chars)
        if (!c.empty()) explicit_bzero(&c[0], c.size());
    chars.clear();
}

} // namespace

void ActionWin::action_changed_cb(Widget, XtPointer client, XtPointer)
{
    ((ActionWin*)client)->action_changed();
}

void ActionWin::action_changed()
{
    char* text = XmTextFieldGetString(aw_action);
    bool now = secret_action(text);
    XtFree(text);
    if (now == secret) return;
    secret = false;
    XmTextFieldSetString(aw_parameter, (char*)"");
    wipe(secret_chars);
    secret = now;
}

/* Modify-verify of the parameter field while it is secret: the characters
 * typed or pasted go into secret_chars, and the field gets '*' for each. */
void ActionWin::mask_cb(Widget, XtPointer client, XtPointer call)
{
    ActionWin* self = (ActionWin*)client;
    XmTextVerifyCallbackStruct* cbs = (XmTextVerifyCallbackStruct*)call;
    if (!self->secret || !cbs) return;
    size_t size = self->secret_chars.size();
    size_t start = std::min<size_t>(cbs->startPos < 0 ? 0 : cbs->startPos, size);
    size_t end = std::min<size_t>(cbs->endPos < 0 ? 0 : cbs->endPos, size);
    if (end < start) end = start;
    for (size_t i = start; i < end; i++) explicit_bzero(&self->secret_chars[i][0], self->secret_chars[i].size());
    self->secret_chars.erase(self->secret_chars.begin() + start, self->secret_chars.begin() + end);
    if (!cbs->text || !cbs->text->ptr || cbs->text->length <= 0) return;
    std::vector<std::string> typed;
    char* p = cbs->text->ptr;
    int left = cbs->text->length;
    mblen(nullptr, 0);
    while (left > 0) {
        int n = mblen(p, left);
        if (n <= 0) n = 1;
        typed.emplace_back(p, n);
        p += n;
        left -= n;
    }
    self->secret_chars.insert(self->secret_chars.begin() + start, typed.begin(), typed.end());
    explicit_bzero(cbs->text->ptr, cbs->text->length);
    std::memset(cbs->text->ptr, '*', typed.size());
    cbs->text->length = (int)typed.size();
}

std::string ActionWin::parameter_text() const
{
    if (secret) {
        std::string out;
        for (const std::string& c : secret_chars) out += c;
        return out;
    }
    char* text = XmTextFieldGetString(aw_parameter);
    std::string out = text ? text : "";
    XtFree(text);
    return out;
}

void ActionWin::forget_parameter()
{
    bool was = secret;
    secret = false;
    XmTextFieldSetString(aw_parameter, (char*)"");
    wipe(secret_chars);
    secret = was;
}

void ActionWin::create(Widget parent, const char* name)
{
    aw_dialog = make_dialog(parent, name, "aw_dialog", 517, "Tarnwick: Action ", &_xd_rootwidget);
    xd_link_records[XD_LINK_ACTION_WINDOW] = aw_dialog;

    aw_frame = XtVaCreateManagedWidget("aw_frame", xmFormWidgetClass, aw_dialog, NULL);
    aw_action_label = labelled(xmLabelWidgetClass, aw_frame, "aw_action_label", 518, "Action");
    aw_action =
        XtVaCreateManagedWidget("aw_action", xmTextFieldWidgetClass, aw_frame, XmNcolumns, 40,
                                XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10,
                                XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);
    aw_parameter_label =
        labelled(xmLabelWidgetClass, aw_frame, "aw_parameter_label", 519, "Parameter");
    aw_parameter =
        XtVaCreateManagedWidget("aw_parameter", xmTextFieldWidgetClass, aw_frame, XmNcolumns, 40,
                                XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, aw_action,
                                XmNtopOffset, 8, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset,
                                10, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10, NULL);
    XtAddCallback(aw_parameter, XmNmodifyVerifyCallback, mask_cb, this);
    XtAddCallback(aw_action, XmNvalueChangedCallback, action_changed_cb, this);
    Widget labels[] = {aw_action_label, aw_parameter_label};
    Widget fields[] = {aw_action, aw_parameter};
    align_fields(labels, fields, 2, 10);

    aw_ok_button = labelled(xmPushButtonWidgetClass, aw_dialog, "aw_ok_button", 520, "OK");
    XtAddCallback(aw_ok_button, XmNactivateCallback, execute_action_tramp, this);
    aw_cancel_button =
        labelled(xmPushButtonWidgetClass, aw_dialog, "aw_cancel_button", 521, "Cancel");
    XtAddCallback(aw_cancel_button, XmNactivateCallback, XDunmanage_link,
                  xd_link(XD_LINK_ACTION_WINDOW));
    aw_help_button = labelled(xmPushButtonWidgetClass, aw_dialog, "aw_help_button", 522, "Help");
    XtAddCallback(aw_help_button, XmNactivateCallback, aw_help_cb, nullptr);

    XtVaSetValues(aw_dialog, XmNdefaultButton, aw_ok_button, NULL);
    close_like(_xd_rootwidget, aw_cancel_button);
}
