/*
 * test_navigator.cpp - the object tree against a real qx_mis, in process
 * under X: derivation, the first tree, node labels and order, opening nodes,
 * selection and menus, and objects created and destroyed by another client.
 */
#include <gtest/gtest.h>

#include <Xm/PushB.h>
#include <Xm/ToolTipT.h>
#include <Xm/TraitP.h>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "editor_session.h" /* first: gtest before the X headers */

#include "core/globals.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/go_to.h"
#include "tree/navigator.h"
#include "tree/selection.h"
#include "ui/config_win.h"
#include "ui/main_win.h"
/* Private: how many rows the navigator has in view. */
#include "XiOutlineP.h"
#include <X11/keysym.h>

namespace {

const char* kLeeds = "/systemId=\"leeds-core-1\"";
const char* kRack1 = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"";
const char* kLog = "/systemId=\"leeds-core-1\"/logId=\"alarmLog\"";
const char* kShelf1 = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"/shelfId=\"shelf-1\"";
const char* kCtp = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"/shelfId=\"shelf-1\"/"
                   "slotNumber=3/circuitPackId=\"stm16-lr\"/tTPId=\"port-1\"/cTPId=7";

using qxtest::contains;
using qxtest::registered;
using qxtest::resource;
using qxtest::sensitive;
using qxtest::TreeSession;

int state_of(Widget node)
{
    return resource<XiHierarchyNodeState>(node, XiNnodeState);
}
std::string label_of(Widget node)
{
    return xmstring_resource(node, XmNlabelString);
}

/* The tool tip a row widget has now, and its number of lines: a line break,
 * a separator, reads back as nothing. */
std::string tip_of(Widget w)
{
    auto* tip = (XmToolTipTrait)XmeTraitGet((XtPointer)w, XmQTtoolTip);
    if (!tip || !tip->tool_tip_string) return "";
    return xmstring_text(tip->tool_tip_string) + " (" +
           std::to_string(XmStringLineCount(tip->tool_tip_string)) + " lines)";
}

/* The tool tip of an object of the sample network: its class, known here by
 * the attribute that names it, and its full FDN.  Null for other objects. */
const char* expected_tip(const std::string& fdn)
{
    static const std::map<std::string, std::string> classes = {{"systemId", "managedElement"},
                                                               {"equipmentId", "equipmentRack"},
                                                               {"shelfId", "shelf"},
                                                               {"slotNumber", "slot"},
                                                               {"logId", "log"},
                                                               {"logRecordId", "alarmRecord"}};
    static std::string tip;
    size_t slash = fdn.rfind('/');
    auto it = classes.find(fdn.substr(slash + 1, fdn.find('=', slash) - slash - 1));
    if (slash == std::string::npos || it == classes.end()) return nullptr;
    tip = "Class: " + it->second + "FDN: " + fdn + " (2 lines)";
    return tip.c_str();
}

/* The shown children of obj, in the order of their rows in the navigator.
 * Only the rows in view have widgets, so the order is read from the rows,
 * not from the screen: an open obj's children follow its row, one level
 * deeper. */
std::vector<std::string> shown_children(DataObject* obj)
{
    pump_settled();
    row_count(); /* the rows listed, the siblings in their order */
    std::vector<std::string> out;
    for (DataObject* o : obj->shown_children) {
        EXPECT_STREQ(obj->name, o->parent_name);
        out.push_back(o->name);
    }
    long row = object_row(obj);
    if (row >= 0 && obj->node_state == XiOpen) {
        for (size_t i = 0; i < obj->shown_children.size(); i++) {
            long at = object_row(obj->shown_children[i]);
            EXPECT_GT(at, row);
            row = at;
        }
    }
    return out;
}

/* The widget that shows obj's row, scrolled into view. */
Widget node_of(DataObject* obj)
{
    show_object_row(obj);
    EXPECT_NE(nullptr, obj->node) << obj->name;
    return obj->node;
}

/* A row opened or closed by its folder button, the focus staying where it is. */
void set_node_state(DataObject* obj, XiHierarchyNodeState state)
{
    Widget node = node_of(obj);
    XtVaSetValues(node, XiNnodeState, state, NULL);
    XiHierarchyNodeStateData data = {node, state};
    node_state_cb(main_window->mw_navigator, nullptr, &data);
}

void click(DataObject* obj, int count = 1)
{
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    cbs.click_count = count;
    XtCallCallbacks(node_of(obj), XmNactivateCallback, &cbs);
}

/* The session's second client changes the server behind the editor's back:
 * an object of class cls named naming=id under leeds-core-1. */
bool create(const char* cls, const char* naming, const char* id)
{
    return TreeSession::other
        ->call("create", {{"parent", kLeeds}, {"class", cls}, {"values", {{naming, id}}}})
        .contains("result");
}

bool destroy(const std::string& fdn)
{
    return TreeSession::other->call("delete", {{"name", fdn}}).contains("result");
}

struct Tree : TreeSession {};

/* One derivation each, in this order against the same registry: what it
 * returns, and the children it counts.  A class named for the default node
 * is checked by the server for that node only; a failed derivation still
 * counts as returned and says why. */
TEST_F(Tree, DerivationCounts)
{
    static char rack_class[] = "equipmentRack", leeds_name[] = "/systemId=\"leeds-core-1\"";
    struct {
        const char *fdn, *parent;
        int depth;
        const char* filter;
        char* user_class; /* the class the user gave leeds-core-1 */
        int children;
        const char* says; /* in the status line */
    } cases[] = {
        {"/", "", 0, nullptr, nullptr, 4, nullptr},
        {kLeeds, "/", 2, nullptr, nullptr, 3, nullptr},
        {kLeeds, "/", 0, "(objectClass=log)", nullptr, 1, nullptr},
        {"/systemId=\"atlantis-1\"", "/", 1, nullptr, nullptr, 0,
         " FDN:/systemId=\"atlantis-1\"/*"},
        {kLeeds, "/", 0, nullptr, rack_class, 0, " FDN:"},
    };
    char* old_class = user_object_class;
    char* old_name = user_object_name;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fdn) + (c.user_class ? " as " : "") +
                     (c.user_class ? c.user_class : ""));
        user_object_class = c.user_class;
        user_object_name = c.user_class ? leeds_name : old_name;
        DataObject* obj = registered(c.fdn, c.parent);
        EXPECT_EQ(0, obj->derive(c.depth, c.filter));
        EXPECT_EQ(2, obj->derive_state);
        EXPECT_EQ(c.children, obj->num_children);
        EXPECT_TRUE(!c.says || contains(status_text(), c.says)) << status_text();
        if (&c == &cases[0]) {
            EXPECT_EQ(1u, DataObject::object_list.entries()); /* depth 0 creates no objects */
            EXPECT_EQ(0u, obj->flags);
        }
        if (c.depth == 2) { /* children derived, grandchildren registered only */
            DataObject* shelf = find_album_object(kShelf1);
            ASSERT_NE(nullptr, shelf);
            EXPECT_EQ(0, shelf->derive_state);
        }
    }
    user_object_class = old_class;
    user_object_name = old_name;
}

