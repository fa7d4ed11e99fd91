/*
 * delete_objects.cpp - Edit > Delete: deletes the selected objects, with their
 * subtrees, after a confirmation, and reports how many objects went.  The
 * navigator follows the server's OBJECT_DESTROYED events, not this file.
 */
#include <Xm/Xm.h>
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "core/globals.h"
#include "objects/objects_internal.h"
#include "tree/tree_api.h"
#include "ui/busy_cursor.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

namespace {

/* The report of a run: "1 object deleted." or "<n> objects deleted.". */
std::string deleted_text(int total)
{
    return std::to_string(total) + " " +
           (total == 1 ? qx_msg(305, "object deleted.") : qx_msg(306, "objects deleted."));
}

/* Deletes each object of objs in turn and returns how many objects went, the
 * descendants included, counting the objects before the one the server
 * refused, whose refusal goes into refusal (the run stops there; a
 * directory's says how much of that subtree went and which entry stopped
 * it).  Waits. */
int delete_each(const std::vector<ObjectRef>& objs, std::string& refusal)
{
    int total = 0;
    for (const ObjectRef& ref : objs) {
        /* Counted before the request.  An object no longer registered is
         * counted on one made for the count, as the count does for the
         * children it has not seen. */
        int k;
        if (DataObject* obj = ref.get()) {
            k = get_num_objs(obj); /* waits */
        } else {
            DataObject counted(ref.name().c_str());
            k = get_num_objs(&counted); /* waits */
        }
        Image image(DataUnit(ref.name().c_str()), DataUnit(), Platform::def_platform);
        if (!image.destroy(DeriveTimeout)) { /* waits */
            refusal = image.get_error_string();
            if (refusal.empty()) refusal = "refused";
            return total;
        }
        /* k is -1 for an object whose derivation never started: it and
         * its descendants add nothing then. */
        total += k + 1;
    }
    return total;
}

/* object: the one object deleted, "" for several (the log then names none). */
void report(const std::string& text, const std::string& object)
{
    status_line(text.c_str(), object.c_str());
    information_dialog(main_window->shell(), bounded_label(text.c_str()).c_str());
}

} // namespace

int get_num_objs(DataObject* obj)
{
    if (obj->derive_state == 0 && obj->derive(0, current_filter) == 2) /* waits */
        return 0;
    int n = obj->num_children;
    if (n <= 0) return n;
    /* The whole subtree in one question to the server, walked as deriving
     * one level at a time with the current filter would walk it; asking
     * level by level costs a round trip per object, leaves included, since
     * nothing tells a leaf from a container before it is derived.  Should
     * the question fail (obj deleted meanwhile, the connection lost), the
     * children known here are the count. */
    const std::string name = obj->name ? obj->name : "";
    const unsigned int cookie = CurrentCookie;
    Search count(Platform::def_platform);
    bool counted = count.count_reachable(DataUnit(name.c_str()), DataUnit(current_filter),
                                         DeriveTimeout); /* waits */
    if (!counted || CurrentCookie != cookie) return n;
    return (int)std::min<long>(count.count, INT_MAX);
}

/* The question, the counts and the deletions wait.  The selection is taken
 * as ObjectRefs first, and each object is found again when its turn comes:
 * one that a report of its destruction or a rebuild of the tree took out of
 * the registry meanwhile is never read.  It is deleted all the same, since
 * the request needs only its name; the server refuses it when another client
 * deleted it, and the run stops there as at any refusal.  The texts are
 * std::strings: an FDN of any length fits, and the dialogs cut what X would
 * refuse. */
void MainWin::delete_object_cb(Widget w, XtPointer)
{
    std::vector<ObjectRef> objs;
    for (DataObject* obj : DataObject::selected_list.items()) objs.emplace_back(obj);

    std::string question;
    if (objs.size() == 1) {
        int children = 0;
        {
            BusyCursor busy(shell());
            DataObject* obj = objs[0].get();
            if (obj) children = get_num_children(obj); /* waits */
        }
        question = std::string(qx_msg(300, "Are you sure you want to delete object")) + " " +
                   objs[0].name() + " ?";
        if (children > 0)
            question += std::string("\n") + qx_msg(301, "The children will also be deleted.");
    } else {
        question =
            std::string(qx_msg(302, "Are you sure you want to delete the selected objects?")) +
            "\n" + qx_msg(303, "The children will also be deleted.");
    }
    if (question_dialog(w, bounded_label(question.c_str()).c_str(), ok_cancel_ques_cb,
                        ok_cancel_ques_cb) != XmCR_OK) /* waits */
        return;

    int total;
    std::string refusal;
    {
        BusyCursor busy(shell());
        total = delete_each(objs, refusal); /* waits */
    }
    std::string text = refusal.empty() || total > 0 ? deleted_text(total)
                                                    : std::string(qx_msg(304, "0 objects deleted."));
    if (!refusal.empty()) text += " " + refusal;
    report(text, objs.size() == 1 ? objs[0].name() : std::string());
}
