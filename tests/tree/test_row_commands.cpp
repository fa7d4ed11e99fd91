/*
 * test_row_commands.cpp - going to an object from the path line, the rows'
 * popup menu and the Delete key, against a real qx_mis, in process under X.
 */
#include <gtest/gtest.h>

#include <Xm/Text.h>
#include <string>
#include <vector>

#include "editor_session.h" /* first: gtest before the X headers */

#include "core/globals.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/go_to.h"
#include "tree/navigator.h"
#include "tree/row_menu.h"
#include "tree/selection.h"
#include "ui/action_win.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

namespace {

using qxtest::contains;
using qxtest::sensitive;

const std::string kLeeds = "/systemId=\"leeds-core-1\"";
const std::string kRack1 = kLeeds + "/equipmentId=\"rack-1\"";
const std::string kPort =
    kRack1 + "/shelfId=\"shelf-1\"/slotNumber=3/circuitPackId=\"stm16-lr\"/tTPId=\"port-1\"";
const std::string kLog = kLeeds + "/logId=\"alarmLog\"";

/* The objects that have rows, by name, and whether each is open: what a
 * go-to that fails must not change. */
std::vector<std::string> shown()
{
    std::vector<std::string> out;
    for (size_t i = 0; i < DataObject::object_list.entries(); i++) {
        DataObject* o = DataObject::object_list.at(i);
        if (o->shown) out.push_back(o->name + std::string(o->node_state == XiOpen ? " +" : ""));
    }
    return out;
}

/* Each case starts from the first tree of leeds-core-1. */
struct RowCommands : qxtest::TreeSession {
    void SetUp() override
    {
        TreeSession::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        first_tree(kLeeds, 1);
        ASSERT_NE(nullptr, root);
    }
};

TEST_F(RowCommands, GoToOpensSelectsAndShows)
{
    /* The view scrolled to the end of the log: the rows of the ancestors to
     * open have no widgets. */
    DataObject* log = find_album_object(kLog.c_str());
    ASSERT_TRUE(log);
    open_object(log);
    ASSERT_GT(log->shown_children.size(), 100u);
    show_object_row(log->shown_children.back());
    pump_settled();
    ASSERT_EQ(nullptr, find_album_object(kRack1.c_str())->node);

    /* Loose spacing as a person types it, and a pasted newline. */
    const std::string target = kPort + "/cTPId=7";
    XmTextSetString(main_window->mw_path,
                    const_cast<char*>("  /systemId = \"leeds-core-1\"/equipmentId=\"rack-1\""
                                      "/shelfId=\"shelf-1\"/slotNumber=3/circuitPackId=\"stm16-lr\""
                                      "/tTPId=\"port-1\"/cTPId=7\n"));
    XtCallCallbacks(main_window->mw_path, XmNactivateCallback, nullptr);
    EXPECT_EQ(std::vector<std::string>{target}, qxtest::selected_names()) << status_text();
    DataObject* obj = find_album_object(target.c_str());
    ASSERT_TRUE(obj && obj->node); /* scrolled into view */
    EXPECT_EQ(obj, find_object(obj->node));
    for (const std::string& up : fdn_prefixes(kPort)) {
        DataObject* o = find_album_object(up.c_str());
        ASSERT_TRUE(o && o->shown) << up;
        EXPECT_EQ(XiOpen, o->node_state) << up;
    }
    EXPECT_EQ(target, qxtest::text_of(main_window->mw_path));
    EXPECT_TRUE(sensitive(main_window->mw_get_button));

    /* Another object, with the first still selected: it alone is selected. */
    ASSERT_TRUE(go_to_object(kLog.c_str()));
    EXPECT_EQ(std::vector<std::string>{kLog}, qxtest::selected_names());
}

TEST_F(RowCommands, GoToRefusalsChangeNothing)
{
    ASSERT_TRUE(go_to_object(kRack1.c_str()));
    const std::vector<std::string> rows = shown(), selected = qxtest::selected_names();
    struct Case {
        std::string typed, says;
    } cases[] = {
        {kLeeds + "/equipmentId=\"rack-9\"", "no such object"},
        {"/systemId=\"leeds", "unterminated quote"},
        {"/systemId=\"york-agg-1\"", "starts at " + kLeeds},
        {kLog, "click is still being handled"},
    };
    for (const Case& c : cases) {
        selection_busy = c.typed == kLog; /* a click being handled */
        EXPECT_FALSE(go_to_object(c.typed.c_str())) << c.typed;
        selection_busy = false;
        EXPECT_TRUE(contains(status_text(), c.says)) << status_text();
        EXPECT_EQ(0u, status_text().find("Go to: ")) << status_text();
        EXPECT_EQ(selected, qxtest::selected_names()) << c.typed;
        EXPECT_EQ(rows, shown()) << c.typed;
    }
    /* A sibling whose name begins with the root's is not in the tree. */
    const std::string shelf = kRack1 + "/shelfId=\"shelf-2\"";
    reset_tree();
    first_tree(shelf + "/slotNumber=1", 1);
    EXPECT_FALSE(go_to_object((shelf + "/slotNumber=10").c_str()));
    EXPECT_NE(std::string::npos, status_text().find("starts at " + shelf + "/slotNumber=1,"))
        << status_text();
}

TEST_F(RowCommands, PopupMenuActsOnTheRowUnderThePointer)
{
    MainWin* mw = main_window;
    DataObject* rack = find_album_object(kRack1.c_str());
    DataObject* log = find_album_object(kLog.c_str());
    ASSERT_TRUE(rack && rack->node && log && log->node);
    pump_settled();

    /* The press as the navigator gets it: the row's window under the pointer. */
    XButtonEvent ev = {};
    ev.type = ButtonPress;
    ev.display = display;
    ev.window = XtWindow(mw->mw_navigator);
    ev.subwindow = XtWindow(log->node);
    ev.button = Button3;
    EXPECT_EQ(log, object_at_event(mw->mw_navigator, &ev));
    ev.subwindow = None;
    ev.x = ev.y = 30000; /* past every row */
    EXPECT_EQ(nullptr, object_at_event(mw->mw_navigator, &ev));

    /* Dropped, like a click, while a click is being handled. */
    selection_busy = true;
    EXPECT_EQ(nullptr, row_menu_for(log));
    selection_busy = false;
    EXPECT_TRUE(qxtest::selected_names().empty());
    /* The Delete key asks as Edit Delete: with nothing selected, nothing. */
    EXPECT_EQ("", qxtest::run(delete_key_pressed, false).question);

    /* A row outside the selection becomes the whole selection ... */
    add(rack);
    Widget menu = row_menu_for(log);
    ASSERT_NE(nullptr, menu);
    EXPECT_EQ(std::vector<std::string>{kLog}, qxtest::selected_names());
    std::string question = qxtest::run(delete_key_pressed, false).question;
    EXPECT_TRUE(contains(question, kLog)) << question;
    EXPECT_NE(nullptr, find_album_object(kLog.c_str())); /* Cancel kept it */
    Widget get = XtNameToWidget(menu, "mw_row_get_button");
    Widget create = XtNameToWidget(menu, "mw_row_create_button");
    Widget del = XtNameToWidget(menu, "mw_row_delete_button");
    ASSERT_TRUE(get && create && del);
    EXPECT_TRUE(sensitive(get) && sensitive(create) && sensitive(del));
    /* ... and its actions follow the Action menu. */
    XtCallCallbacks(XtNameToWidget(menu, "reset"), XmNactivateCallback, nullptr);
    EXPECT_EQ("reset", qxtest::text_of(action_window->aw_action));
    XtUnmanageChild(action_window->aw_dialog);

    /* A row inside a selection of two keeps both: only Delete applies, and
     * the actions of the former object are gone. */
    add(rack);
    menu = row_menu_for(rack);
    EXPECT_EQ(2u, qxtest::selected_names().size());
    EXPECT_FALSE(sensitive(get));
    EXPECT_FALSE(sensitive(create));
    EXPECT_TRUE(sensitive(del));
    EXPECT_EQ(nullptr, XtNameToWidget(menu, "reset"));
}

} // namespace