TEST_F(Tree, NestedDerivations)
{
    /* A derivation asked for while the same object waits for the server is
     * refused; one of another object goes ahead. */
    DataObject* log = registered(kLog, kLeeds);
    DataObject* leeds = registered(kLeeds, "/");
    int nested = -1, other_obj = -1;
    after(0, [&] {
        nested = log->derive(0, nullptr);
        other_obj = leeds->derive(0, nullptr);
    });
    EXPECT_EQ(0, log->derive(0, nullptr));
    EXPECT_EQ(1, nested);
    EXPECT_EQ(0, other_obj);
    EXPECT_EQ(146, log->num_children);

    /* A rebuild during the wait: 2, and the object is not touched again. */
    DataObject* rack = registered(kRack1, kLeeds);
    after(0, [] { CurrentCookie++; });
    EXPECT_EQ(2, rack->derive(1, nullptr));
    EXPECT_EQ(1, rack->derive_state);
    EXPECT_EQ(-1, rack->num_children);
}

TEST_F(Tree, FirstTreeRoots)
{
    testing::internal::CaptureStdout();
    first_tree(kLeeds, 2);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(nullptr, root);
    EXPECT_STREQ(kLeeds, root->name);
    EXPECT_STREQ("", root->parent_name);
    EXPECT_FALSE(contains(out, "Invalid Object"));
    EXPECT_EQ(XiOpen, state_of(node_of(root)));
    EXPECT_EQ("systemId=\"leeds-core-1\"", label_of(node_of(root)));
    for (auto [fdn, state] : {std::pair{kRack1, XiOpen}, std::pair{kShelf1, XiClosed}}) {
        DataObject* obj = find_album_object(fdn);
        ASSERT_TRUE(obj && obj->shown) << fdn;
        EXPECT_EQ(state, state_of(node_of(obj))) << fdn;
    }
    EXPECT_TRUE(contains(status_text(), "Tarnwick"));
    EXPECT_FALSE(sensitive(main_window->mw_deselect_button));

    /* An unknown root: a line on standard output and the tree from "/". */
    reset_tree();
    testing::internal::CaptureStdout();
    first_tree("/systemId=\"atlantis-1\"", 1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "Invalid Object: /systemId=\"atlantis-1\"; using '/' for root.\n"));
    EXPECT_STREQ("/", root->name);
    EXPECT_STREQ("/systemId=\"atlantis-1\"", default_root);
    EXPECT_EQ(4u, shown_children(root).size());

    /* Typed loosely: the server's form replaces it.  With FDN labels the
     * row shows the whole FDN. */
    reset_tree();
    fdn_name = true;
    first_tree("/systemId=leeds-core-1", 0);
    EXPECT_STREQ(kLeeds, root->name);
    EXPECT_EQ(kLeeds, label_of(node_of(root)));
}

