/*
 * dialogs.h - the standard message dialogs.  PUBLIC HEADER.
 *
 * AppsDialogBox wraps a Motif message box; its four subclasses build the
 * error, question, warning and information kinds.  The program-level
 * functions below are what the rest of the editor calls.
 *
 * EVENT-LOOP RULE: error_dialog(w, message) and question_dialog() block their
 * caller in a nested loop of XtAppProcessEvent(XtIMAll) until a button (or
 * the window manager's close, which counts as OK for the error box and as
 * Cancel for the question box) answers.  Timers, KVL callbacks and redraws
 * run during that loop; the modal style only holds off the user's input to
 * other windows.  Code that runs from that nested dispatch must not assume
 * that the caller of the dialog has finished.  Each blocking call keeps its
 * own answer, so a dialog opened from nested dispatch cannot take another's.
 * The other functions return at once, leaving the dialog up.
 */
#ifndef UI_DIALOGS_H
#define UI_DIALOGS_H

#include <X11/Intrinsic.h>

/* Button indices of the button operations; any other index does nothing. */
extern const int OK_BUTTON;     /* 1 */
extern const int CANCEL_BUTTON; /* 2 */
extern const int HELP_BUTTON;   /* 3 */

class AppsDialogBox {
public:
    AppsDialogBox();
    /* Unmanages and destroys the dialog (its shell goes with it). */
    virtual ~AppsDialogBox();

    /* Newlines start new lines; a line that would make the dialog wider than
     * about two thirds of the screen is broken at blanks, "," and "/". */
    virtual void setmessage(const char* text);
    virtual void manage();                     /* pops the dialog up */
    virtual void unmanage();                   /* pops it down */
    virtual void manage_button(int index);
    virtual void unmanage_button(int index);
    virtual void label_button(int index, const char* text); /* one line */
    virtual void add_callback(int index, XtCallbackProc proc, XtPointer client_data);
    virtual void change_title(const char* text); /* title of the dialog shell */

    /* Address of the message-box widget field. */
    Widget* getwidget() { return &widget; }

protected:
    typedef Widget (*Creator)(Widget, String, ArgList, Cardinal);
    /* The common steps of the subclass constructors: create the dialog under
     * name, make it full application modal when asked, title its shell from
     * set 6, remove the buttons named (0 ends the list), make the window
     * manager's close press close_button, and set the message. */
    void build(Creator create, Widget parent, const char* name, bool modal, int title_num,
               const char* title_default, int close_button, int remove1, int remove2,
               const char* message);

    Widget widget; /* the message box; its parent is the dialog shell */
};

/* Full application modal, titled "Error", OK only. */
class ErrDialogBox final : public AppsDialogBox {
public:
    ErrDialogBox(Widget parent, const char* message);
    ~ErrDialogBox() override = default;
};

/* Full application modal, titled "Question", buttons "Yes" and "No". */
class QuestionDialogBox final : public AppsDialogBox {
public:
    QuestionDialogBox(Widget parent, const char* message);
    ~QuestionDialogBox() override = default;
};

/* Full application modal, titled "Warning", OK and Cancel. */
class WarningDialogBox final : public AppsDialogBox {
public:
    WarningDialogBox(Widget parent, const char* message);
    ~WarningDialogBox() override = default;
};

/* Titled "FYI", OK only; the caller chooses its dialog style. */
class InformationDialogBox final : public AppsDialogBox {
public:
    InformationDialogBox(Widget parent, const char* message);
    ~InformationDialogBox() override = default;
};

/* Blocking error box on XtParent(w) (on w itself when w is a shell), at
 * 500,500, raised; returns after OK. */
void error_dialog(Widget w, const char* message);
/* Error box on w titled "Tarnwick: Error" with the caller's callbacks;
 * returns at once.  The start-up error dialog of the connection. */
void error_dialog(Widget w, const char* message, XtCallbackProc ok_cb, XtCallbackProc cancel_cb);
/* Warning box on w with the caller's callbacks (ok_cancel_warn_cb closes it);
 * returns at once. */
void warning_dialog(Widget w, const char* message, XtCallbackProc ok_cb, XtCallbackProc cancel_cb);
/* Full application modal information box on w; returns at once, OK closes it. */
void information_dialog(Widget w, const char* message);
/* Blocking question box on w showing "Ok" and "Cancel"; returns the reason of
 * the pressed button (XmCR_OK 31, XmCR_CANCEL 32).  Callers pass
 * ok_cancel_ques_cb for both buttons; a callback of their own must store the
 * reason into the int its client data points to. */
int question_dialog(Widget w, const char* message, XtCallbackProc ok_cb, XtCallbackProc cancel_cb);

/* Button callbacks.  Each closes and deletes the dialog whose button was
 * pressed. */
void error_dialog_cb(Widget w, XtPointer client_data, XtPointer call_data);
void ok_cancel_warn_cb(Widget w, XtPointer client_data, XtPointer call_data);
void ok_info_cb(Widget w, XtPointer client_data, XtPointer call_data);
void ok_cancel_ques_cb(Widget w, XtPointer client_data, XtPointer call_data);

/* The dialog each function made last, while it is up (null otherwise). */
extern ErrDialogBox* current_error_dialog;    /* blocking error box */
extern ErrDialogBox* current_error_cb_dialog; /* error box with caller callbacks */
extern WarningDialogBox* current_warning_dialog;
extern InformationDialogBox* current_information_dialog;
extern QuestionDialogBox* current_question_dialog;

#endif /* UI_DIALOGS_H */
