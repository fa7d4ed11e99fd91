/*
 * default_prefs.cpp - the Default Preferences dialog's operations: Default
 * fills the fields from the start-up values, Ok and Apply throw the tree away
 * and build it again from the new default node, Cancel does nothing more than
 * hide the dialog.
 */
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <string>

#include "core/catalog.h"
#include "core/field_text.h"
#include "core/globals.h"
#include "prefs/prefs_api.h"
#include "tree/tree_api.h"
#include "ui/busy_cursor.h"
#include "ui/default_win.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

void (*raw_events_hook)(bool) = nullptr;
int rebuilds_waiting = 0; /* rebuilds under way, nested ones included */

/* The strings this file put into user_object_class and user_object_name.
 * Their start-up values are static, so only what was made here is released;
 * the tree reads both afresh at each derivation and keeps neither. */
CString owned_class, owned_name, stripped;

/* Every filter applied: a derivation waiting in an older generation may still
 * hold the pointer it was given, so none is released. */
std::list<std::string> applied_filters;

void set_owned(CString& owner, char*& global_ptr, const char* value)
{
    CString copy(strdup(value ? value : ""));
    global_ptr = copy.get();
    owner = std::move(copy);
}

/* Raw events stay off until the outermost rebuild has finished. */
void raw_events(bool on)
{
    if (raw_events_hook && (!on || rebuilds_waiting == 0)) raw_events_hook(on);
}

/* A rebuild under way for its scope: counted in rebuilds_waiting, with raw
 * events off until the outermost one ends. */
class RebuildUnderWay {
public:
    RebuildUnderWay()
    {
        rebuilds_waiting++;
        raw_events(false);
    }
    ~RebuildUnderWay()
    {
        rebuilds_waiting--;
        raw_events(true);
    }
    RebuildUnderWay(const RebuildUnderWay&) = delete;
    RebuildUnderWay& operator=(const RebuildUnderWay&) = delete;
};

/* Whether the server reads filter: one search of base alone, so that no
 * object is walked.  False only when the server refuses the filter itself,
 * with why holding its text, which says where the filter is malformed; a
 * failure of another kind (a lost connection, a time-out) is left to the
 * derivation, which reports it.  Waits for the server. */
bool filter_read(const std::string& base, const std::string& filter, std::string& why)
{
    Search probe;
    if (probe.run(DataUnit(base.c_str()), DataUnit(filter.c_str()), 0, 1, DeriveTimeout))
        return true;
    if (probe.get_error_type() != KVL_ERR_BAD_DERIVATION) return true;
    why = probe.get_error_string() ? probe.get_error_string() : "";
    return false;
}

/* The dialog for a filter the server cannot read, on parent, and the same
 * text in the status line on one line.  In the dialog the server's words
 * and the filter they quote ("... at position 12 in '(&(a=1)'") stand on
 * lines of their own, so that the dialog stays narrow. */
void refuse_filter(Widget parent, const std::string& why, const std::string& base)
{
    std::string head = qx_msg(850, "The CMIS filter is refused and the tree is kept as it was:");
    std::string lines = why;
    size_t quote = lines.find(" in '");
    if (quote != std::string::npos) lines.replace(quote, 1, "\n");
    error_dialog(parent, bounded_label((head + "\n" + lines).c_str()).c_str());
    status_line(bounded_label((head + " " + why).c_str()).c_str(), base.c_str());
}

} // namespace

void set_raw_events_hook(void (*hook)(bool on))
{
    raw_events_hook = hook;
}

bool rebuild_waiting()
{
    return rebuilds_waiting > 0;
}

char* strip_objclass(char* text)
{
    const char* mark = text ? strstr(text, ":OC:") : nullptr;
    if (!mark) {
        set_owned(owned_class, user_object_class, "");
        set_owned(owned_name, user_object_name, "");
        return text;
    }
    stripped.reset(strndup(text, (size_t)(mark - text)));
    set_owned(owned_class, user_object_class, mark + 4);
    set_owned(owned_name, user_object_name, stripped.get());
    return stripped.get();
}

