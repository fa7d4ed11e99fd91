/*
 * test_default_prefs.cpp - the Default Preferences dialog against a real
 * qx_mis, in process under X: Default, the rebuild from a new default node,
 * the refusals that keep the old tree; and the Select dialog's search at each
 * scope, with no match, with bad input, and into closed branches, its list of
 * matches and a double click on one; views and named filters saved, listed,
 * loaded and applied, and a damaged file.
 */
#include "editor_session.h"

#include <Xm/List.h>
#include <Xm/SelectioB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>

#include <fstream>
#include <string>

#include "prefs/prefs_api.h"
#include "prefs/view_store.h"
#include "ui/default_win.h"
#include "ui/main_win.h"
#include "ui/open_win.h"
#include "ui/select_win.h"

using namespace qxtest;

namespace {

const char* kLeeds = "/systemId=\"leeds-core-1\"";
/* Its slots 1 to 16 differ in natural and in name order. */
const char* kShelf = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"/shelfId=\"shelf-1\"";

DefaultWin* dp = nullptr;

void fill(const char* node, const char* scope, const char* filter)
{
    XmTextFieldSetString(dp->dp_default_node, const_cast<char*>(node));
    XmTextFieldSetString(dp->dp_scope, const_cast<char*>(scope));
    XmTextFieldSetString(dp->dp_filter, const_cast<char*>(filter));
}

/* Apply pressed, the fields filled first when node is given; the error
 * dialog's message, or "". */
std::string apply(const char* node = nullptr, const char* scope = "", const char* filter = "")
{
    if (node) fill(node, scope, filter);
    return answered([] { dp->default_ok_cb(dp->dp_apply_button, dp); });
}

/* The RDNs of the rows below the root, in the order shown. */
std::vector<std::string> rows_below_root()
{
    std::vector<std::string> out;
    for (size_t i = 1; i < row_count(); i++) out.push_back(strrchr(row_object(i)->name, '/') + 1);
    return out;
}

/* The tree the editor shows, built as at start-up. */
struct Prefs : EditorSession {
    static void SetUpTestSuite()
    {
        EditorSession::SetUpTestSuite();
        if (!mis) return;
        Platform::def_platform = platform;
        dp = default_preferences;
        build_tree();
        pump_settled();
    }
    void SetUp() override
    {
        EditorSession::SetUp();
        ASSERT_NE(nullptr, root);
    }
};

TEST_F(Prefs, DefaultFillsTheStartUpValuesAndLeavesTheTree)
{
    ASSERT_EQ("", apply(kShelf, "1"));
    XmToggleButtonGadgetSetState(dp->dp_natural_order, True, True);
    std::vector<std::string> natural = rows_below_root();
    ASSERT_EQ(16u, natural.size());
    ASSERT_EQ("slotNumber=2", natural[1]);
    XmToggleButtonGadgetSetState(dp->dp_natural_order, False, True);
    EXPECT_EQ("slotNumber=10", rows_below_root().at(1)) << "switched off, FDN order comes back";
    XmToggleButtonGadgetSetState(dp->dp_natural_order, True, True);
    DataObject* before = root;
    unsigned cookie = CurrentCookie;
    fill("/x=1", "9", "(x=1)");
    XmToggleButtonGadgetSetState(dp->dp_fdn_toggle, True, True);
    fdn_name = true;
    dp->reset_defaults();
    EXPECT_EQ(default_root, text_of(dp->dp_default_node));
    EXPECT_EQ(default_scope_string, text_of(dp->dp_scope));
    EXPECT_EQ("", text_of(dp->dp_filter));
    EXPECT_FALSE(XmToggleButtonGadgetGetState(dp->dp_fdn_toggle));
    EXPECT_TRUE(XmToggleButtonGadgetGetState(dp->dp_rdn_tog));
    EXPECT_FALSE(fdn_name);
    EXPECT_FALSE(XmToggleButtonGadgetGetState(dp->dp_natural_order));
    EXPECT_EQ(before, root);
    EXPECT_EQ(cookie, CurrentCookie);
    EXPECT_EQ(natural, rows_below_root()) << "the rows keep their order";
    /* The next rebuild shows the order the toggle asks for. */
    ASSERT_EQ("", apply(kShelf, "1"));
    EXPECT_EQ("slotNumber=10", rows_below_root().at(1));
    EXPECT_EQ("", apply(default_root, default_scope_string));
}

TEST_F(Prefs, ApplyRebuildsFromTheNewRootOrKeepsTheOldTree)
{
    struct {
        const char *node, *scope, *filter;
        const char* root_name;
        int depth; /* default_scope afterwards */
        const char* filter_after;
        const char* objclass; /* user_object_class afterwards */
    } cases[] = {
        {kLeeds, "1", "   (objectClass=equipmentRack)", kLeeds, 1, "(objectClass=equipmentRack)",
         ""},
        {"", "", "", "/", 0, "", ""},
        {"/systemId=\"leeds-core-1\":OC:managedElement", " 2 ", "", kLeeds, 2, "",
         "managedElement"},
        {kLeeds, "-1", "", kLeeds, -1, "", ""},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.node);
        DataObject::selected_list.append(root);
        unsigned cookie = CurrentCookie;
        EXPECT_EQ("", apply(c.node, c.scope, c.filter));
        ASSERT_NE(nullptr, root);
        EXPECT_STREQ(c.root_name, root->name);
        EXPECT_EQ(cookie + 1, CurrentCookie);
        EXPECT_EQ(c.depth, default_scope);
        EXPECT_EQ(c.scope, text_of(dp->dp_scope));
        EXPECT_STREQ(c.filter_after, current_filter);
        EXPECT_STREQ(c.objclass, user_object_class);
        EXPECT_TRUE(DataObject::selected_list.is_empty());
        EXPECT_FALSE(XtIsSensitive(main_window->mw_deselect_button));
        ASSERT_TRUE(root->shown);
        /* Scope 0 or less shows the root alone, closed. */
        if (c.depth <= 0)
            EXPECT_EQ(1u, DataObject::object_list.entries());
        else
            EXPECT_GT(DataObject::object_list.entries(), 1u);
    }

