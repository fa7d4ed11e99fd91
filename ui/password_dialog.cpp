/* password_dialog.cpp - the password dialog, whose field never holds the password. */
#include "ui/password_dialog.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/Text.h>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/catalog.h"
#include "ui/dialogs.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"

/* A catalogue format filled in; texts longer than the buffer are cut. */
[[gnu::format(printf, 1, 2)]] static std::string formatted(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

PasswordDialog::PasswordDialog(Widget parent) : parent_(parent)
{
    wipe();
}

PasswordDialog::~PasswordDialog()
{
    wipe();
    if (pw_shell) XtDestroyWidget(pw_shell);
}

void PasswordDialog::wipe()
{
    explicit_bzero(typed_, sizeof typed_);
    explicit_bzero(char_bytes_, sizeof char_bytes_);
    n_bytes_ = 0;
    n_chars_ = 0;
}

size_t PasswordDialog::byte_offset(size_t pos) const
{
    size_t off = 0;
    for (size_t i = 0; i < pos && i < n_chars_; i++) off += char_bytes_[i];
    return off;
}

void PasswordDialog::create()
{
    pw_dialog = make_dialog(parent_, "password_dialog", "pw_dialog", 880, "Tarnwick: Password",
                            &pw_shell);
    XtVaSetValues(pw_dialog, XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL, NULL);
    Widget form = XtVaCreateManagedWidget("pw_form", xmFormWidgetClass, pw_dialog, NULL);
    pw_prompt_label = XtVaCreateManagedWidget(
        "pw_prompt_label", xmLabelWidgetClass, form, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10, XmNleftAttachment, XmATTACH_FORM,
        XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);
    pw_refusal_label = XtVaCreateManagedWidget(
        "pw_refusal_label", xmLabelWidgetClass, form, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, pw_prompt_label, XmNtopOffset, 8,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM,
        XmNrightOffset, 10, NULL);
    pw_attempt_label = XtVaCreateManagedWidget(
        "pw_attempt_label", xmLabelWidgetClass, form, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, pw_refusal_label, XmNtopOffset, 4,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, NULL);
    /* Nothing typed is kept by the field: no undo, no selection of the
     * stars worth copying, no cut buffer of the text. */
    pw_text = XtVaCreateManagedWidget(
        "pw_text", xmTextWidgetClass, form, XmNwidth, 260, XmNeditMode, XmSINGLE_LINE_EDIT,
        XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, pw_attempt_label, XmNtopOffset, 8,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, XmNbottomAttachment,
        XmATTACH_FORM, XmNbottomOffset, 10, NULL);
    Widget field_label = XtVaCreateManagedWidget(
        "pw_field_label", xmLabelWidgetClass, form, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET,
        XmNtopWidget, pw_text, XmNtopOffset, 6, NULL);
    set_label(field_label, 884, "Password:");
    align_fields(&field_label, &pw_text, 1, 10);
    XtAddCallback(pw_text, XmNmodifyVerifyCallback, modify_cb, this);
    XtAddCallback(pw_text, XmNactivateCallback, ok_cb, this);

    pw_ok_button = push_button(pw_dialog, "pw_ok_button", 885, "OK", ok_cb, this);
    pw_cancel_button = push_button(pw_dialog, "pw_cancel_button", 886, "Cancel", cancel_cb, this);
    pw_help_button = push_button(pw_dialog, "pw_help_button", 887, "Help", pw_help_cb, nullptr);
    XtAddCallback(pw_dialog, XmNhelpCallback, pw_help_cb, nullptr);
    XtVaSetValues(pw_dialog, XmNdefaultButton, pw_ok_button, XmNcancelButton, pw_cancel_button,
                  XmNinitialFocus, form, NULL);
    XtVaSetValues(form, XmNinitialFocus, pw_text, NULL);
    close_like(pw_shell, pw_cancel_button);
}

/* Every change of the field: the typed characters go into the buffer, the
 * field gets one '*' for each. */
void PasswordDialog::modify_cb(Widget, XtPointer client, XtPointer call)
{
    PasswordDialog* d = static_cast<PasswordDialog*>(client);
    XmTextVerifyCallbackStruct* cbs = static_cast<XmTextVerifyCallbackStruct*>(call);
    if (!cbs->text) return;
    size_t start = cbs->startPos < 0 ? 0 : (size_t)cbs->startPos;
    size_t end = cbs->endPos < 0 ? 0 : (size_t)cbs->endPos;
    if (end > d->n_chars_) end = d->n_chars_;
    if (start > end) start = end;
    char* in = cbs->text->ptr;
    size_t in_len = in && cbs->text->length > 0 ? (size_t)cbs->text->length : 0;

    /* The inserted text, character by character (a byte that is no
     * character of the locale counts as one). */
    unsigned char lens[MAX_BYTES];
    size_t n_in = 0;
    mblen(nullptr, 0);
    for (size_t off = 0; off < in_len && n_in < MAX_BYTES;) {
        int l = mblen(in + off, in_len - off);
        if (l <= 0 || l > UCHAR_MAX) l = 1;
        if (off + (size_t)l > in_len) l = (int)(in_len - off);
        lens[n_in++] = (unsigned char)l;
        off += (size_t)l;
    }
    size_t from = d->byte_offset(start), to = d->byte_offset(end);
    size_t new_bytes = d->n_bytes_ - (to - from) + in_len;
    if (new_bytes > MAX_BYTES || d->n_chars_ - (end - start) + n_in > MAX_BYTES) {
        cbs->doit = False;
        if (in) explicit_bzero(in, in_len);
        explicit_bzero(lens, sizeof lens);
        return;
    }
    memmove(d->typed_ + from + in_len, d->typed_ + to, d->n_bytes_ - to);
    if (in_len) memcpy(d->typed_ + from, in, in_len);
    if (new_bytes < d->n_bytes_) explicit_bzero(d->typed_ + new_bytes, d->n_bytes_ - new_bytes);
    memmove(d->char_bytes_ + start + n_in, d->char_bytes_ + end, d->n_chars_ - end);
    memcpy(d->char_bytes_ + start, lens, n_in);
    d->n_bytes_ = new_bytes;
    d->n_chars_ = d->n_chars_ - (end - start) + n_in;
    explicit_bzero(lens, sizeof lens);
    /* The field receives stars only, one per character. */
    if (in) {
        memset(in, '*', in_len);
        cbs->text->length = (int)n_in;
    }
}

void PasswordDialog::ok_cb(Widget, XtPointer client, XtPointer)
{
    static_cast<PasswordDialog*>(client)->answer_ = OK_BUTTON;
}

void PasswordDialog::cancel_cb(Widget, XtPointer client, XtPointer)
{
    static_cast<PasswordDialog*>(client)->answer_ = CANCEL_BUTTON;
}

bool PasswordDialog::ask(const KvlPasswordRequest& request, KvlSecret& password)
{
    if (waiting_) return false;
    if (!pw_dialog) create();
    const char* who = request.bind_dn ? request.bind_dn : "";
    const char* server = request.server ? request.server : "";
    set_label_text(pw_prompt_label,
                   formatted(qx_msg(881, "Password for %s\non %s"), who, server).c_str());
    const char* refusal = request.refusal ? request.refusal : "";
    set_label_text(
        pw_refusal_label,
        *refusal
            ? formatted(qx_msg(882, "The server refused the last password: %s"), refusal).c_str()
            : " ");
    char attempt[200];
    snprintf(attempt, sizeof attempt, qx_msg(883, "Attempt %d of %d"), request.attempt,
             request.attempts);
    set_label_text(pw_attempt_label, attempt);
    XmTextSetString(pw_text, const_cast<char*>(""));
    wipe();

    answer_ = 0;
    waiting_ = true;
    XtManageChild(pw_dialog);
    XmProcessTraversal(pw_text, XmTRAVERSE_CURRENT);
    XtAppContext app = XtWidgetToApplicationContext(pw_dialog);
    while (answer_ == 0) XtAppProcessEvent(app, XtIMAll);
    waiting_ = false;
    XtUnmanageChild(pw_dialog);

    const bool ok = answer_ == OK_BUTTON;
    if (ok)
        password.assign(typed_, n_bytes_);
    else
        password.clear();
    XmTextSetString(pw_text, const_cast<char*>(""));
    wipe();
    return ok;
}
