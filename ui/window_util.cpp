/* window_util.cpp - helpers the windows' create() operations share. */
#include "ui/window_util.h"

#include <string>
#include <vector>

#include <Xm/DialogS.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/Protocols.h>
#include <Xm/PushB.h>
#include <X11/keysym.h>

#include "core/catalog.h"
#include "core/mnemonic.h"

void set_label_text(Widget w, const char* text)
{
    XmString s = XmStringCreateLocalized(const_cast<char*>(text));
    XtVaSetValues(w, XmNlabelString, s, NULL);
    XmStringFree(s);
}

void set_label(Widget w, int num, const char* def)
{
    set_label_text(w, qx_msg(num, def));
}

/* The mnemonics parent's children have, in the order they were made. */
static std::string sibling_mnemonics(Widget parent)
{
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(parent, XmNchildren, &children, XmNnumChildren, &count, NULL);
    std::string taken;
    for (Cardinal i = 0; i < count; i++) {
        if (!XmIsLabel(children[i])) continue;
        KeySym key = NoSymbol;
        XtVaGetValues(children[i], XmNmnemonic, &key, NULL);
        if (key != NoSymbol && key < 0x80) taken += (char)key;
    }
    return taken;
}

/* The mnemonic an entry labelled text gets among parent's children: the one
 * asked for when a translated label has it, else a letter it has. */
static KeySym mnemonic_for(Widget parent, const char* text, char mnemonic)
{
    return (KeySym)(unsigned char)choose_mnemonic(text, mnemonic, sibling_mnemonics(parent));
}

Widget labelled(WidgetClass wc, Widget parent, const char* name, int num, const char* def,
                char mnemonic)
{
    const char* text = qx_msg(num, def);
    XmString s = XmStringCreateLocalized(const_cast<char*>(text));
    Arg args[2];
    Cardinal n = 0;
    XtSetArg(args[n], XmNlabelString, s);
    n++;
    if (mnemonic) {
        XtSetArg(args[n], XmNmnemonic, mnemonic_for(parent, text, mnemonic));
        n++;
    }
    Widget w = XtCreateManagedWidget(name, wc, parent, args, n);
    XmStringFree(s);
    return w;
}

Widget push_button(Widget parent, const char* name, int num, const char* def, XtCallbackProc cb,
                   XtPointer client, char mnemonic)
{
    Widget w = labelled(xmPushButtonWidgetClass, parent, name, num, def, mnemonic);
    XtAddCallback(w, XmNactivateCallback, cb, client);
    return w;
}

Widget menu_item(Widget pulldown, const char* name, int num, const char* def, char mnemonic,
                 const char* accelerator, int key_num, const char* key_def, XtCallbackProc cb,
                 XtPointer client)
{
    /* The accelerator is given at creation: the menu installs its key then. */
    const char* text = qx_msg(num, def);
    XmString label = XmStringCreateLocalized(const_cast<char*>(text));
    XmString key = XmStringCreateLocalized(const_cast<char*>(qx_msg(key_num, key_def)));
    Widget w = XtVaCreateManagedWidget(name, xmPushButtonWidgetClass, pulldown, XmNlabelString,
                                       label, XmNmnemonic, mnemonic_for(pulldown, text, mnemonic),
                                       XmNaccelerator,
                                       accelerator, XmNacceleratorText, key, NULL);
    XmStringFree(label);
    XmStringFree(key);
    XtAddCallback(w, XmNactivateCallback, cb, client);
    return w;
}

Widget make_dialog(Widget parent, const char* shell_name, const char* box_name, int title_num,
                   const char* title_def, Widget* shell)
{
    /* The shell stays up when the window manager closes it; close_like()
     * decides what that close does, so a later manage shows it again. */
    *shell = XtVaCreatePopupShell(shell_name, xmDialogShellWidgetClass, parent, XmNtitle,
                                  qx_msg(title_num, title_def), XmNdeleteResponse, XmDO_NOTHING,
                                  XmNallowShellResize, True, NULL);
    return XtVaCreateWidget(box_name, xmMessageBoxWidgetClass, *shell, XmNdialogType,
                            XmDIALOG_TEMPLATE, XmNautoUnmanage, False, NULL);
}

static void close_cb(Widget, XtPointer button, XtPointer)
{
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    cbs.click_count = 1;
    XtCallCallbacks((Widget)button, XmNactivateCallback, &cbs);
}

/* Escape presses the button while it is managed and sensitive; else it
 * does nothing. */
static void escape_handler(Widget, XtPointer button, XEvent* event, Boolean* go_on)
{
    if (event->type != KeyPress || XLookupKeysym(&event->xkey, 0) != XK_Escape) return;
    *go_on = False;
    Widget b = (Widget)button;
    if (XtIsManaged(b) && XtIsSensitive(b)) close_cb(b, button, nullptr);
}

void close_like(Widget shell, Widget button)
{
    Atom wm_delete = XmInternAtom(XtDisplay(shell), const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(shell, wm_delete, close_cb, (XtPointer)button);
    /* Escape wherever the focus is in the dialog: the shell's grab takes
     * the key before the widget with the focus.  (The message box's own
     * cancelButton would do it too, but moves the button to the end of the
     * button row.) */
    XtGrabKey(shell, XKeysymToKeycode(XtDisplay(shell), XK_Escape), AnyModifier, False,
              GrabModeAsync, GrabModeAsync);
    XtAddEventHandler(shell, KeyPressMask, False, escape_handler, (XtPointer)button);
}

void align_fields(Widget* labels, Widget* fields, int n, int left_margin)
{
    Dimension widest = 0;
    for (int i = 0; i < n; i++) {
        Dimension w = 0;
        XtVaGetValues(labels[i], XmNwidth, &w, NULL);
        if (w > widest) widest = w;
    }
    for (int i = 0; i < n; i++) {
        XtVaSetValues(fields[i], XmNleftAttachment, XmATTACH_FORM, XmNleftOffset,
                      left_margin + widest + 8, NULL);
        XtVaSetValues(labels[i], XmNrightAttachment, XmATTACH_OPPOSITE_FORM, XmNrightOffset,
                      -(left_margin + widest), XmNalignment, XmALIGNMENT_END, XmNtopAttachment,
                      XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, fields[i], XmNbottomAttachment,
                      XmATTACH_OPPOSITE_WIDGET, XmNbottomWidget, fields[i], NULL);
    }
}

Widget scrolled_list(Widget parent, const char* name, int visible, unsigned char policy,
                     bool constant_width, const Arg* more, Cardinal n_more)
{
    std::vector<Arg> args(3);
    XtSetArg(args[0], XmNvisibleItemCount, visible);
    XtSetArg(args[1], XmNselectionPolicy, policy);
    XtSetArg(args[2], XmNlistSizePolicy, constant_width ? XmCONSTANT : XmVARIABLE);
    args.insert(args.end(), more, more + n_more);
    return XmCreateScrolledList(parent, const_cast<char*>(name), args.data(), args.size());
}
