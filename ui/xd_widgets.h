/*
 * xd_widgets.h - thin wrapper classes under the editor's windows.  PUBLIC HEADER.
 *
 * Each window object derives from one of these and keeps its root widget in
 * the wrapper: the main window from xd_ApplicationShell_c, the dialogs from
 * xd_XmDialog_c (whose root is the dialog shell and whose child is the
 * message box that is managed to show the dialog).
 */
#ifndef UI_XD_WIDGETS_H
#define UI_XD_WIDGETS_H

#include <X11/Intrinsic.h>

class xd_XtWidget_c {
public:
    xd_XtWidget_c() : _xd_rootwidget(nullptr) {}
    virtual ~xd_XtWidget_c() {}

    virtual void xd_enable();  /* XtSetSensitive true */
    virtual void xd_disable(); /* XtSetSensitive false */
    virtual void xd_destroy(); /* destroys the root widget and clears the handle */

    Widget xd_rootwidget() const { return _xd_rootwidget; }
    operator Widget() const { return _xd_rootwidget; }

    /* One resource, or an argument list, set on or read from the root widget. */
    void SetValue(String name, XtArgVal value);
    void GetValue(String name, XtPointer address);
    void SetValues(ArgList args, Cardinal count);
    void GetValues(ArgList args, Cardinal count);
    void VaSetValues(String name, ...); /* name/value pairs ending in NULL */
    void VaGetValues(String name, ...); /* name/address pairs ending in NULL */
    void Map();                         /* XMapWindow of the root's window */
    void Unmap();

protected:
    Widget _xd_rootwidget;
};

class xd_ChildWidget_c : public xd_XtWidget_c {
public:
    virtual void xd_show() = 0;
    virtual void xd_hide() = 0;
    void Manage();
    void Unmanage();
};

class xd_NonShellWidget_c : public xd_ChildWidget_c {
public:
    void xd_show() override { Map(); }
    void xd_hide() override { Unmap(); }
};

class xd_XmDialog_c : public xd_ChildWidget_c {
public:
    xd_XmDialog_c() : _xd_childwidget(nullptr) {}
    void xd_show() override;    /* manages the dialog's child */
    void xd_hide() override;    /* unmanages it */
    Widget xd_getchildwidget(); /* the root's first child, cached */
    void Raise();               /* XRaiseWindow of the root's window */

protected:
    Widget _xd_childwidget;
};

class xd_ApplicationShell_c : public xd_XtWidget_c {
public:
    [[noreturn]] void xd_exit(int status);
    void Realize();
};

#endif /* UI_XD_WIDGETS_H */
