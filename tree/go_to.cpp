/*
 * go_to.cpp - Return in the path line: open the ancestors of the object
 * named there, select it and scroll it into view.
 */
#include <Xm/Xm.h>
#include <string>

#include "XiHierarchy.h"
#include "core/catalog.h"
#include "core/field_text.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/go_to.h"
#include "tree/navigator.h"
#include "tree/selection.h"
#include "ui/busy_cursor.h"
#include "ui/main_win.h"

std::vector<std::string> fdn_prefixes(const std::string& fdn)
{
    std::vector<std::string> out;
    bool quoted = false;
    for (size_t i = 0; i < fdn.size(); i++) {
        char c = fdn[i];
        if (quoted) {
            if (c == '\\')
                i++;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '/' && i > 0) {
            out.push_back(fdn.substr(0, i));
        }
    }
    if (!fdn.empty() && fdn != "/") out.push_back(fdn);
    return out;
}

/* Both ends of the text lose their blanks: a pasted name often brings a
 * newline or a space along. */
static std::string trimmed(const char* text)
{
    std::string s = text ? text : "";
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

/* The status line names what went wrong with going to object; the tree is
 * left as it was. */
static bool refuse(const std::string& object, const std::string& text)
{
    status_line(bounded_label(text.c_str()).c_str(), object.c_str());
    return false;
}

/* True when fdn is the root's own name or lies below it. */
static bool inside_tree(const std::string& fdn, const char* root_fdn)
{
    std::string r = root_fdn ? root_fdn : "/";
    if (r == "/" || fdn == r) return true;
    return fdn.size() > r.size() && fdn.compare(0, r.size(), r) == 0 && fdn[r.size()] == '/';
}

/* Opens obj's row the way its folder button does, so that the child named
 * child_fdn gets its row.  Waits (opening derives obj when it never was). */
static void open_towards(DataObject* obj, const std::string& child_fdn)
{
    DataObject* child = find_album_object(child_fdn.c_str());
    if (obj->node_state == XiOpen && child && child->shown) return;
    open_object(obj);
}

static bool going = false;

static bool go_to(const std::string& typed, unsigned int cookie)
{
    const std::string rebuilt =
        qx_msg(804, "Go to: the tree was rebuilt meanwhile; nothing was selected");
    if (typed.empty())
        return refuse(typed, 
            qx_msg(800, "Go to: type the FDN of an object into the path line and press Return"));
    if (!root || !root->shown) return refuse(typed, qx_msg(805, "Go to: no tree is shown"));

    /* The server reads the loose forms a person types and answers with its
     * own form of the name, which is the form the tree's objects carry. */
    Image image(DataUnit(typed.c_str()), DataUnit(), Platform::def_platform);
    bool booted = image.get_error_type() == 0 && image.boot(DeriveTimeout); /* waits */
    if (CurrentCookie != cookie) return refuse(typed, rebuilt);
    if (!booted || !image.exists()) {
        /* The library's text names the fault and the name ("no such
         * object ...", "malformed object name ..."). */
        std::string why = image.get_error_string() ? image.get_error_string() : "";
        if (why.empty()) why = qx_msg(801, "no object can be found for ") + typed;
        return refuse(typed, qx_msg(808, "Go to: ") + why);
    }
    DataUnit server_name = image.get_objname();
    std::string fdn = server_name.is_empty() ? typed : server_name.str();
    if (!inside_tree(fdn, root->name))
        return refuse(typed, std::string(qx_msg(802, "Go to: the tree shown starts at ")) + root->name +
                      qx_msg(803, ", which does not hold ") + fdn);

    /* Each ancestor below the tree's root is opened in turn, from the top. */
    std::string parent = root->name;
    for (const std::string& step : fdn_prefixes(fdn)) {
        if (!inside_tree(step, root->name) || step == root->name) continue;
        DataObject* above = find_album_object(parent.c_str());
        if (!above || !above->shown) break;
        open_towards(above, step); /* waits */
        if (CurrentCookie != cookie) return refuse(typed, rebuilt);
        parent = step;
    }
    DataObject* target = find_album_object(fdn.c_str());
    if (!target || !target->shown)
        return refuse(typed, std::string(qx_msg(806, "Go to: no row can be shown for ")) + fdn +
                      qx_msg(807, " (the filter of the view may hide it)"));

    /* Selected alone, through the selection's own steps, so that the menus,
     * the path line and the Action menu follow. */
    if (DataObject::selected_list.entries() != 1 || !target->selected) {
        if (selection_busy)
            return refuse(typed, qx_msg(809, "Go to: a click is still being handled; press Return again"));
        selection_busy = true; /* clicks during the waits are dropped */
        ObjectRef ref(target);
        main_window->deselect_objects(main_window->mw_path, nullptr); /* waits */
        target = ref.get();
        if (target && !target->selected) add(target); /* waits */
        selection_busy = false;
        main_window->update_edit_menu();
        if (CurrentCookie != cookie) return refuse(typed, rebuilt);
        target = ref.get();
    }
    if (!target || !target->shown)
        return refuse(typed, std::string(qx_msg(806, "Go to: no row can be shown for ")) + fdn);
    show_object_row(target);
    status_line(" ");
    return true;
}

bool go_to_object(const char* text)
{
    if (going || !main_window) return false;
    going = true;
    bool ok;
    {
        BusyCursor busy(main_window->shell());
        /* A directory's users type and paste DNs: the tree goes by FDNs. */
        std::string name = trimmed(text);
        if (!name.empty() && name[0] != '/')
            if (DataUnit fdn = platform.to_fdn(DataUnit(name.c_str()))) name = fdn.str();
        ok = go_to(name, CurrentCookie);
    }
    going = false;
    return ok;
}

void path_activate_cb(Widget w, XtPointer, XtPointer)
{
    go_to_object(field_text(w).c_str());
}