    /* A default node or a filter the server does not accept: the dialog,
     * with the status line as it was until it is answered, then the message
     * in the status line.  The old tree, its rows, the selection, the filter
     * and the menus stay; the labels and the scope asked for are taken. */
    ASSERT_EQ("", apply(kLeeds, "1"));
    const char* refused = "Default Node is either invalid or is presently unreachable";
    const char* bad_filter = "The CMIS filter is refused and the tree is kept as it was:";
    struct {
        const char *node, *scope;
        int depth; /* default_scope afterwards */
        const char *filter = "", *message = nullptr; /* its start; null: refused */
    } refusals[] = {
        {"/systemId=\"nowhere\"", "1", 1},
        {"/systemId=\"nowhere\"", "3x", 3},
        {"/systemId=\"leeds-core-1\":OC:equipmentRack", "two", 0},
        {kLeeds, "2", 2, "(&(objectClass=shelf)", bad_filter},
        {kLeeds, "1", 1, " (userLabel=a)x", bad_filter},
        {kLeeds, "1", 1, "(noSuchAttribute=1)", bad_filter},
    };
    Widget probe = main_window->mw_message_label;
    ASSERT_TRUE(pump_until([&] { return viewable(probe); }, 5));
    for (auto& c : refusals) {
        SCOPED_TRACE(c.node);
        DataObject* before = root;
        size_t count = DataObject::object_list.entries();
        unsigned cookie = CurrentCookie;
        DataObject::selected_list.append(root);
        size_t rows = row_count();
        fill(c.node, c.scope, c.filter);
        XmToggleButtonGadgetSetState(dp->dp_fdn_toggle, True, False);
        XmToggleButtonGadgetSetState(dp->dp_rdn_tog, False, False);
        global.update_label(probe, "before");
        std::string status_meanwhile;
        auto ok = [] { dp->default_ok_cb(dp->dp_apply_button, dp); };
        std::string message = answered(ok, [&] { status_meanwhile = status_text(); });
        std::string says = c.message ? c.message : refused;
        EXPECT_EQ(says, message.substr(0, says.size()));
        EXPECT_EQ("before", status_meanwhile);
        if (c.message) {
            EXPECT_TRUE(contains(message, "malformed filter: ")) << message;
            EXPECT_TRUE(contains(message, " at position ")) << message;
            EXPECT_EQ(0u, status_text().find("The CMIS filter is refused")) << status_text();
        } else {
            EXPECT_EQ(refused, status_text());
        }
        EXPECT_STREQ("", current_filter);
        EXPECT_EQ(rows, row_count());
        EXPECT_TRUE(fdn_name);
        EXPECT_EQ(c.depth, default_scope);
        EXPECT_EQ(before, root);
        EXPECT_EQ(count, DataObject::object_list.entries());
        EXPECT_EQ(cookie, CurrentCookie);
        EXPECT_EQ(1u, DataObject::selected_list.entries());
        DataObject::selected_list.clear();
    }
    XmToggleButtonGadgetSetState(dp->dp_fdn_toggle, False, False);
    XmToggleButtonGadgetSetState(dp->dp_rdn_tog, True, False);
    fdn_name = false;
}

