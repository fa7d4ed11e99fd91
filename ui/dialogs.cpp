/*
 * dialogs.cpp - the standard message dialogs.
 *
 * Each dialog object is found from its message box through XmNuserData, so a
 * button callback always closes the dialog the button belongs to, however
 * many dialogs of one kind are up.  Blocking calls keep their answer in a
 * record of their own on the stack and hand its address to the callbacks.
 */
#include "ui/dialogs.h"

#include <Xm/Xm.h>
#include <Xm/MessageB.h>
#include <Xm/Protocols.h>
#include <Xm/AtomMgr.h>
#include <Xm/DialogS.h>
#include <cstdint>
#include <set>
#include <string>

#include "core/catalog.h"
#include "core/text_wrap.h"

const int OK_BUTTON = 1;
const int CANCEL_BUTTON = 2;
const int HELP_BUTTON = 3;

ErrDialogBox* current_error_dialog = nullptr;
ErrDialogBox* current_error_cb_dialog = nullptr;
WarningDialogBox* current_warning_dialog = nullptr;
InformationDialogBox* current_information_dialog = nullptr;
QuestionDialogBox* current_question_dialog = nullptr;

/* Every dialog object that exists, so a blocking call can tell whether the
 * callback that answered it has already deleted its dialog. */
static std::set<AppsDialogBox*>& live_dialogs()
{
    static std::set<AppsDialogBox*> live;
    return live;
}

/* The answer of one blocking call.  The answer word comes first: callbacks
 * get its address as client data and store the button's reason there. */
struct DialogWait {
    int answer;
    AppsDialogBox* box;
};

/* Message-box child, label resource and callback list of a button index. */
struct ButtonInfo {
    unsigned char child;
    const char* label;
    const char* callback;
};

static bool button_info(int index, ButtonInfo& b)
{
    if (index == OK_BUTTON)
        b = {XmDIALOG_OK_BUTTON, XmNokLabelString, XmNokCallback};
    else if (index == CANCEL_BUTTON)
        b = {XmDIALOG_CANCEL_BUTTON, XmNcancelLabelString, XmNcancelCallback};
    else if (index == HELP_BUTTON)
        b = {XmDIALOG_HELP_BUTTON, XmNhelpLabelString, XmNhelpCallback};
    else
        return false;
    return true;
}

/* A widget whose destruction waits for the event loop. */
struct PendingDestroy {
    Widget widget;
    XtIntervalId timer;
    bool fired;
};

static void pending_destroyed_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    PendingDestroy* p = (PendingDestroy*)client_data;
    if (!p->fired) XtRemoveTimeOut(p->timer);
    delete p;
}

static void pending_destroy_timer(XtPointer client_data, XtIntervalId* id)
{
    PendingDestroy* p = (PendingDestroy*)client_data;
    p->fired = true;
    XtDestroyWidget(p->widget);
}

/* Destroys a dialog's widgets (the dialog shell takes the message box with
 * it) once control is back in the event loop.  Dialogs are deleted from
 * callbacks of their own buttons; Xt defers a destruction only inside event
 * dispatch, and a button's callbacks may also be called directly, so the
 * widgets must outlive the callback list in either case.  If something else
 * destroys the widget first, the pending destruction is dropped. */
static void destroy_soon(Widget w)
{
    PendingDestroy* p = new PendingDestroy{w, 0, false};
    XtAddCallback(w, XtNdestroyCallback, pending_destroyed_cb, p);
    p->timer = XtAppAddTimeOut(XtWidgetToApplicationContext(w), 0, pending_destroy_timer, p);
}

/* ------------------------------------------------------------ AppsDialogBox */

AppsDialogBox::AppsDialogBox() : widget(nullptr)
{
    live_dialogs().insert(this);
}