void DefaultWin::reset_defaults()
{
    XmTextFieldSetString(dp_default_node, default_root ? default_root : const_cast<char*>(""));
    XmTextFieldSetString(dp_scope,
                         default_scope_string ? default_scope_string : const_cast<char*>(""));
    XmTextFieldSetString(dp_filter, default_filter ? default_filter : const_cast<char*>(""));
    XmToggleButtonGadgetSetState(dp_fdn_toggle, False, False);
    XmToggleButtonGadgetSetState(dp_rdn_tog, True, False);
    /* Nodes made from now on are labelled by RDN, before any Ok. */
    fdn_name = false;
    /* The tree is not touched: the order shown changes with the next
     * rebuild, which reads the toggle (default_ok_cb). */
    XmToggleButtonGadgetSetState(dp_natural_order, False, False);
}

/* The order of siblings needs no server: it changes on the spot, and the
 * rows already shown move into it. */
void DefaultWin::natural_order_cb(Widget, void*)
{
    bool on = XmToggleButtonGadgetGetState(dp_natural_order);
    if (on == natural_order) return;
    natural_order = on;
    resort_siblings();
}

void DefaultWin::default_cancel_cb(Widget, void*) {}

/* Waits for the server three times: the check of the new root, the check
 * of the filter, then the derivation.  A second Ok or Apply during a wait
 * starts a nested rebuild, which ends this one's generation: the derivation
 * then answers 2 and this rebuild stops, leaving the tree to the nested one;
 * so does the check of the filter, which re-checks CurrentCookie after its
 * wait.  The new root is not registered before the old tree is dropped, so
 * nothing of it can go while a nested rebuild runs during the checks.  Both
 * checks come before the old tree is torn down: a refused node or filter
 * leaves it as it was. */
void DefaultWin::default_ok_cb(Widget w, void*)
{
    Widget parent = w ? XtParent(w) : dp_dialog;
    if (XmToggleButtonGadgetGetState(dp_fdn_toggle)) fdn_name = true;
    if (XmToggleButtonGadgetGetState(dp_rdn_tog)) fdn_name = false;

    BusyCursor busy(main_window ? main_window->shell() : nullptr);
    RebuildUnderWay under_way;

    std::string node_text = field_text(dp_default_node);
    std::string fdn = strip_objclass(&node_text[0]);
    /* Read as atoi reads it: "" and "two" are 0, "3x" is 3.  The field
     * keeps what the user typed. */
    default_scope = atoi(field_text(dp_scope).c_str());
    std::string objclass = user_object_class ? user_object_class : "";

    std::unique_ptr<DataObject> obj(new DataObject(nullptr));
    obj->name = strdup(fdn.empty() ? "/" : fdn.c_str());
    obj->parent_name = intern_name("");
    if (!is_valid_object(obj.get(), objclass.c_str())) {
        /* The dialog and the status line first: the busy cursor stays on
         * and raw events stay off until the user has answered. */
        const char* msg = qx_msg(700, "Default Node is either invalid or is presently unreachable");
        error_dialog(parent, msg);
        status_line(msg, obj->name);
        return;
    }

    std::string filter = field_text(dp_filter);
    size_t start = filter.find_first_not_of(" \t\n");
    filter = start == std::string::npos ? "" : filter.substr(start);
    /* Adds to the rebuild: a filter the server cannot read would empty the
     * tree, so it is refused here, the old tree kept, as a refused node is. */
    std::string why;
    unsigned int cookie = CurrentCookie;
    bool readable = filter.empty() || filter_read(obj->name, filter, why); /* waits */
    if (CurrentCookie != cookie) return; /* a nested rebuild took over: its tree stands */
    if (!readable) {
        refuse_filter(parent, why, obj->name);
        return;
    }

    status_line("     ");
    if (user_object_name && *user_object_name) set_owned(owned_name, user_object_name, obj->name);
    applied_filters.push_back(filter);
    current_filter = const_cast<char*>(applied_filters.back().c_str());

    /* The new tree is built in the order the toggle asks for (Default may
     * have switched it off without touching the old tree). */
    bool shown = rebuild_tree(std::move(obj), default_scope,
                              XmToggleButtonGadgetGetState(dp_natural_order)); /* waits */
    if (main_window) XtSetSensitive(main_window->mw_path, False);
    if (!shown) return;
    check_selected(0);
    if (main_window) XtSetSensitive(main_window->mw_select_button, True);
}