/* Sets the Select dialog's fields and presses Select; the error dialog's
 * message, or "" when none came. */
std::string search(const char* filter, Widget scope, const char* levels = "")
{
    SelectWin* sw = selection_window;
    XmTextFieldSetString(sw->sw_cmis_filter, const_cast<char*>(filter));
    XmTextFieldSetString(sw->sw_number_levels, const_cast<char*>(levels));
    XmToggleButtonGadgetSetState(scope, True, True);
    return answered([sw] { sw->select_objects_cb(sw->sw_select_button, sw); });
}

/* Searches from the root, one row at a time: a refused one (message) shows
 * the dialog and changes nothing, the others select their matches, with
 * every ancestor opened, closed branches included; then a double click on a
 * match, and a search with more matches than it may select. */
TEST_F(Prefs, SearchSelectsMatchesAtEachScopeAndRefusesBadInput)
{
    SelectWin* sw = selection_window;
    ASSERT_EQ("", apply(kLeeds, "1"));
    EXPECT_TRUE(XtIsSensitive(main_window->mw_select_button));
    DataObject* keep = root;
    struct {
        const char* filter;
        Widget scope;
        const char *levels, *message;
        size_t selected = 0;
        const char* status = "";
    } cases[] = {
        {"(objectClass=equipmentRack)", sw->sw_scope_this_level, "", "", 2, "2 objects found"},
        {"(objectClass=shelf)", sw->sw_scope_this_level, "", "", 0, "no object matches"},
        {"(objectClass=shelf)", sw->sw_scope_down, "2", "", 3, "3 objects found"},
        {"(objectClass=trailTerminationPointBidirectional)", sw->sw_scope_to_bottom, "", "", 58,
         "58 objects found"},
        {"(&(objectClass=shelf", sw->sw_scope_to_bottom, "", "malformed filter"},
        {"(noSuchAttribute=1)", sw->sw_scope_to_bottom, "", "malformed filter"},
        {"(objectClass=shelf)", sw->sw_scope_down, "two", "Number of levels"},
        {"(objectClass=shelf)", sw->sw_scope_down, "0", "Number of levels"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " " + c.levels);
        main_window->deselect_objects(nullptr, nullptr);
        if (*c.message) add(root); /* the selection a refusal must keep */
        size_t count = DataObject::object_list.entries();
        std::string msg = search(c.filter, c.scope, c.levels);
        if (*c.message) {
            EXPECT_TRUE(contains(msg, c.message)) << msg;
            EXPECT_EQ(std::vector<std::string>{kLeeds}, selected_names());
            EXPECT_EQ(count, DataObject::object_list.entries());
            EXPECT_EQ(keep, root);
            continue;
        }
        EXPECT_EQ("", msg);
        EXPECT_EQ(c.selected, DataObject::selected_list.entries());
        EXPECT_EQ(c.status, status_text());
        EXPECT_EQ(std::string("Matches: ") + c.status,
                  xmstring_resource(sw->sw_found_label, XmNlabelString));
        EXPECT_EQ(c.selected, (size_t)resource<int>(sw->sw_found_list, XmNitemCount));
        for (DataObject* o : DataObject::selected_list.items()) {
            EXPECT_TRUE(o->selected);
            EXPECT_TRUE(o->shown) << o->name;
            for (DataObject* up = find_album_object(o->parent_name); up && up != root;
                 up = find_album_object(up->parent_name))
                EXPECT_EQ(XiOpen, up->node_state) << up->name;
        }
    }
    main_window->deselect_objects(nullptr, nullptr);
    /* The search runs below the selected object. */
    add(find_album_object((std::string(kLeeds) + "/equipmentId=\"rack-2\"").c_str()));
    EXPECT_EQ("", search("(objectClass=equipmentRack)", sw->sw_scope_to_bottom));
    EXPECT_TRUE(selected_names().empty());

    /* A search while a rebuild waits is refused. */
    std::string during;
    after(0, [&] { during = search("(objectClass=shelf)", sw->sw_scope_to_bottom); });
    /* Whichever of the two waits answers the dialog hears its message. */
    during += apply(kLeeds, "1");
    EXPECT_TRUE(contains(during, "being rebuilt")) << during;
    main_window->deselect_objects(nullptr, nullptr);

    /* A double click on a listed match goes to it, in a tree rebuilt since
     * the search: its ancestors opened, it alone selected, its row in view. */
    ASSERT_EQ("", search("(objectClass=trailTerminationPointBidirectional)",
                         sw->sw_scope_to_bottom));
    int n = resource<int>(sw->sw_found_list, XmNitemCount);
    ASSERT_EQ(58, n);
    std::string last = sw->found_name(n);
    ASSERT_EQ(0u, last.find(kLeeds));
    ASSERT_EQ("", apply());
    ASSERT_EQ(nullptr, find_album_object(last.c_str()));
    XmListSelectPos(sw->sw_found_list, n, False);
    XmListCallbackStruct call{};
    call.reason = XmCR_DEFAULT_ACTION;
    call.item_position = n;
    XtCallCallbacks(sw->sw_found_list, XmNdefaultActionCallback, &call);
    EXPECT_EQ(std::vector<std::string>{last}, selected_names()) << status_text();
    DataObject* obj = find_album_object(last.c_str());
    ASSERT_TRUE(obj && obj->node); /* scrolled into view */
    EXPECT_EQ(obj, find_object(obj->node));
    main_window->deselect_objects(nullptr, nullptr);

    /* Past the limit: 1,200 more alarm records, created by another client in
     * two batches. */
    const char* log = "/systemId=\"leeds-core-1\"/logId=\"alarmLog\"";
    ASSERT_TRUE(create_many(log, "alarmRecord", "logRecordId", 50000, 1200, 600));
    long total = other->result(
        "search",
        {{"base", kLeeds}, {"filter", "(objectClass=alarmRecord)"}, {"limit", 1}})["count"];
    ASSERT_GT(total, 1200);
    EXPECT_EQ("", search("(objectClass=alarmRecord)", sw->sw_scope_to_bottom));
    EXPECT_EQ(1000u, DataObject::selected_list.entries());
    EXPECT_EQ(std::to_string(total) + " objects found, " + std::to_string(total - 1000) +
                  " more past the limit of 1000 not selected",
              status_text());
    main_window->deselect_objects(nullptr, nullptr);
}

