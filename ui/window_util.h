/*
 * window_util.h - helpers the windows' create() operations share: labelled
 * widgets from the catalogue, the dialog frame (a message-box template in a
 * dialog shell) and label/field columns in a form.  Internal to ui/.
 */
#ifndef UI_WINDOW_UTIL_H
#define UI_WINDOW_UTIL_H

#include <Xm/Xm.h>

/* Sets catalogue text 4/num (default def) as w's labelString. */
void set_label(Widget w, int num, const char* def);
/* The same for a text that is not in the catalogue. */
void set_label_text(Widget w, const char* text);

/* A managed widget of class wc named name, labelled with 4/num; mnemonic
 * is a character of the label, 0 for none. */
Widget labelled(WidgetClass wc, Widget parent, const char* name, int num, const char* def,
                char mnemonic = 0);

/* A push button made as labelled() makes it, whose activation calls cb with
 * client. */
Widget push_button(Widget parent, const char* name, int num, const char* def, XtCallbackProc cb,
                   XtPointer client, char mnemonic = 0);

/* A push button of a pulldown menu made as push_button() makes it, with the
 * key accelerator (a translation, "Ctrl<Key>l") shown as 4/key_num. */
Widget menu_item(Widget pulldown, const char* name, int num, const char* def, char mnemonic,
                 const char* accelerator, int key_num, const char* key_def, XtCallbackProc cb,
                 XtPointer client);

/* An unmanaged scrolled list named name under parent, showing visible rows,
 * with the selection policy policy; with constant_width the list keeps its
 * width and long items scroll sideways.  more (n_more of them) are further
 * resources, given to the list and to its scrolled window (a constraint of
 * parent, say).  The scrolled window is XtParent() of the result. */
Widget scrolled_list(Widget parent, const char* name, int visible, unsigned char policy,
                     bool constant_width, const Arg* more = nullptr, Cardinal n_more = 0);

/*
 * The frame every dialog shares: an XmDialogShell called shell_name under
 * parent, titled with 4/title_num, holding an unmanaged XmMessageBox of type
 * XmDIALOG_TEMPLATE called box_name, whose own push buttons form its button
 * row and whose first other child is its work area.  *shell receives the
 * dialog shell.
 */
Widget make_dialog(Widget parent, const char* shell_name, const char* box_name, int title_num,
                   const char* title_def, Widget* shell);

/* The window manager's close of the dialog shell runs the activate
 * callbacks of button (its Close or Cancel), so closing the window behaves
 * like that button; so does Escape with the focus anywhere in the dialog,
 * while the button is sensitive.  button is a child of the dialog's
 * message box. */
void close_like(Widget shell, Widget button);

/* Attaches each field's left edge one gap to the right of the widest label
 * of labels (n of each), so the fields line up in a column; each label's
 * top follows its field's top. */
void align_fields(Widget* labels, Widget* fields, int n, int left_margin);

#endif /* UI_WINDOW_UTIL_H */
