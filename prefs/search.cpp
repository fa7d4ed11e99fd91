/*
 * search.cpp - the Select dialog's search: one question to the server for the
 * objects below a base that a CMIS filter accepts, then the matches opened to
 * in the navigator and selected as clicks select them, and listed with
 * their count in the dialog, where a double click goes to one of them.
 */
#include <Xm/List.h>
#include <Xm/ToggleBG.h>
#include <cstdio>
#include <string>
#include <vector>

#include "XiHierarchy.h"
#include "core/catalog.h"
#include "core/field_text.h"
#include "core/globals.h"
#include "prefs/prefs_api.h"
#include "tree/tree_api.h"
#include "ui/busy_cursor.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"
#include "ui/select_win.h"

namespace {

/* A refusal: the message in the status line and in an error dialog on w's
 * parent; object, when given, is the search's base, for the event log. */
void refuse(Widget w, const std::string& text, const std::string& object = "")
{
    std::string bounded = bounded_label(text.c_str());
    status_line(bounded.c_str(), object.c_str());
    error_dialog(w ? XtParent(w) : main_window->shell(), bounded.c_str());
}

/* The names of fdn's ancestors below top, outermost first: the prefixes of fdn
 * that end before a "/" outside quotes and are longer than top. */
std::vector<std::string> ancestors_below(const std::string& fdn, const std::string& top)
{
    std::vector<std::string> out;
    bool quoted = false;
    for (size_t i = 1; i < fdn.size(); i++) {
        char c = fdn[i];
        if (quoted && c == '\\') {
            i++;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '/' && !quoted && i > top.size() &&
                   (top == "/" || fdn[top.size()] == '/')) {
            out.push_back(fdn.substr(0, i));
        }
    }
    return out;
}

/* Opens every ancestor of fdn below the root and returns its object when it
 * is shown; null when a filter of the tree hides it or an ancestor.  Waits;
 * the caller re-checks CurrentCookie. */
DataObject* reveal(const std::string& fdn, unsigned int cookie)
{
    for (const std::string& a : ancestors_below(fdn, root->name)) {
        DataObject* obj = find_album_object(a.c_str());
        if (!obj || !obj->shown) return nullptr;
        if (obj->node_state != XiOpen || obj->derive_state != 2) open_object(obj);
        if (CurrentCookie != cookie) return nullptr;
    }
    DataObject* found = find_album_object(fdn.c_str());
    return found && found->shown ? found : nullptr;
}

/* Makes what search found the selection, each object opened to in the
 * navigator and selected as a click selects it, and returns the first one
 * selected.  Deselecting and selecting rebuild the Action menu, which waits:
 * the tree may be rebuilt and objects removed meanwhile, and the walk stops
 * when the tree is no longer of generation cookie. */
ObjectRef select_found(Widget w, Search& search, unsigned int cookie)
{
    main_window->deselect_objects(w, nullptr); /* waits */
    ObjectRef first_shown;
    bool any_shown = false;
    for (int i = 0; i < search.names.count() && CurrentCookie == cookie; i++) {
        DataObject* obj = reveal(search.names[i].str(), cookie); /* waits; null after a rebuild */
        if (!obj || obj->selected) continue;
        if (!any_shown) first_shown = ObjectRef(obj);
        any_shown = true;
        add(obj); /* waits */
    }
    return first_shown;
}

} // namespace

/* Waits for the server: the search, then the derivations of the branches it
 * opens and the Action menu of the selection.  After each wait it re-checks
 * the tree generation and stops when the tree was rebuilt; the base is read
 * before the first wait and is not used after it, and the row scrolled to
 * at the end is found again through its ObjectRef. */
void SelectWin::select_objects_cb(Widget w, void*)
{
    if (rebuild_waiting()) {
        refuse(w, qx_msg(702, "A search cannot start while the tree is being rebuilt"));
        return;
    }
    if (!root || !root->name || !root->shown) {
        refuse(w, qx_msg(704, "No tree is shown to search"));
        return;
    }
    int depth = -1;
    if (XmToggleButtonGadgetGetState(sw_scope_this_level)) {
        depth = 1;
    } else if (XmToggleButtonGadgetGetState(sw_scope_down)) {
        std::string levels = field_text(sw_number_levels);
        size_t b = levels.find_first_not_of(" \t"), e = levels.find_last_not_of(" \t");
        std::string digits = b == std::string::npos ? "" : levels.substr(b, e - b + 1);
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos ||
            atoi(digits.c_str()) < 1) {
            refuse(w, std::string(
                          qx_msg(703, "Number of levels must be a whole number, 1 or more: ")) +
                          "\"" + levels + "\"");
            return;
        }
        depth = atoi(digits.c_str());
    }
    std::string filter = field_text(sw_cmis_filter);
    DataObject* first = DataObject::selected_list.first();
    std::string base = first && first->name ? first->name : root->name;

    unsigned int cookie = CurrentCookie;
    Search search;
    bool ok;
    ObjectRef first_shown;
    {
        BusyCursor busy(main_window->shell());
        ok = search.run(DataUnit(base.c_str()), DataUnit(filter.c_str()), depth, 0,
                        DeriveTimeout); /* waits */
        if (ok && CurrentCookie == cookie) first_shown = select_found(w, search, cookie); /* waits */
    }
    if (CurrentCookie != cookie) {
        status_line(qx_msg(706, "The tree was rebuilt during the search; nothing was selected"));
        return;
    }
    if (!ok) {
        show_found("", {});
        refuse(w, std::string(qx_msg(705, "Search failed: ")) + search.get_error_string(), base);
        return;
    }
    if (DataObject* shown = first_shown.get()) show_object_row(shown);

    char text[200];
    if (search.count == 0)
        snprintf(text, sizeof text, "%s", qx_msg(709, "no object matches"));
    else if (search.truncated)
        snprintf(text, sizeof text,
                 qx_msg(708, "%ld objects found, %ld more past the limit of %d not selected"),
                 search.count, search.count - (long)search.names.count(), search.names.count());
    else
        snprintf(text, sizeof text, qx_msg(707, "%ld objects found"), search.count);
    status_line(text, base.c_str());
    /* Adds to the search: the matches stay listed in the dialog, with their
     * count, after the status line has moved on. */
    std::vector<std::string> names;
    for (int i = 0; i < search.names.count(); i++) names.push_back(search.names[i].str());
    show_found(text, names);
}

/* Waits for the server (go_to_object boots the object, opens its ancestors
 * and rebuilds the Action menu) and re-checks the tree generation after each
 * wait; the name is read from the list before the first. */
void SelectWin::go_to_found_cb(Widget, void*)
{
    int* positions = nullptr;
    int count = 0;
    if (!XmListGetSelectedPos(sw_found_list, &positions, &count)) return;
    std::string fdn = found_name(positions[0]);
    XtFree((char*)positions);
    if (!fdn.empty()) go_to_object(fdn.c_str()); /* waits */
}
