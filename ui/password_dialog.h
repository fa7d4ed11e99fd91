/*
 * password_dialog.h - the password dialog: the password of a directory's
 * bind DN or of a qx_mis user, asked while the connection waits.  PUBLIC
 * HEADER.
 *
 * It names the user (or bind DN) and the server, shows the server's refusal
 * of the previous try and which try this is, and has OK, Cancel and Help;
 * Return is OK, Escape and the window manager's close are Cancel.
 *
 * The typed text never reaches the widget: the field's modifyVerify callback
 * takes each change into the dialog's own fixed buffer and lets one '*' per
 * character into the field.  The buffer is wiped (explicit_bzero) when its
 * text is handed over, on Cancel, before each try and when the dialog goes.
 *
 * EVENT-LOOP RULE: ask() blocks its caller in a nested loop of
 * XtAppProcessEvent(XtIMAll) until OK or Cancel answers; timers, KVL
 * callbacks and redraws run meanwhile, and the dialog is full application
 * modal, so the user's input goes to it alone.
 */
#ifndef UI_PASSWORD_DIALOG_H
#define UI_PASSWORD_DIALOG_H

#include <Xm/Xm.h>
#include <cstddef>

#include "kvl/kvl.h"

class PasswordDialog : public KvlPasswordSource {
public:
    /* The dialog's widgets are made under parent at the first ask(). */
    explicit PasswordDialog(Widget parent);
    ~PasswordDialog() override;
    PasswordDialog(const PasswordDialog&) = delete;
    PasswordDialog& operator=(const PasswordDialog&) = delete;

    /* Shows the dialog for request and waits for the answer: true with the
     * typed text in password after OK, false after Cancel (and while
     * another ask() of this dialog is waiting). */
    bool ask(const KvlPasswordRequest& request, KvlSecret& password) override;

    /* Characters typed so far (the field shows as many '*'). */
    size_t typed_length() const { return n_chars_; }

    /* The widgets, once made; tests read and press them. */
    Widget pw_shell = nullptr;
    Widget pw_dialog = nullptr;        /* the message box */
    Widget pw_prompt_label = nullptr;  /* the user or bind DN and the server */
    Widget pw_refusal_label = nullptr; /* the previous try's refusal */
    Widget pw_attempt_label = nullptr; /* "Attempt N of M" */
    Widget pw_text = nullptr;          /* the field, which holds only '*' */
    Widget pw_ok_button = nullptr;
    Widget pw_cancel_button = nullptr;
    Widget pw_help_button = nullptr;

private:
    /* The longest password taken, in bytes; what would pass it is refused. */
    static const size_t MAX_BYTES = 1024;

    void create();
    void wipe();
    /* The byte offset of character position pos of the typed text. */
    size_t byte_offset(size_t pos) const;
    static void modify_cb(Widget w, XtPointer client, XtPointer call);
    static void ok_cb(Widget w, XtPointer client, XtPointer call);
    static void cancel_cb(Widget w, XtPointer client, XtPointer call);

    Widget parent_;
    char typed_[MAX_BYTES];                /* the typed text's bytes */
    unsigned char char_bytes_[MAX_BYTES];  /* the byte length of each typed character */
    size_t n_bytes_ = 0;
    size_t n_chars_ = 0;
    int answer_ = 0; /* 0 while waiting, then OK_BUTTON or CANCEL_BUTTON */
    bool waiting_ = false;
};

#endif /* UI_PASSWORD_DIALOG_H */
