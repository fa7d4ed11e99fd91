/* xd_widgets.cpp - the window wrapper classes. */
#include "ui/xd_widgets.h"

#include <X11/Intrinsic.h>
#include <X11/StringDefs.h>
#include <cstdarg>
#include <cstdlib>

void xd_XtWidget_c::xd_enable()
{
    if (_xd_rootwidget) XtSetSensitive(_xd_rootwidget, True);
}

void xd_XtWidget_c::xd_disable()
{
    if (_xd_rootwidget) XtSetSensitive(_xd_rootwidget, False);
}

void xd_XtWidget_c::xd_destroy()
{
    if (_xd_rootwidget) {
        XtDestroyWidget(_xd_rootwidget);
        _xd_rootwidget = nullptr;
    }
}

void xd_XtWidget_c::SetValue(String name, XtArgVal value)
{
    Arg a;
    XtSetArg(a, name, value);
    XtSetValues(_xd_rootwidget, &a, 1);
}

void xd_XtWidget_c::GetValue(String name, XtPointer address)
{
    Arg a;
    XtSetArg(a, name, address);
    XtGetValues(_xd_rootwidget, &a, 1);
}

void xd_XtWidget_c::SetValues(ArgList args, Cardinal count)
{
    XtSetValues(_xd_rootwidget, args, count);
}

void xd_XtWidget_c::GetValues(ArgList args, Cardinal count)
{
    XtGetValues(_xd_rootwidget, args, count);
}

/* Collects name/value pairs up to the terminating NULL into an ArgList. */
static Cardinal collect_pairs(String name, va_list ap, Arg* args, Cardinal max)
{
    Cardinal n = 0;
    for (; name && n < max; name = va_arg(ap, String)) {
        XtArgVal value = va_arg(ap, XtArgVal);
        XtSetArg(args[n], name, value);
        n++;
    }
    return n;
}

void xd_XtWidget_c::VaSetValues(String name, ...)
{
    Arg args[64];
    va_list ap;
    va_start(ap, name);
    Cardinal n = collect_pairs(name, ap, args, 64);
    va_end(ap);
    XtSetValues(_xd_rootwidget, args, n);
}

void xd_XtWidget_c::VaGetValues(String name, ...)
{
    Arg args[64];
    va_list ap;
    va_start(ap, name);
    Cardinal n = collect_pairs(name, ap, args, 64);
    va_end(ap);
    XtGetValues(_xd_rootwidget, args, n);
}

void xd_XtWidget_c::Map()
{
    if (_xd_rootwidget && XtWindow(_xd_rootwidget))
        XMapWindow(XtDisplay(_xd_rootwidget), XtWindow(_xd_rootwidget));
}

void xd_XtWidget_c::Unmap()
{
    if (_xd_rootwidget && XtWindow(_xd_rootwidget))
        XUnmapWindow(XtDisplay(_xd_rootwidget), XtWindow(_xd_rootwidget));
}

void xd_ChildWidget_c::Manage()
{
    XtManageChild(_xd_rootwidget);
}

void xd_ChildWidget_c::Unmanage()
{
    XtUnmanageChild(_xd_rootwidget);
}

void xd_XmDialog_c::xd_show()
{
    if (_xd_rootwidget && xd_getchildwidget()) XtManageChild(_xd_childwidget);
}

void xd_XmDialog_c::xd_hide()
{
    if (_xd_rootwidget && xd_getchildwidget()) XtUnmanageChild(_xd_childwidget);
}

Widget xd_XmDialog_c::xd_getchildwidget()
{
    if (_xd_childwidget || !_xd_rootwidget) return _xd_childwidget;
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(_xd_rootwidget, XtNchildren, &children, XtNnumChildren, &count, NULL);
    if (count != 0) _xd_childwidget = children[0];
    return _xd_childwidget;
}

void xd_XmDialog_c::Raise()
{
    if (_xd_rootwidget && XtWindow(_xd_rootwidget))
        XRaiseWindow(XtDisplay(_xd_rootwidget), XtWindow(_xd_rootwidget));
}

void xd_ApplicationShell_c::xd_exit(int status)
{
    exit(status);
}

void xd_ApplicationShell_c::Realize()
{
    XtRealizeWidget(_xd_rootwidget);
}