AppsDialogBox::~AppsDialogBox()
{
    live_dialogs().erase(this);
    void* self = this;
    if (self == current_error_dialog) current_error_dialog = nullptr;
    if (self == current_error_cb_dialog) current_error_cb_dialog = nullptr;
    if (self == current_warning_dialog) current_warning_dialog = nullptr;
    if (self == current_information_dialog) current_information_dialog = nullptr;
    if (self == current_question_dialog) current_question_dialog = nullptr;
    if (!widget) return;
    XtUnmanageChild(widget);
    /* No button may answer for a dialog that is gone: the answer word of a
     * blocking call lives only as long as the call.  Xt lets a list that is
     * being called be emptied; the callbacks of that call still run. */
    XtRemoveAllCallbacks(widget, XmNokCallback);
    XtRemoveAllCallbacks(widget, XmNcancelCallback);
    XtRemoveAllCallbacks(widget, XmNhelpCallback);
    Widget shell = XtParent(widget);
    destroy_soon(shell && XmIsDialogShell(shell) ? shell : widget);
    widget = nullptr;
}

/* The room beside a message line in a message box: its symbol, its margins
 * and the spacing between them. */
static const int MESSAGE_BOX_FRAME = 140;

/* text broken into lines so that the dialog of box stays within about two
 * thirds of its screen's width: an addition to the dialogs, which would
 * otherwise be as wide as the text's longest line (a question about a deep
 * object's FDN was wider than the screen).  Lines are measured in the font
 * of the message. */
static std::string fitted_message(Widget box, const char* text)
{
    Widget label = XmMessageBoxGetChild(box, XmDIALOG_MESSAGE_LABEL);
    XmRenderTable fonts = nullptr;
    if (label) XtVaGetValues(label, XmNrenderTable, &fonts, NULL);
    if (!fonts) return text;
    int most = WidthOfScreen(XtScreen(box)) * 2 / 3 - MESSAGE_BOX_FRAME;
    auto width = [fonts](const std::string& line) {
        XmString s = XmStringCreateLtoR(const_cast<char*>(line.c_str()),
                                        const_cast<char*>(XmFONTLIST_DEFAULT_TAG));
        int w = XmStringWidth(fonts, s);
        XmStringFree(s);
        return w;
    };
    return wrap_text(text, most, width);
}

void AppsDialogBox::setmessage(const char* text)
{
    std::string lines = fitted_message(widget, text ? text : "");
    XmString s = XmStringCreateLtoR(const_cast<char*>(lines.c_str()),
                                    const_cast<char*>(XmFONTLIST_DEFAULT_TAG));
    XtVaSetValues(widget, XmNmessageString, s, NULL);
    XmStringFree(s);
}

void AppsDialogBox::manage()
{
    XtManageChild(widget);
}

void AppsDialogBox::unmanage()
{
    XtUnmanageChild(widget);
}

void AppsDialogBox::manage_button(int index)
{
    ButtonInfo b;
    if (button_info(index, b)) XtManageChild(XmMessageBoxGetChild(widget, b.child));
}

void AppsDialogBox::unmanage_button(int index)
{
    ButtonInfo b;
    if (button_info(index, b)) XtUnmanageChild(XmMessageBoxGetChild(widget, b.child));
}

void AppsDialogBox::label_button(int index, const char* text)
{
    ButtonInfo b;
    if (!button_info(index, b)) return;
    XmString s = XmStringCreateSimple(const_cast<char*>(text ? text : ""));
    XtVaSetValues(widget, b.label, s, NULL);
    XmStringFree(s);
}

void AppsDialogBox::add_callback(int index, XtCallbackProc proc, XtPointer client_data)
{
    ButtonInfo b;
    if (button_info(index, b) && proc) XtAddCallback(widget, b.callback, proc, client_data);
}

void AppsDialogBox::change_title(const char* text)
{
    XtVaSetValues(XtParent(widget), XtNtitle, text, NULL);
}

/* The window manager's close of a dialog shell presses the button whose
 * index is the client data: its callback list runs with that button's
 * reason, exactly as a click would run it. */
