/*
 * icon.cpp - the main window's icon: an XPM image on a window shaped by the
 * image's mask, so its transparent pixels show the desktop behind.
 */
#include "ui/icon.h"

#include <X11/Shell.h>
#include <X11/xpm.h>
#include <X11/extensions/shape.h>

#include "tarn_icon.xpm"

const char** tarn_icon_data = tarn_icon_xpm;

int g2_setupIconPixmap(const char** xpm_data, Widget shell, const char* icon_name, int width,
                       int height)
{
    Display* dpy = XtDisplay(shell);
    int scr = DefaultScreen(dpy);
    Window rootw = RootWindow(dpy, scr);

    Window icon = XCreateSimpleWindow(dpy, rootw, 0, 0, width, height, 0, BlackPixel(dpy, scr),
                                      BlackPixel(dpy, scr));
    Pixmap image = None, mask = None;
    if (XpmCreatePixmapFromData(dpy, rootw, const_cast<char**>(xpm_data), &image, &mask, nullptr) !=
        XpmSuccess) {
        XDestroyWindow(dpy, icon);
        return 0;
    }
    XSetWindowBackgroundPixmap(dpy, icon, image);
    if (mask != None) XShapeCombineMask(dpy, icon, ShapeBounding, 0, 0, mask, ShapeSet);

    XtVaSetValues(shell, XtNiconWindow, icon, NULL);
    XtVaSetValues(shell, XtNiconName, icon_name, NULL);
    return 0;
}