TEST_F(Tree, OpeningNodes)
{
    first_tree(kLeeds, 1);
    DataObject* rack = find_album_object(kRack1);
    ASSERT_TRUE(rack && rack->shown);
    size_t before = DataObject::object_list.entries();
    set_node_state(rack, XiOpen);
    size_t once = DataObject::object_list.entries();
    std::vector<std::string> rows = shown_children(rack);
    EXPECT_EQ(once - before, rows.size());
    EXPECT_EQ(XiOpen, rack->node_state);
    set_node_state(rack, XiOpen);
    EXPECT_EQ(once, DataObject::object_list.entries());
    EXPECT_EQ(rows, shown_children(rack));

    /* A leaf (a cTP) says so and creates nothing. */
    ASSERT_TRUE(go_to_object(kCtp));
    DataObject* ctp = find_album_object(kCtp);
    set_node_state(ctp, XiOpen);
    EXPECT_TRUE(shown_children(ctp).empty());
    EXPECT_EQ("This Object Does not have any Children", status_text());
    EXPECT_EQ(0, ctp->num_children);

    /* Reports that reach a tree of an older generation change nothing. */
    int children = root->num_children;
    before = DataObject::object_list.entries();
    CurrentCookie++; /* as a rebuild would, but the old objects stay */
    ASSERT_TRUE(create("equipmentRack", "equipmentId", "rack-8"));
    std::string rack8 = std::string(kLeeds) + "/equipmentId=\"rack-8\"";
    ASSERT_TRUE(destroy(rack8));
    ASSERT_TRUE(sync_with_server(kLeeds));
    EXPECT_EQ(before, DataObject::object_list.entries());
    EXPECT_EQ(children, root->num_children);
    EXPECT_EQ(nullptr, find_album_object(rack8.c_str()));
}

TEST_F(Tree, SelectionAndMenus)
{
    MainWin* mw = main_window;
    first_tree(kLeeds, 1);
    DataObject* a = find_album_object(kRack1);
    DataObject* b = find_album_object(kLog);
    DataObject* c = root;
    auto colours = [](DataObject* o) {
        return std::make_pair(resource<Pixel>(node_of(o), XmNforeground),
                              resource<Pixel>(node_of(o), XmNbackground));
    };
    const std::pair<Pixel, Pixel> normal = colours(a), inverse = {normal.second, normal.first};

    /* Get, Create From, Action, the path, Delete and Deselect. */
    auto menus = [mw] {
        return std::vector<bool>{
            sensitive(mw->mw_get_button),    sensitive(mw->mw_create_from_button),
            sensitive(mw->mw_action),        sensitive(mw->mw_path),
            sensitive(mw->mw_delete_button), sensitive(mw->mw_deselect_button)};
    };
    const std::vector<bool> none = {false, true, false, false, false, false};
    const std::vector<bool> one = {true, true, true, true, true, true};
    const std::vector<bool> many = {false, false, false, false, true, true};

    EXPECT_EQ(none, menus()) << "nothing selected";
    click(a);
    EXPECT_EQ(one, menus()) << "one";
    EXPECT_EQ(inverse, colours(a));
    EXPECT_EQ(kRack1, qxtest::text_of(mw->mw_path));
    click(b);
    EXPECT_EQ(many, menus()) << "two";
    click(c);
    EXPECT_EQ(many, menus()) << "three";
    EXPECT_EQ(3u, DataObject::selected_list.entries());

    /* Deselect with three selected leaves nothing, in normal colours. */
    click(a);
    click(c);
    mw->deselect_objects(mw->mw_deselect_button, mw);
    EXPECT_EQ(none, menus()) << "after Deselect";
    EXPECT_TRUE(DataObject::selected_list.is_empty());
    for (DataObject* o : {a, b, c}) {
        EXPECT_EQ(normal, colours(o)) << o->name;
        EXPECT_FALSE(o->selected);
    }

    click(a, 2); /* selects it and shows it in the configuration window */
    EXPECT_TRUE(a->selected && XtIsManaged(object_configuration->oc_dialog));
    XtUnmanageChild(object_configuration->oc_dialog);

    /* A click while another is being handled is dropped. */
    selection_busy = true;
    click(b);
    selection_busy = false;
    EXPECT_FALSE(b->selected);
}

