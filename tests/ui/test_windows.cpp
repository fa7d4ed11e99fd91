/*
 * The eight windows in process under X: the initial state, each dialog up
 * through its record and down by its Close, the event log, the layouts and
 * who takes the spare room, the link callbacks and the order in which the
 * dialogs' buttons hide and act.
 */
#include "tests/ui/gui_fixture.h"

#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/SelectioB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>
#include <X11/IntrinsicP.h>
#include <X11/keysym.h>
#include <string>
#include <vector>

#include "ui/action_win.h"
#include "ui/config_win.h"
#include "ui/create_win.h"
#include "ui/default_win.h"
#include "ui/event_log_win.h"
#include "ui/open_win.h"
#include "ui/output_win.h"
#include "ui/select_win.h"
#include "ui/xd_links.h"

namespace {

using qxtest::resource;

/* Before the GUI comes up: the texts come from the build tree's catalogue. */
const int catalogue_set = setenv("NLSPATH", QX_NLS_DIR "/%N", 1);

std::vector<Widget> all_dialogs()
{
    return {action_window->aw_dialog,    create_object->co_dialog,
            selection_window->sw_dialog, default_preferences->dp_dialog,
            open_view->ov_dialog,        object_configuration->oc_dialog,
            output_window->out_dialog};
}

void hide_all_dialogs()
{
    for (Widget box : all_dialogs()) XtUnmanageChild(box);
    pump_settled();
}

/* The state of the windows at the start. */
TEST(Windows, MainWindowInitialState)
{
    REQUIRE_GUI();
    Widget main_shell = main_window->shell();
    /* What is on and off before the first tree. */
    MainWin* mw = main_window;
    ConfigWin* oc = object_configuration;
    for (Widget w : {mw->mw_create_from_button, mw->mw_properties_button, oc->oc_close_button})
        EXPECT_TRUE(XtIsSensitive(w)) << XtName(w);
    for (Widget w : {mw->mw_get_button, mw->mw_action, mw->mw_select_button, mw->mw_delete_button,
                     oc->oc_set_button, oc->oc_update_button})
        EXPECT_FALSE(XtIsSensitive(w)) << XtName(w);

    EXPECT_FALSE(resource<Boolean>(mw->mw_navigator, XiNautoClose));
    /* The main shell only is realized; no dialog is up. */
    EXPECT_TRUE(XtIsRealized(main_shell));
    for (Widget box : all_dialogs()) EXPECT_FALSE(XtIsManaged(box)) << XtName(box);
    /* RDN labels are the default, and the preferences start from the start-up values. */
    EXPECT_TRUE(XmToggleButtonGadgetGetState(default_preferences->dp_rdn_tog));
    EXPECT_FALSE(XmToggleButtonGadgetGetState(default_preferences->dp_fdn_toggle));
    EXPECT_EQ(qxtest::text_of(default_preferences->dp_default_node), default_root);
}

/* Each dialog with a link record comes up through it, as its menu item shows it, and its
 * Close or Cancel takes it down. */
TEST(Windows, EachDialogComesUpThroughItsRecordAndItsCloseTakesItDown)
{
    REQUIRE_GUI();
    hide_all_dialogs();
    const struct {
        int link; /* -1: none, shown directly */
        xd_XmDialog_c* win;
        Widget close;
    } cases[] = {
        {XD_LINK_ACTION_WINDOW, action_window, action_window->aw_cancel_button},
        {XD_LINK_CREATE_OBJECT, create_object, create_object->co_cancel_button},
        {XD_LINK_SELECTION_WINDOW, selection_window, selection_window->sw_close_button},
        {XD_LINK_DEFAULT_PREFERENCES, default_preferences, default_preferences->dp_cancel_button},
        {XD_LINK_OBJECT_CONFIGURATION, object_configuration, object_configuration->oc_close_button},
        {-1, output_window, output_window->out_close_button},
    };
    for (auto [link, win, close] : cases) {
        Widget shell = win->xd_rootwidget();
        SCOPED_TRACE(XtName(shell));
        if (link >= 0)
            XDmanage_link(nullptr, xd_link(link), nullptr);
        else
            win->xd_show();
        ASSERT_TRUE(pump_until([&] { return viewable(shell); }, 3.0));
        press(close);
        EXPECT_TRUE(pump_until([&] { return !viewable(shell); }, 3.0));
    }
    EXPECT_EQ(xd_link_records[XD_LINK_OPEN_VIEW], nullptr);
}

/* The rows of the event log window's list. */
std::vector<std::string> event_log_rows()
{
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(event_log_window->ev_list, XmNitems, &items, XmNitemCount, &count, NULL);
    std::vector<std::string> rows;
    for (int i = 0; i < count; i++) rows.push_back(xmstring_text(items[i]));
    return rows;
}

bool contains(const std::string& row, const char* text)
{
    return row.find(text) != std::string::npos;
}

/* File > Event Log... lists what the status line said, newest last, goes on
 * listing while it is up, and narrows to the rows that hold the filter. */
TEST(Windows, EventLogListsStatusTextsAndFilters)
{
    REQUIRE_GUI();
    status_line("Go to: no object can be found for /x=1");
    press(main_window->mw_event_log_button);
    Widget shell = event_log_window->xd_rootwidget();
    ASSERT_TRUE(pump_until([&] { return viewable(shell); }, 3.0));
    ASSERT_FALSE(event_log_rows().empty());
    EXPECT_TRUE(contains(event_log_rows().back(), "Go to: no object can be found for /x=1"));

    status_line("1 object deleted.");
    EXPECT_TRUE(contains(event_log_rows().back(), "1 object deleted."));
    XmTextFieldSetString(event_log_window->ev_filter, const_cast<char*>("GO TO"));
    std::vector<std::string> rows = event_log_rows();
    ASSERT_FALSE(rows.empty());
    for (const std::string& row : rows) EXPECT_TRUE(contains(row, "Go to")) << row;
    XmTextFieldSetString(event_log_window->ev_filter, const_cast<char*>(""));
    press(event_log_window->ev_close_button);
    EXPECT_TRUE(pump_until([&] { return !viewable(shell); }, 3.0));
}

TEST(Windows, LayoutsAndWhoTakesTheSpareRoom)
{
    REQUIRE_GUI();
    hide_all_dialogs();
    auto wd = [](Widget w) { return (int)resource<Dimension>(w, XmNwidth); };
    auto ht = [](Widget w) { return (int)resource<Dimension>(w, XmNheight); };
    auto y = [](Widget w) { return (int)resource<Position>(w, XmNy); };
    /* The main window's rows stack without overlaps, the message line at the bottom. */
    MainWin* mw = main_window;
    Widget path = mw->mw_path, nav = mw->mw_navigator_window, msg = mw->mw_message_label;
    EXPECT_GE(y(nav), y(path) + ht(path));
    EXPECT_EQ(y(nav) + ht(nav), y(msg));
    EXPECT_EQ(y(msg) + ht(msg), ht(mw->mw_form));

    /* A bigger window gives the whole difference to the parts that stretch. */
    Widget shell = mw->shell();
    int nav_w = wd(nav), nav_h = ht(nav), path_w = wd(path), path_h = ht(path);
    int sw = wd(shell), sh = ht(shell);
    XtVaSetValues(shell, XmNwidth, sw + 100, XmNheight, sh + 150, NULL);
    pump_settled();
    EXPECT_EQ(wd(nav), nav_w + 100);
    EXPECT_EQ(ht(nav), nav_h + 150);
    EXPECT_EQ(wd(path), path_w + 100);
    EXPECT_EQ(ht(path), path_h);
    XtVaSetValues(shell, XmNwidth, sw, XmNheight, sh, NULL);
    pump_settled();
}

TEST(Windows, ManageLinkShowsAndUnmanageLinkHidesADialog)
{
    REQUIRE_GUI();
    hide_all_dialogs();
    Widget dshell = XtParent(default_preferences->dp_dialog);

    press(main_window->mw_properties_button);
    ASSERT_TRUE(pump_until([&] { return viewable(dshell); }, 3.0));
    XDunmanage_link(nullptr, xd_link(XD_LINK_DEFAULT_PREFERENCES), nullptr);
    EXPECT_TRUE(pump_until([&] { return !viewable(dshell); }, 3.0));

    /* A record that was never set, or none at all, is ignored. */
    XDmanage_link(nullptr, xd_link(XD_LINK_OPEN_VIEW), nullptr);
    XDmanage_link(nullptr, nullptr, nullptr);
    XDunmanage_link(nullptr, nullptr, nullptr);
    XDenable_link(nullptr, nullptr, nullptr);
    EXPECT_FALSE(XtIsManaged(open_view->ov_dialog));
}

/* Windows that record, for each operation, whether the dialog was still
 * shown when the operation ran. */
struct RecordingDefaultWin : DefaultWin {
    std::vector<std::string> calls;
    void note(const char* what)
    {
        calls.push_back(std::string(what) + (XtIsManaged(dp_dialog) ? ":shown" : ":hidden"));
    }
    void default_ok_cb(Widget, void*) override { note("ok"); }
    void default_cancel_cb(Widget, void*) override { note("cancel"); }
    void reset_defaults() override { note("default"); }
};

struct RecordingConfigWin : ConfigWin {
    std::vector<std::string> calls;
    void close_window_cb(Widget, XtPointer) override
    {
        calls.push_back(XtIsManaged(oc_dialog) ? "close:shown" : "close:hidden");
    }
    void set_attributes_cb(Widget, XtPointer) override { calls.push_back("set"); }
    void update_image_cb(Widget, XtPointer) override { calls.push_back("update"); }
    void create_object() override { calls.push_back("new class"); }
};

/* Runs f with the link record `which` saved and restored around it, since
 * a second window of a kind takes over its kind's record. */
template <class F> void with_record_saved(int which, F f)
{
    Widget saved = xd_link_records[which];
    f();
    xd_link_records[which] = saved;
}

TEST(Windows, ButtonsHideTheirDialogBeforeTheirOperationRuns)
{
    REQUIRE_GUI();
    with_record_saved(XD_LINK_DEFAULT_PREFERENCES, [] {
        RecordingDefaultWin win;
        win.create(main_window->shell(), "recording_preferences");
        auto show = [&] {
            XtManageChild(win.dp_dialog);
            pump_settled();
        };
        show();
        press(win.dp_ok_button);
        show();
        press(win.dp_apply_button);
        EXPECT_TRUE(XtIsManaged(win.dp_dialog)); /* Apply leaves it up */
        press(win.dp_cancel_button);
        show();
        press(win.dp_default_button);
        EXPECT_EQ(win.calls, (std::vector<std::string>{"ok:hidden", "ok:shown", "cancel:hidden",
                                                       "default:shown"}));
        win.xd_destroy();
        pump_settled();
    });
    /* The configuration window's fields reach their operations, and the
     * window manager's close is the Close button. */
    with_record_saved(XD_LINK_OBJECT_CONFIGURATION, [] {
        RecordingConfigWin win;
        win.create(main_window->shell(), "recording_configuration");
        XtManageChild(win.oc_dialog);
        pump_settled();
        press(win.oc_close_button);
        EXPECT_FALSE(XtIsManaged(win.oc_dialog));
        XtSetSensitive(win.oc_set_button, True);
        XtSetSensitive(win.oc_update_button, True);
        press(win.oc_set_button);
        press(win.oc_update_button);
        XmAnyCallbackStruct cbs = {XmCR_ACTIVATE, nullptr};
        XtCallCallbacks(win.OBJCLASS, XmNactivateCallback, &cbs);
        XtManageChild(win.oc_dialog);
        ASSERT_TRUE(pump_until([&] { return viewable(XtParent(win.oc_dialog)); }, 3.0));
        close_from_window_manager(XtParent(win.oc_dialog));
        EXPECT_TRUE(pump_until([&] { return win.calls.size() == 5; }, 3.0));
        EXPECT_EQ(win.calls, (std::vector<std::string>{"close:hidden", "set", "update", "new class",
                                                       "close:hidden"}));
        win.xd_destroy();
        pump_settled();
    });
}

} // namespace
