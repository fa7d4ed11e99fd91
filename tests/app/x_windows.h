/*
 * x_windows.h - finds the editor's top-level windows by title, from outside,
 * the way a person's desktop sees them.
 */
#ifndef TESTS_APP_X_WINDOWS_H
#define TESTS_APP_X_WINDOWS_H

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <string>
#include <time.h>

/* A viewable window below w whose WM_NAME is title, or None. */
inline Window find_titled_window(Display* dpy, Window w, const std::string& title)
{
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name) {
        bool same = title == name;
        XFree(name);
        XWindowAttributes a;
        if (same && XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable)
            return w;
    }
    Window root_return, parent, *children = nullptr;
    unsigned int n = 0;
    Window found = None;
    if (XQueryTree(dpy, w, &root_return, &parent, &children, &n)) {
        for (unsigned i = 0; i < n && found == None; i++)
            found = find_titled_window(dpy, children[i], title);
        if (children)
            XFree(children);
    }
    return found;
}

/* Waits up to seconds for a viewable window with the title. */
inline Window wait_for_window(Display* dpy, const std::string& title, double seconds)
{
    for (double t = 0; t < seconds; t += 0.05) {
        Window w = find_titled_window(dpy, DefaultRootWindow(dpy), title);
        if (w != None)
            return w;
        struct timespec ts = {0, 50 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    return None;
}

#endif /* TESTS_APP_X_WINDOWS_H */