/* Every row in view is shown by the widget bound to it: the widget knows
 * its object, the object its widget, and the label and colours are the
 * object's (inverse when selected).  Rows out of view have no widget. */
void expect_rows_bound_right(const char* when)
{
    Widget nav = main_window->mw_navigator;
    Cardinal top = XiOutlineTopRow(nav);
    Cardinal in_view = ((XiOutlineWidget)nav)->outline.rows_in_view;
    ASSERT_GT(in_view, 0u) << when;
    Pixel fg0 = 0, bg0 = 0;
    for (size_t row = 0; row < row_count(); row++) {
        DataObject* obj = row_object(row);
        Widget w = XiOutlineNodeOfRow(nav, (Cardinal)row);
        if (row < top || row >= top + in_view) {
            if (!w) {
                EXPECT_EQ(nullptr, obj->node) << when << ": " << obj->name;
            }
            continue;
        }
        ASSERT_NE(nullptr, w) << when << ": row " << row;
        EXPECT_EQ(w, obj->node) << when << ": " << obj->name;
        EXPECT_EQ(obj, find_object(w)) << when;
        EXPECT_EQ(node_label(obj->name, false), label_of(w)) << when;
        if (const char* tip = expected_tip(obj->name)) {
            EXPECT_EQ(tip, tip_of(w)) << when;
        }
        Pixel fg, bg;
        XtVaGetValues(w, XmNforeground, &fg, XmNbackground, &bg, NULL);
        if (!obj->selected && fg0 == bg0) fg0 = fg, bg0 = bg;
        if (fg0 != bg0) {
            EXPECT_EQ(obj->selected ? bg0 : fg0, fg) << when << ": " << obj->name;
            EXPECT_EQ(obj->selected ? fg0 : bg0, bg) << when << ": " << obj->name;
        }
    }
}

void scroll_to(Cardinal row)
{
    XiOutlineRowsChanged(main_window->mw_navigator, (long)row);
}

/* The rows of the alarm log's 146 records are far more than the view holds:
 * the widgets in view are reused for other objects as it scrolls. */
TEST_F(Tree, RowsReusedAsTheViewScrolls)
{
    first_tree(kLeeds, 1);
    DataObject* log = find_album_object(kLog);
    set_node_state(log, XiOpen);
    Widget nav = main_window->mw_navigator;
    size_t rows = row_count();
    ASSERT_GT(rows, 146u);
    scroll_to(0);
    expect_rows_bound_right("at the top");

    /* A selected row scrolled away and back is still selected, in the list
     * and in inverse colours. */
    DataObject* rec = find_album_object(shown_children(log)[2].c_str());
    click(rec);
    ASSERT_TRUE(rec->selected);
    Widget w = rec->node;
    XiOutlineShowRow(nav, (Cardinal)rows - 1);
    EXPECT_EQ(nullptr, rec->node);
    expect_rows_bound_right("scrolled to the end");
    scroll_to(0);
    expect_rows_bound_right("back at the top");
    EXPECT_TRUE(rec->selected);
    EXPECT_EQ(rec, DataObject::selected_list.first());

    /* A click on a row widget just reused for another object selects that
     * object, not the one it showed before. */
    scroll_to(5);
    DataObject* now = find_object(w);
    ASSERT_NE(nullptr, now);
    ASSERT_NE(rec, now);
    ::press(w);
    EXPECT_TRUE(now->selected);
    EXPECT_TRUE(rec->selected);
    EXPECT_EQ(2u, DataObject::selected_list.entries());
    expect_rows_bound_right("after the click");
    main_window->deselect_objects(nullptr, main_window);

    /* Records deleted by the server while out of view, one of them
     * selected: the rows close up, the selection forgets it. */
    std::vector<std::string> recs = shown_children(log);
    std::string gone = recs.back(), gone_selected = recs[recs.size() - 2];
    click(find_album_object(gone_selected.c_str()));
    scroll_to(0);
    ASSERT_TRUE(destroy(gone) && destroy(gone_selected));
    ASSERT_TRUE(pump_until(
        [&] {
            return !find_album_object(gone.c_str()) && !find_album_object(gone_selected.c_str());
        },
        10));
    pump_settled();
    EXPECT_EQ(rows - 2, row_count());
    EXPECT_TRUE(DataObject::selected_list.is_empty());
    EXPECT_FALSE(sensitive(main_window->mw_deselect_button)) << "the menus follow";
}