/* Types name into the Open View dialog and presses its Apply; the error
 * dialog's message, or "". */
std::string choose(const std::string& name)
{
    OpenWin* ov = open_view;
    XmTextFieldSetString(XmSelectionBoxGetChild(ov->ov_selection_box, XmDIALOG_TEXT),
                         const_cast<char*>(name.c_str()));
    return answered([ov] { ov->choose_cb(ov->ov_selection_box, ov); });
}

std::vector<std::string> listed()
{
    Widget list = XmSelectionBoxGetChild(open_view->ov_selection_box, XmDIALOG_LIST);
    XmStringTable items = resource<XmStringTable>(list, XmNitems);
    std::vector<std::string> out;
    for (int i = 0; i < resource<int>(list, XmNitemCount); i++)
        out.push_back(xmstring_text(items[i]));
    return out;
}

TEST_F(Prefs, ViewsAndFiltersAreSavedListedLoadedAndApplied)
{
    qxtest::TempDir config;
    setenv("XDG_CONFIG_HOME", config.path.c_str(), 1);
    /* The file keeps any name (view_store tests); a list row shows no tab. */
    const std::string name = "racks \\ \"of\" leeds";
    fill(kLeeds, "1", "(objectClass=equipmentRack)");
    XmToggleButtonGadgetSetState(dp->dp_fdn_toggle, True, True);
    dp->save_view_cb(dp->dp_save_view, dp);
    EXPECT_TRUE(XtIsManaged(open_view->ov_dialog));
    EXPECT_EQ("", choose(name));
    EXPECT_FALSE(XtIsManaged(open_view->ov_dialog));

    fill("/", "3", "");
    dp->reset_defaults();
    dp->load_view_cb(dp->dp_load_view, dp);
    EXPECT_EQ(std::vector<std::string>{name}, listed());
    EXPECT_NE("", choose("no such view"));
    EXPECT_EQ("", choose(name));
    EXPECT_EQ(kLeeds, text_of(dp->dp_default_node));
    EXPECT_EQ("1", text_of(dp->dp_scope));
    EXPECT_TRUE(XmToggleButtonGadgetGetState(dp->dp_fdn_toggle));
    EXPECT_EQ("", apply());
    EXPECT_STREQ(kLeeds, root->name);
    EXPECT_STREQ("(objectClass=equipmentRack)", current_filter);
    EXPECT_TRUE(fdn_name);
    XmToggleButtonGadgetSetState(dp->dp_rdn_tog, True, True);
    fdn_name = false;

    /* Named filters go the same way, in a file of their own. */
    SelectWin* sw = selection_window;
    XmTextFieldSetString(sw->sw_cmis_filter, const_cast<char*>("(objectClass=shelf)"));
    sw->save_filter_cb(sw->sw_save_button, sw);
    EXPECT_EQ("", choose("shelves"));
    XmTextFieldSetString(sw->sw_cmis_filter, const_cast<char*>(""));
    sw->load_filter_cb(sw->sw_load_button, sw);
    EXPECT_EQ(std::vector<std::string>{"shelves"}, listed());
    EXPECT_EQ("", choose("shelves"));
    EXPECT_EQ("(objectClass=shelf)", text_of(sw->sw_cmis_filter));

    /* A damaged file is reported, not listed, and refused for a save. */
    std::ofstream(RecordFile("views", 4).path(), std::ios::trunc) << "garbage\n";
    std::string msg = answered([] { dp->load_view_cb(dp->dp_load_view, dp); });
    EXPECT_TRUE(contains(msg, "damaged")) << msg;
    EXPECT_FALSE(XtIsManaged(open_view->ov_dialog));
    open_view->mode = OpenWin::SAVE_VIEW;
    EXPECT_TRUE(contains(choose("another"), "damaged"));
    XtUnmanageChild(open_view->ov_dialog);
}

} // namespace
