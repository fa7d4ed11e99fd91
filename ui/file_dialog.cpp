/* file_dialog.cpp - a blocking file selection dialog. */
#include "ui/file_dialog.h"

#include <Xm/FileSB.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>

#include "core/catalog.h"
#include "ui/help_callbacks.h"

Widget current_file_dialog = nullptr;

namespace {

struct FileWait {
    int answer = 0; /* 0 while waiting, then XmCR_OK or XmCR_CANCEL */
    std::string path;
};

void ok_cb(Widget, XtPointer client, XtPointer call)
{
    FileWait* wait = (FileWait*)client;
    if (wait->answer) return;
    auto* cbs = (XmFileSelectionBoxCallbackStruct*)call;
    char* text = nullptr;
    if (cbs && cbs->value) XmStringGetLtoR(cbs->value, XmFONTLIST_DEFAULT_TAG, &text);
    wait->path = text ? text : "";
    XtFree(text);
    /* A directory (the field's text ends in '/') names no file: keep asking. */
    if (wait->path.empty() || wait->path.back() == '/') return;
    wait->answer = XmCR_OK;
}

/* Cancel, and the unmapping that follows the window manager's close. */
void cancel_cb(Widget, XtPointer client, XtPointer)
{
    FileWait* wait = (FileWait*)client;
    if (!wait->answer) wait->answer = XmCR_CANCEL;
}

} // namespace

bool choose_file(Widget parent, const char* name, int title_num, const char* title_def,
                 const char* pattern, const std::string& suggestion, std::string& path)
{
    XmString title = XmStringCreateLocalized(const_cast<char*>(qx_msg(title_num, title_def)));
    XmString pat = XmStringCreateLocalized(const_cast<char*>(pattern));
    Arg args[6];
    Cardinal n = 0;
    XtSetArg(args[n], XmNdialogTitle, title);
    n++;
    XtSetArg(args[n], XmNdialogStyle, XmDIALOG_FULL_APPLICATION_MODAL);
    n++;
    XtSetArg(args[n], XmNpattern, pat);
    n++;
    XtSetArg(args[n], XmNautoUnmanage, False);
    n++;
    /* Wide enough for the paths of a home directory and their file names. */
    XtSetArg(args[n], XmNwidth, 560);
    n++;
    /* Directories listed by their own names, the folder they are in shown
     * once above them, so the list of files gets its share of the width. */
    XtSetArg(args[n], XmNpathMode, XmPATH_MODE_RELATIVE);
    n++;
    Widget box = XmCreateFileSelectionDialog(parent, const_cast<char*>(name), args, n);
    XmStringFree(title);
    XmStringFree(pat);
    /* Help, and F1 anywhere in the box, show the page on LDIF files. */
    XtAddCallback(box, XmNhelpCallback, fd_help_cb, nullptr);

    if (!suggestion.empty()) {
        Widget field = XmFileSelectionBoxGetChild(box, XmDIALOG_TEXT);
        char* dir = XmTextGetString(field); /* the directory shown, with its '/' */
        std::string text = std::string(dir ? dir : "") + suggestion;
        XtFree(dir);
        XmTextSetString(field, const_cast<char*>(text.c_str()));
        XmTextSetInsertionPosition(field, (XmTextPosition)text.size());
    }

    FileWait wait;
    XtAddCallback(box, XmNokCallback, ok_cb, &wait);
    XtAddCallback(box, XmNcancelCallback, cancel_cb, &wait);
    XtAddCallback(box, XmNunmapCallback, cancel_cb, &wait);
    XtManageChild(box);
    Widget previous = current_file_dialog;
    current_file_dialog = box;
    XtAppContext app = XtWidgetToApplicationContext(box);
    while (wait.answer == 0) XtAppProcessEvent(app, XtIMAll);
    current_file_dialog = previous;
    XtRemoveCallback(box, XmNunmapCallback, cancel_cb, &wait);
    XtDestroyWidget(XtParent(box));
    path = wait.path;
    return wait.answer == XmCR_OK;
}