static void window_close_cb(Widget shell, XtPointer client_data, XtPointer call_data)
{
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(shell, XtNchildren, &children, XtNnumChildren, &count, NULL);
    if (count == 0) return;
    Widget box = children[0];
    ButtonInfo b;
    int index = (int)(intptr_t)client_data;
    if (!button_info(index, b)) return;
    XmAnyCallbackStruct cbs;
    cbs.reason = index == OK_BUTTON ? XmCR_OK : index == CANCEL_BUTTON ? XmCR_CANCEL : XmCR_HELP;
    cbs.event = call_data ? ((XmAnyCallbackStruct*)call_data)->event : nullptr;
    XtCallCallbacks(box, b.callback, &cbs);
}

void AppsDialogBox::build(Creator create, Widget parent, const char* name, bool modal,
                          int title_num, const char* title_default, int close_button, int remove1,
                          int remove2, const char* message)
{
    widget = create(parent, const_cast<char*>(name), nullptr, 0);
    XtVaSetValues(widget, XmNuserData, (XtPointer)this, NULL);
    if (modal) XtVaSetValues(widget, XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL, NULL);

    Widget shell = XtParent(widget);
    XtVaSetValues(shell, XtNtitle, qx_text(QX_SET_DIALOG, title_num, title_default), NULL);

    /* No close from the window manager behind the program's back: it
     * answers the dialog like one of its buttons. */
    XtVaSetValues(shell, XmNdeleteResponse, XmDO_NOTHING, NULL);
    Atom wm_delete = XmInternAtom(XtDisplay(shell), const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(shell, wm_delete, window_close_cb, (XtPointer)(intptr_t)close_button);

    if (remove1) unmanage_button(remove1);
    if (remove2) unmanage_button(remove2);

    setmessage(message);
    XtUnmanageChild(widget);
}

/* ------------------------------------------------------------- the subclasses */

ErrDialogBox::ErrDialogBox(Widget parent, const char* message)
{
    build(XmCreateErrorDialog, parent, "ErrorDialog", true, 2002, "Error", OK_BUTTON, CANCEL_BUTTON,
          HELP_BUTTON, message);
}

QuestionDialogBox::QuestionDialogBox(Widget parent, const char* message)
{
    build(XmCreateQuestionDialog, parent, "QuestionDialog", true, 2003, "Question", CANCEL_BUTTON,
          HELP_BUTTON, 0, message);
    XmString yes = XmStringCreateLocalized(const_cast<char*>(qx_text(QX_SET_DIALOG, 2000, "Yes")));
    XmString no = XmStringCreateLocalized(const_cast<char*>(qx_text(QX_SET_DIALOG, 2001, "No")));
    XtVaSetValues(widget, XmNokLabelString, yes, XmNcancelLabelString, no, NULL);
    XmStringFree(yes);
    XmStringFree(no);
}

WarningDialogBox::WarningDialogBox(Widget parent, const char* message)
{
    build(XmCreateWarningDialog, parent, "WarningDialog", true, 2004, "Warning", CANCEL_BUTTON,
          HELP_BUTTON, 0, message);
}

InformationDialogBox::InformationDialogBox(Widget parent, const char* message)
{
    build(XmCreateInformationDialog, parent, "InformationDialog", false, 2005, "FYI", OK_BUTTON,
          CANCEL_BUTTON, HELP_BUTTON, message);
}

/* ------------------------------------------------------- program-level calls */

/* The dialog object a message box belongs to, if it still exists. */
static AppsDialogBox* dialog_of(Widget box)
{
    XtPointer data = nullptr;
    if (box) XtVaGetValues(box, XmNuserData, &data, NULL);
    AppsDialogBox* d = (AppsDialogBox*)data;
    return d && live_dialogs().count(d) ? d : nullptr;
}

/* Runs the nested loop of a blocking call until its answer word is set. */
static void wait_for_answer(Widget w, DialogWait& wait)
{
    XtAppContext app = XtWidgetToApplicationContext(w);
    while (wait.answer == 0) XtAppProcessEvent(app, XtIMAll);
    /* A caller's own callback may have answered without closing the box. */
    if (wait.box && live_dialogs().count(wait.box)) {
        AppsDialogBox* box = wait.box;
        box->unmanage();
        delete box;
    }
}

static void store_reason(XtPointer client_data, XtPointer call_data)
{
    if (client_data)
        *(int*)client_data = call_data ? ((XmAnyCallbackStruct*)call_data)->reason : XmCR_OK;
}

void error_dialog(Widget w, const char* message)
{
    Widget parent = XtParent(w) ? XtParent(w) : w;
    DialogWait wait = {0, nullptr};
    ErrDialogBox* box = new ErrDialogBox(parent, message);
    current_error_dialog = box;
    wait.box = box;
    box->add_callback(OK_BUTTON, error_dialog_cb, &wait.answer);
    Widget mb = *box->getwidget();
    /* The message box's own position is turned into the shell's; without
     * switching off defaultPosition Motif would centre the box instead. */
    XtVaSetValues(mb, XmNdefaultPosition, False, XtNx, 500, XtNy, 500, NULL);
    box->manage();
    if (mb && XtWindow(XtParent(mb))) XRaiseWindow(XtDisplay(XtParent(mb)), XtWindow(XtParent(mb)));
    wait.answer = 0;
    wait_for_answer(w, wait);
}

void error_dialog_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    if (AppsDialogBox* box = dialog_of(w)) delete box;
    store_reason(client_data, call_data);
}

