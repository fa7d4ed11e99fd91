/*
 * test_objects.cpp - the object commands against a real qx_mis, in process
 * under X: Delete with its question and report, the Action menu and the run
 * of an action, and the configuration window's create mode.
 */
#include "editor_session.h"

#include <Xm/Text.h>

#include <functional>
#include <string>
#include <vector>

#include "meta/meta_api.h"
#include "ui/action_win.h"
#include "ui/config_win.h"
#include "ui/main_win.h"
#include "ui/output_win.h"

using namespace qxtest;

namespace {

const std::string kYork = "/systemId=\"york-agg-1\"";
const std::string kRack = kYork + "/equipmentId=\"rack-1\"";
const std::string kPanel = kRack + "/patchPanelId=\"odf-1\"";
const std::string kLog = kYork + "/logId=\"alarmLog\"";
const std::string kPort =
    kRack + "/shelfId=\"shelf-1\"/slotNumber=2/circuitPackId=\"stm16-lr\"/tTPId=\"port-1\"";

void make(const std::string& parent, const std::string& cls, const std::string& naming,
          const std::string& value)
{
    EditorSession::other->result(
        "create", {{"parent", parent}, {"class", cls}, {"values", {{naming, value}}}});
}

struct ObjectCommands : EditorSession {
    void TearDown() override { DataObject::selected_list.clear(); }
};

/* Rows in order against one server: the question, the report, and what is
 * gone and kept after. */
TEST_F(ObjectCommands, DeleteAsksCountsAndReports)
{
    /* Racks made for the test under york: one leaf, one with two leaves. */
    auto rack = [](const char* id) {
        make(kYork, "equipmentRack", "equipmentId", id);
        return kYork + "/equipmentId=\"" + id + "\"";
    };
    const std::string leaf = rack("d-leaf"), parent = rack("d-parent"), a = rack("d-a"),
                      b = rack("d-b"), f1 = rack("f-1"), f3 = rack("f-3"), busy = rack("d-busy");
    make(parent, "shelf", "shelfId", "s1");
    make(parent, "shelf", "shelfId", "s2");
    const std::string f2 = kYork + "/equipmentId=\"f-2\""; /* not on the server */
    /* The questions as read back: a line break, a separator, reads as nothing. */
    const std::string several = "Are you sure you want to delete the selected objects?"
                                "The children will also be deleted.";
    auto one = [](const std::string& fdn) {
        return "Are you sure you want to delete object " + fdn + " ?";
    };
    struct {
        std::vector<std::string> names;
        bool ok;
        std::string question, report;
        std::vector<std::string> gone, kept;
    } cases[] = {
        {{leaf}, false, one(leaf), "", {}, {leaf}},
        {{leaf}, true, one(leaf), "1 object deleted.", {leaf}, {}},
        {{parent},
         true,
         one(parent) + "The children will also be deleted.",
         "3 objects deleted.",
         {parent, parent + "/shelfId=\"s1\""},
         {kYork}},
        {{a, b}, true, several, "2 objects deleted.", {a, b}, {}},
        /* The first failure stops the run: the third is not tried, and the
         * report says what went and why the run stopped. */
        {{f1, f2, f3}, true, several, "1 object deleted. no such object " + f2, {f1}, {f3}},
        /* Its derivation started elsewhere and has not returned: its count
         * is -1, and the object adds nothing to the total. */
        {{busy}, true, one(busy), "0 objects deleted.", {busy}, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.question);
        std::vector<DataObject*> objs;
        for (auto& n : c.names) objs.push_back(registered(n, kYork));
        if (c.names.size() == 1 && c.names[0] == busy) objs[0]->derive_state = 1;
        select_only(objs);
        Shown shown = run([] { press(main_window->mw_delete_button); }, c.ok);
        EXPECT_EQ(c.question, shown.question);
        EXPECT_EQ(c.report, shown.information);
        if (!c.report.empty()) {
            EXPECT_EQ(c.report, status_text());
        }
        for (auto& n : c.gone) EXPECT_FALSE(exists(n)) << n;
        for (auto& n : c.kept) EXPECT_TRUE(exists(n)) << n;
    }
}

/* The labels of the Action pull-down's items. */
std::vector<std::string> action_items()
{
    std::vector<std::string> out;
    WidgetList kids = nullptr;
    Cardinal n = 0;
    XtVaGetValues(main_window->mw_action_pulldown, XmNchildren, &kids, XmNnumChildren, &n, NULL);
    for (Cardinal i = 0; i < n; i++) out.push_back(XtName(kids[i]));
    return out;
}

/* The target selected (registered under "/" when it is not yet), and the
 * action's item pressed. */
void choose(const char* action, const std::string& target)
{
    select_only({registered(target, "/")});
    Widget item = XtNameToWidget(main_window->mw_action_pulldown, action);
    ASSERT_NE(nullptr, item) << action;
    press(item);
}

Shown ok_action(const std::string& parameter)
{
    XtManageChild(action_window->aw_dialog);
    XmTextSetString(action_window->aw_parameter, const_cast<char*>(parameter.c_str()));
    return run([] { press(action_window->aw_ok_button); });
}

TEST_F(ObjectCommands, ActionMenuFollowsTheClass)
{
    struct {
        std::string object;
        std::vector<std::string> items;
    } cases[] = {
        {kPort, {"selfTest", "reset", "loopbackTest"}},
        {kLog, {"selfTest", "reset", "flush"}},
        {kPanel, {}}, /* a class without actions: the cascade is off */
    };
    for (auto& c : cases) {
        main_window->create_action_list(const_cast<char*>(c.object.c_str()));
        EXPECT_EQ(!c.items.empty(), XtIsSensitive(main_window->mw_action)) << c.object;
        if (!c.items.empty()) {
            EXPECT_EQ(c.items, action_items());
        }
    }
}

TEST_F(ObjectCommands, ActionRepliesGoToTheOutputWindow)
{
    main_window->create_action_list(const_cast<char*>(kPort.c_str()));
    choose("selfTest", kPort);
    EXPECT_EQ("selfTest", text_of(action_window->aw_action));
    Shown shown = ok_action("quick " + std::string(300, 'p'));
    EXPECT_EQ("", shown.error);
    std::string out = text_of(output_window->out_text);
    EXPECT_EQ(0u, out.find("self test of " + kPort + "\n")) << out;
    EXPECT_TRUE(contains(out, "  parameter: quick " + std::string(300, 'p') + "\n"));
    EXPECT_FALSE(XtIsManaged(action_window->aw_dialog));

    /* Failures: the dialog, the window stays open with its texts. */
    struct {
        const char* action;
        std::string target, parameter, error;
    } failures[] = {
        {"flush", kLog, "", ""}, /* succeeds with an empty reply */
        {"flush", kLog, "now", "flush takes no parameter"},
    };
    for (auto& f : failures) {
        main_window->create_action_list(const_cast<char*>(f.target.c_str()));
        choose(f.action, f.target);
        shown = ok_action(f.parameter);
        EXPECT_TRUE(XtIsManaged(action_window->aw_dialog)) << f.action;
        EXPECT_EQ(f.error.empty(), shown.error.empty()) << shown.error;
        EXPECT_TRUE(contains(shown.error, f.error)) << shown.error;
        EXPECT_EQ(f.parameter, text_of(action_window->aw_parameter));
        EXPECT_FALSE(contains(text_of(output_window->out_text), "flush"));
    }

    /* A target another client removes while the window is open. */
    const std::string system = "/systemId=\"harrogate-msan-1\"";
    make(system, "equipmentRack", "equipmentId", "t-1");
    const std::string rack = system + "/equipmentId=\"t-1\"";
    ASSERT_EQ(0, registered(system, "/")->derive(1, nullptr));
    main_window->create_action_list(const_cast<char*>(rack.c_str()));
    choose("selfTest", rack);
    DataObject::selected_list.clear();
    other->result("delete", {{"name", rack}});
    ASSERT_TRUE(pump_until([&] { return !find_album_object(rack.c_str()); }, 5));
    shown = ok_action("");
    EXPECT_EQ(rack + " no longer exists: it was removed while the action window was open.",
              shown.error);
    EXPECT_TRUE(XtIsManaged(action_window->aw_dialog));
    XtUnmanageChild(action_window->aw_dialog);
}

/* Create mode: the form of a typed class or a template, and Create. */
struct CreateMode : ObjectCommands {
    ConfigWin* oc = nullptr;
    void SetUp() override
    {
        ObjectCommands::SetUp();
        oc = object_configuration;
    }
    Shown press_return(const char* parent, const char* cls)
    {
        XmTextSetString(oc->PARENTFDN, const_cast<char*>(parent));
        XmTextSetString(oc->OBJCLASS, const_cast<char*>(cls));
        return run([this] { ConfigWin::new_class_cb(oc->OBJCLASS, oc, nullptr); });
    }
    Shown press_create()
    {
        return run([this] { oc->set_attributes_cb(oc->oc_set_button, nullptr); });
    }
    std::string message() { return xmstring_resource(oc->oc_message_label, XmNlabelString); }
};

TEST_F(CreateMode, FromATypedClass)
{
    press(main_window->mw_create_from_button);
    ASSERT_TRUE(XtIsManaged(oc->oc_dialog));

    Shown shown = press_return(kYork.c_str(), "equipmentRack");
    EXPECT_EQ("", shown.error);
    ASSERT_NE(nullptr, field("equipmentId"));
    EXPECT_TRUE(XtIsSensitive(oc->oc_set_button));
    type("equipmentId", "c-typed");
    type("userLabel", "typed rack");
    /* A class the repository does not know: the dialog, Set off, the form
     * and its edits stay. */
    shown = press_return(kYork.c_str(), "hovercraft");
    EXPECT_EQ("Error retrieving attributes for object", shown.error);
    EXPECT_FALSE(XtIsSensitive(oc->oc_set_button));
    ASSERT_NE(nullptr, field("equipmentId"));
    EXPECT_EQ("c-typed", text_of(field("equipmentId")));
    shown = press_return(kYork.c_str(), "equipmentRack");

    type("equipmentId", "c-typed");
    type("userLabel", "typed rack");
    shown = press_create();
    EXPECT_EQ("", shown.error);
    EXPECT_EQ("Object Created", message());
    EXPECT_EQ("Create", xmstring_resource(oc->oc_set_button, XmNlabelString));
    const std::string made = kYork + "/equipmentId=\"c-typed\"";
    ASSERT_TRUE(exists(made));
    EXPECT_EQ("typed rack", other->result("get", {{"name", made}})["attributes"][1]["value"]);
    EXPECT_TRUE(Attribute::attr_list.items().empty());

    /* Create again: the same name, the server's refusal, the window keeps
     * its form. */
    type("equipmentId", "c-typed");
    shown = press_create();
    EXPECT_TRUE(contains(shown.error, "exists already")) << shown.error;
    EXPECT_EQ("Object Creation Error", message());
    EXPECT_EQ("c-typed", text_of(field("equipmentId")));
    EXPECT_FALSE(Attribute::attr_list.items().empty());
}

TEST_F(CreateMode, FromATemplate)
{
    select_only({registered(kPanel, kRack)});
    press(main_window->mw_create_from_button);
    EXPECT_EQ(kRack, text_of(oc->PARENTFDN));
    EXPECT_EQ("patchPanel", text_of(oc->OBJCLASS));
    ASSERT_NE(nullptr, field("patchPanelId"));
    EXPECT_EQ("top of rack, U42", text_of(field("locationName")));
    type("patchPanelId", "odf-2");
    Shown shown = press_create();
    EXPECT_EQ("", shown.error);
    EXPECT_EQ("Object Created", message());
    const std::string made = kRack + "/patchPanelId=\"odf-2\"";
    ASSERT_TRUE(exists(made));
    EXPECT_EQ("top of rack, U42", other->result("get", {{"name", made}})["attributes"][3]["value"]);

    /* A second press while the first waits is dropped: one object, no
     * duplicate-name refusal. */
    type("patchPanelId", "odf-3");
    after(1, [this] { oc->set_attributes_cb(oc->oc_set_button, nullptr); });
    shown = press_create();
    EXPECT_EQ("", shown.error);
    EXPECT_EQ("Object Created", message());
    EXPECT_TRUE(exists(kRack + "/patchPanelId=\"odf-3\""));
}

} // namespace
