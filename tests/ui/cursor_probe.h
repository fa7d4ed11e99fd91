/*
 * cursor_probe.h - the cursor the X server shows over a widget, read back
 * with XFIXES, for the tests of when the busy cursor comes and goes.  Link
 * X11::Xfixes.
 */
#ifndef TESTS_UI_CURSOR_PROBE_H
#define TESTS_UI_CURSOR_PROBE_H

#include <Xm/Xm.h>
#include <X11/extensions/Xfixes.h>

#include <vector>

#include "core/globals.h"

/* Whether the display reads cursors back. */
inline bool cursors_readable()
{
    int event_base, error_base;
    return XFixesQueryExtension(display, &event_base, &error_base);
}

/* The cursor shown with the pointer at the middle of w: width, height and
 * hot spot; empty when it cannot be read. */
inline std::vector<int> cursor_over(Widget w)
{
    Dimension width = 0, height = 0;
    XtVaGetValues(w, XmNwidth, &width, XmNheight, &height, NULL);
    XWarpPointer(display, None, XtWindow(w), 0, 0, 0, 0, width / 2, height / 2);
    XSync(display, False);
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (!image) return {};
    std::vector<int> shape = {image->width, image->height, image->xhot, image->yhot};
    XFree(image);
    return shape;
}

/* The shape of the busy cursor (ui/busy_cursor.cpp): the 32 by 32 hourglass. */
inline const std::vector<int> kHourglass = {32, 32, 15, 15};

#endif /* TESTS_UI_CURSOR_PROBE_H */