/* Gives a row widget the keyboard focus and sends it a key as the X server
 * would. */
void press(Widget w, KeySym sym)
{
    XmProcessTraversal(w, XmTRAVERSE_CURRENT);
    XEvent ev = key_event(w, sym);
    XtDispatchEvent(&ev);
}

/* Left closes a row, Right opens it again, Return selects as a double click
 * does, and the keyboard focus stays with its object as rows come above it. */
TEST_F(Tree, RowKeysAndTheFocusThatStaysWithItsObject)
{
    XtRealizeWidget(main_window->shell());
    first_tree(kLeeds, 1);
    DataObject* log = find_album_object(kLog);
    DataObject* rack = find_album_object(kRack1);
    set_node_state(log, XiOpen);
    pump_settled();
    size_t open_rows = row_count(), records = log->shown_children.size();
    ASSERT_GT(records, 0u);
    press(node_of(log), XK_Left);
    EXPECT_EQ(XiClosed, log->node_state);
    EXPECT_EQ(open_rows - records, row_count());
    press(node_of(log), XK_Right);
    EXPECT_EQ(XiOpen, log->node_state);
    EXPECT_EQ(open_rows, row_count());
    press(node_of(rack), XK_Return);
    EXPECT_TRUE(rack->selected);
    main_window->deselect_objects(nullptr, main_window);

    DataObject* rec = find_album_object(shown_children(log)[3].c_str());
    XmProcessTraversal(node_of(rec), XmTRAVERSE_CURRENT);
    set_node_state(rack, XiOpen);
    pump_settled();
    EXPECT_EQ(rec->node, XmGetFocusWidget(main_window->mw_navigator));
    /* A key while scrolled away goes to the focused row, not to the row its
     * widget shows now. */
    XiOutlineShowRow(main_window->mw_navigator, (Cardinal)row_count() - 1);
    press(XmGetFocusWidget(main_window->mw_navigator), XK_Return);
    EXPECT_TRUE(rec->selected);
}

/* Escape during an opening whose children come in pages stops it: the rows
 * that came stay, the status line says so, the node counts as not derived,
 * and opening it again brings the rest, each child once. */
TEST_F(Tree, EscapeStopsAPagedOpeningAndReopeningDerivesTheRest)
{
    XtRealizeWidget(main_window->shell());
    setenv("QX_KVL_PAGE_SIZE", "100", 1);
    const std::string box = std::string(kLeeds) + "/logId=\"pages\"";
    ASSERT_TRUE(create("log", "logId", "pages"));
    ASSERT_TRUE(create_many(box, "alarmRecord", "logRecordId", 1, 3000, 1000));
    first_tree(kLeeds, 1);
    DataObject* obj = find_album_object(box.c_str());
    ASSERT_NE(nullptr, obj);

    /* Escape waits in the queue: the derivation's wait takes it. */
    XEvent key = key_event(main_window->shell(), XK_Escape);
    XSendEvent(display, key.xkey.window, True, KeyPressMask, &key);
    XSync(display, False);
    set_node_state(obj, XiOpen);
    obj = find_album_object(box.c_str());
    ASSERT_NE(nullptr, obj);
    size_t kept = shown_children(obj).size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 3000u);
    EXPECT_EQ(0, obj->derive_state);
    EXPECT_TRUE(contains(status_text(), "Stopped deriving"));

    set_node_state(obj, XiClosed);
    set_node_state(obj, XiOpen);
    obj = find_album_object(box.c_str());
    ASSERT_NE(nullptr, obj);
    std::vector<std::string> rows = shown_children(obj);
    EXPECT_EQ(3000u, rows.size());
    EXPECT_EQ(3000u, std::set<std::string>(rows.begin(), rows.end()).size());
    EXPECT_EQ(2, obj->derive_state);
    size_t registered = 0;
    for (size_t i = 0; i < DataObject::object_list.entries(); i++)
        registered += strncmp(DataObject::object_list.at(i)->name, box.c_str(), box.size()) == 0;
    EXPECT_EQ(3001u, registered);

    reset_tree();
    unsetenv("QX_KVL_PAGE_SIZE");
    EXPECT_TRUE(destroy(box));
}

} // namespace