void error_dialog(Widget w, const char* message, XtCallbackProc ok_cb, XtCallbackProc cancel_cb)
{
    ErrDialogBox* box = new ErrDialogBox(w, message);
    current_error_cb_dialog = box;
    box->change_title(qx_msg(15, "Tarnwick: Error"));
    box->add_callback(OK_BUTTON, ok_cb, nullptr);
    box->add_callback(CANCEL_BUTTON, cancel_cb, nullptr);
    box->manage();
}

void warning_dialog(Widget w, const char* message, XtCallbackProc ok_cb, XtCallbackProc cancel_cb)
{
    WarningDialogBox* box = new WarningDialogBox(w, message);
    current_warning_dialog = box;
    box->add_callback(OK_BUTTON, ok_cb, nullptr);
    box->add_callback(CANCEL_BUTTON, cancel_cb, nullptr);
    box->manage();
}

void ok_cancel_warn_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    AppsDialogBox* box = dialog_of(w);
    if (!box) box = current_warning_dialog;
    if (box) {
        box->unmanage();
        delete box;
    }
}

void information_dialog(Widget w, const char* message)
{
    InformationDialogBox* box = new InformationDialogBox(w, message);
    current_information_dialog = box;
    box->add_callback(OK_BUTTON, ok_info_cb, nullptr);
    XtVaSetValues(*box->getwidget(), XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL, NULL);
    box->manage();
}

void ok_info_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    AppsDialogBox* box = dialog_of(w);
    if (!box) box = current_information_dialog;
    if (box) {
        box->unmanage();
        delete box;
    }
}

int question_dialog(Widget w, const char* message, XtCallbackProc ok_cb, XtCallbackProc cancel_cb)
{
    DialogWait wait = {0, nullptr};
    QuestionDialogBox* box = new QuestionDialogBox(w, message);
    current_question_dialog = box;
    wait.box = box;
    box->add_callback(OK_BUTTON, ok_cb, &wait.answer);
    box->add_callback(CANCEL_BUTTON, cancel_cb, &wait.answer);
    box->label_button(OK_BUTTON, "Ok");
    box->label_button(CANCEL_BUTTON, "Cancel");
    wait.answer = 0;
    box->manage();
    wait_for_answer(w, wait);
    return wait.answer;
}

void ok_cancel_ques_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    if (AppsDialogBox* box = dialog_of(w)) {
        box->unmanage();
        delete box;
    }
    store_reason(client_data, call_data);
}
