/*
 * file_dialog.h - asking the user for a file name.  PUBLIC HEADER.
 *
 * EVENT-LOOP RULE: choose_file() blocks its caller in a nested loop of
 * XtAppProcessEvent(XtIMAll) until OK or Cancel (or the window manager's
 * close, which counts as Cancel) answers, as the blocking message dialogs
 * do: timers, KVL callbacks and redraws run meanwhile.
 */
#ifndef UI_FILE_DIALOG_H
#define UI_FILE_DIALOG_H

#include <X11/Intrinsic.h>

#include <string>

/* A modal file selection dialog named name on parent, titled 4/title_num,
 * listing the files that match pattern ("*.ldif"); suggestion, when not
 * empty, is a file name put in the selection field in the directory shown.
 * True with the file named in its selection field when OK is pressed with
 * one named; false for Cancel.  The dialog is destroyed before the call
 * returns. */
bool choose_file(Widget parent, const char* name, int title_num, const char* title_def,
                 const char* pattern, const std::string& suggestion, std::string& path);

/* The file selection box of the call that is waiting, null when none is. */
extern Widget current_file_dialog;

#endif /* UI_FILE_DIALOG_H */
