/* desktop.cpp - the installation's home and its app-defaults file. */
#include "app/desktop.h"

#include <X11/Xresource.h>
#include <climits>
#include <cstdlib>
#include <unistd.h>

std::string program_home()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, (size_t)n);
    /* <home>/bin/<program>: drop the program, then bin. */
    for (int i = 0; i < 2; i++) {
        size_t slash = path.rfind('/');
        if (slash == std::string::npos) return "";
        path.erase(slash);
    }
    return path.empty() ? "/" : path;
}

void settle_home()
{
    std::string home = program_home();
    if (home.empty()) return;
    /* setenv copies; a value already set is left as the user gave it. */
    setenv("QX_HOME", home.c_str(), 0);
    /* The catalogue of the full locale name (de_DE.UTF-8), then of its
     * language (de), then the English one for a language we have none of. */
    std::string nls = home + "/share/locale/";
    std::string path =
        nls + "%L/LC_MESSAGES/%N:" + nls + "%l/LC_MESSAGES/%N:" + nls + "en/LC_MESSAGES/%N";
    setenv("NLSPATH", path.c_str(), 0);
}

std::string merge_app_defaults(Display* dpy, const char* app_class)
{
    if (getenv("XFILESEARCHPATH")) return "";
    /* The toolkit has already loaded the file its own search path names. */
    if (String found = XtResolvePathname(dpy, "app-defaults", nullptr, nullptr, nullptr, nullptr,
                                         0, nullptr)) {
        XtFree(found);
        return "";
    }
    const char* env_home = getenv("QX_HOME");
    std::string home = env_home && *env_home ? env_home : program_home();
    if (home.empty()) return "";
    std::string file = home + "/share/X11/app-defaults/" + app_class;
    if (access(file.c_str(), R_OK) != 0) return "";
    /* False: an entry already in the database (the user's) wins over the
     * file's entry for the same resource. */
    XrmDatabase db = XtScreenDatabase(DefaultScreenOfDisplay(dpy));
    if (!XrmCombineFileDatabase(file.c_str(), &db, False)) return "";
    return file;
}
