/*
 * test_config_win.cpp - the configuration window in edit mode against a real
 * qx_mis, in process under X: the form of an object, long values, the syntax
 * of the field in focus, pending edits, Update, Set and its refusals, Close,
 * the reports of changes made by another client, Get, Exit, and the server
 * lost during Set.
 */
#include "editor_session.h"

#include <Xm/Text.h>
#include <signal.h>

#include <string>
#include <vector>

#include "cursor_probe.h"
#include "meta/meta_api.h"
#include "ui/config_win.h"
#include "ui/main_win.h"

using namespace qxtest;

namespace {

const char* kLeeds = "/systemId=\"leeds-core-1\"";
const char* kRack1 = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"";
const char* kRack2 = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-2\"";
const char* kLog = "/systemId=\"leeds-core-1\"/logId=\"alarmLog\"";

ConfigWin* oc = nullptr;

bool sensitive(Widget w)
{
    return resource<Boolean>(w, XmNsensitive);
}

void focus(Widget w)
{
    XmAnyCallbackStruct cbs = {};
    cbs.reason = XmCR_FOCUS;
    XtCallCallbacks(w, XmNfocusCallback, &cbs);
}

std::string server_value(const char* object, const char* attribute)
{
    json r = EditorSession::other->result("get", {{"name", object}});
    for (auto& a : r["attributes"])
        if (a["name"].get<std::string>().find(attribute) != std::string::npos) return a["value"];
    return "(none)";
}

void server_set(const char* object, const char* attribute, const std::string& value)
{
    EditorSession::other->result("set", {{"name", object}, {"values", {{attribute, value}}}});
}

/* The pending edits as name=value. */
std::vector<std::string> pending()
{
    std::vector<std::string> out;
    for (const auto& rec : Attribute::attr_list.items())
        out.push_back(std::string(rec->get_name().str()) + "=" + rec->get_value().str());
    return out;
}

void load(const char* fdn, const char* parent = kLeeds)
{
    oc->get_object(registered(fdn, parent), main_window->mw_get_button);
}

std::string set_and_answer()
{
    return answered([] { oc->set_attributes_cb(oc->oc_set_button, oc); });
}

struct ConfigWindow : EditorSession {
    static void SetUpTestSuite()
    {
        EditorSession::SetUpTestSuite();
        if (!mis) return;
        oc = object_configuration;
        /* The sample holds no value past 125 characters: an alarm record
         * with a long text, and a rack with a long label. */
        other->result(
            "create",
            {{"parent", kLog},
             {"class", "alarmRecord"},
             {"values", {{"logRecordId", "999"}, {"additionalText", std::string(150, 't')}}}});
    }
};

TEST_F(ConfigWindow, FormOfAnObject)
{
    DataObject::selected_list.append(registered(kRack2, kLeeds));
    DataObject::selected_list.append(registered(kLog, kLeeds));
    load(kRack1);
    DataObject::selected_list.clear();
    ASSERT_TRUE(XtIsManaged(oc->oc_dialog));
    EXPECT_EQ(kLeeds, text_of(oc->PARENTFDN));
    EXPECT_EQ("equipmentRack", text_of(oc->OBJCLASS));
    EXPECT_FALSE(resource<Boolean>(oc->PARENTFDN, XmNeditable));
    EXPECT_EQ("Objects Loaded (2)", xmstring_resource(oc->oc_loaded_objects_label, XmNlabelString));
    EXPECT_EQ(1, resource<int>(oc->oc_loaded_object_list, XmNitemCount));
    EXPECT_EQ("Set", xmstring_resource(oc->oc_set_button, XmNlabelString));
    EXPECT_FALSE(sensitive(oc->oc_set_button));
    EXPECT_TRUE(pending().empty());

    /* One row per attribute: a label with the display name, then its field. */
    WidgetList kids = nullptr;
    Cardinal n = 0;
    XtVaGetValues(oc->oc_attribute_caption, XmNchildren, &kids, XmNnumChildren, &n, NULL);
    ASSERT_EQ((Cardinal)oc->attr_names.count() * 2, n);
    for (int i = 0; i < oc->attr_names.count(); i++) {
        std::string full = oc->attr_names[i].str();
        std::string shown = full.substr(full.rfind(':') + 1);
        EXPECT_EQ(shown, xmstring_resource(kids[2 * i], XmNlabelString));
        EXPECT_EQ(shown, XtName(kids[2 * i + 1]));
        EXPECT_EQ(100, resource<short>(kids[2 * i + 1], XmNcolumns)) << shown;
    }
    EXPECT_EQ("LDS rack-1", text_of(field("userLabel")));
    /* Read-only attributes are shown read-only, and look it. */
    EXPECT_TRUE(resource<Boolean>(field("userLabel"), XmNeditable));
    EXPECT_FALSE(resource<Boolean>(field("vendorName"), XmNeditable));
    EXPECT_LT(0, resource<Dimension>(field("userLabel"), XmNshadowThickness));
    EXPECT_EQ(0, resource<Dimension>(field("vendorName"), XmNshadowThickness));

    /* The syntax of the field in focus, with the values it accepts. */
    struct {
        const char* name;
        std::vector<const char*> parts;
    } syntaxes[] = {
        {"administrativeState",
         {"AdministrativeState: ", " ...\nAdministrativeState ::= ENUMERATED",
          "Values: locked | unlocked | shuttingDown"}},
        {"userLabel", {"UserLabel: ", "Values: text of 0..128 bytes"}},
    };
    for (auto& s : syntaxes) {
        focus(field(s.name));
        std::string shown = text_of(oc->oc_attribute_format_list);
        for (const char* part : s.parts) EXPECT_NE(std::string::npos, shown.find(part)) << shown;
    }

    /* A value over 100 characters widens its field; over 125 it wraps in 4
     * rows of 100 columns once focused. */
    load("/systemId=\"leeds-core-1\"/logId=\"alarmLog\"/logRecordId=999", kLog);
    Widget text = field("additionalText");
    EXPECT_EQ(150, resource<short>(text, XmNcolumns));
    focus(text);
    EXPECT_EQ(4, resource<short>(text, XmNrows));
    EXPECT_EQ(100, resource<short>(text, XmNcolumns));
    EXPECT_EQ(XmMULTI_LINE_EDIT, resource<int>(text, XmNeditMode));
    EXPECT_TRUE(resource<Boolean>(text, XmNwordWrap));
    EXPECT_TRUE(pending().empty());

    /* An object that cannot be read: the dialog, and the form stays. */
    std::string message = answered([] { load("/systemId=\"atlantis-1\"", "/"); });
    EXPECT_EQ("Error retrieving attributes for object", message);
    EXPECT_NE(nullptr, XtNameToWidget(oc->oc_attribute_caption, "additionalText"));
}

TEST_F(ConfigWindow, EditsAreKeptPerAttributeUntilUpdateOrSet)
{
    load(kRack1);
    Pixel normal = resource<Pixel>(field("userLabel"), XmNbackground);
    type("userLabel", "A1");
    type("locationName", "B");
    type("userLabel", "A2");
    EXPECT_EQ((std::vector<std::string>{"userLabel=A2", "locationName=B"}), pending());
    EXPECT_TRUE(sensitive(oc->oc_set_button));
    EXPECT_EQ(oc->text_foreground, resource<Pixel>(field("userLabel"), XmNbackground));

    /* Update throws the edits away and shows the image's values. */
    oc->update_image_cb(oc->oc_update_button, oc);
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ("LDS rack-1", text_of(field("userLabel")));

    /* Set writes them: another client reads them, the form is normal again. */
    type("userLabel", "relabelled by Set");
    type("locationName", "row C");
    EXPECT_EQ("", set_and_answer());
    ASSERT_TRUE(sync_with_server(kLeeds));
    EXPECT_FALSE(sensitive(oc->oc_update_button)) << "its own change reported";
    EXPECT_EQ("relabelled by Set", server_value(kRack1, "userLabel"));
    EXPECT_EQ("row C", server_value(kRack1, "locationName"));
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ("relabelled by Set", text_of(field("userLabel")));
    EXPECT_EQ(normal, resource<Pixel>(field("userLabel"), XmNbackground));
}

/* Values the syntax refuses, second of three edits: the dialog, with the
 * hourglass on the window until it is answered; nothing stored, every edit
 * still pending; the message line names the attribute and the server's
 * reason. */
TEST_F(ConfigWindow, ARefusedValueStoresNothingAndKeepsTheEdits)
{
    struct {
        const char* object;
        const char* first; /* a good edit before the refused one */
        const char* attribute;
        std::string value;
        const char* third; /* and a good one after it */
    } cases[] = {
        {kRack1, "userLabel", "administrativeState", "sleepy", "locationName"},
        {kRack1, "administrativeState", "userLabel", std::string(129, 'x'), "locationName"},
        {kLog, "userLabel", "maxLogRecords", "100001", "logFullAction"},
    };
    for (auto& c : cases) {
        load(c.object);
        std::string before = server_value(c.object, c.first);
        type(c.first, strcmp(c.first, "userLabel") ? "locked" : "first edit");
        type(c.attribute, c.value);
        type(c.third, strcmp(c.third, "logFullAction") ? "third edit" : "halt");
        std::vector<std::string> edits = pending();
        ASSERT_EQ(3u, edits.size()) << c.attribute;
        Widget probe = oc->oc_loaded_objects_label;
        ASSERT_TRUE(pump_until([&] { return viewable(probe); }, 5));
        std::string message;
        std::vector<int> cursor;
        while_running([] { oc->set_attributes_cb(oc->oc_set_button, oc); }, [&] {
            if (!current_error_dialog) return;
            Widget mb = *current_error_dialog->getwidget();
            message = xmstring_resource(mb, XmNmessageString);
            if (cursors_readable()) cursor = cursor_over(probe);
            press(mb, XmDIALOG_OK_BUTTON);
        });
        EXPECT_EQ("Incorrect Attribute Syntax", message) << c.attribute;
        if (cursors_readable()) {
            EXPECT_EQ(kHourglass, cursor) << c.attribute;
            EXPECT_NE(kHourglass, cursor_over(probe)) << c.attribute;
        }
        EXPECT_EQ(edits, pending()) << c.attribute;
        EXPECT_EQ(before, server_value(c.object, c.first)) << c.attribute;
        std::string line = xmstring_resource(oc->oc_message_label, XmNlabelString);
        EXPECT_NE(std::string::npos, line.find(c.attribute)) << line;
        EXPECT_NE(std::string::npos, line.find("refused")) << line;
    }
}

TEST_F(ConfigWindow, ChangesByAnotherClientUntilClose)
{
    /* The window asks the server to watch the object without waiting for the
     * answer, and the server reads the two connections in no fixed order: a
     * round trip of the editor's first, so that the server has the watch. */
    load(kRack2);
    ASSERT_TRUE(sync_with_server(kLeeds));
    EXPECT_FALSE(sensitive(oc->oc_update_button));
    server_set(kRack2, "userLabel", "changed elsewhere");
    ASSERT_TRUE(pump_until([] { return sensitive(oc->oc_update_button); }, 10));
    EXPECT_EQ("userLabel", xmstring_resource(oc->oc_message_label, XmNlabelString));
    oc->update_image_cb(oc->oc_update_button, oc);
    EXPECT_EQ("changed elsewhere", text_of(field("userLabel")));
    EXPECT_FALSE(sensitive(oc->oc_update_button));

    /* Closed: no more reports, until the next load. */
    XtCallCallbacks(oc->oc_close_button, XmNactivateCallback, nullptr);
    EXPECT_FALSE(XtIsManaged(oc->oc_dialog));
    server_set(kRack2, "userLabel", "unheard");
    ASSERT_TRUE(sync_with_server(kLeeds));
    EXPECT_FALSE(sensitive(oc->oc_update_button));
    EXPECT_EQ("", xmstring_resource(oc->oc_message_label, XmNlabelString));
    load(kRack2);
    ASSERT_TRUE(sync_with_server(kLeeds));
    server_set(kRack2, "locationName", "heard again");
    ASSERT_TRUE(pump_until([] { return sensitive(oc->oc_update_button); }, 10));
    EXPECT_EQ("locationName", xmstring_resource(oc->oc_message_label, XmNlabelString));
}

/* Get shows the first selected object, a double click the object clicked,
 * whatever was selected: the window and a cleared message line, also for an
 * object registered under a loose form of its name (a root typed so), which
 * the server shows in its canonical form. */
TEST_F(ConfigWindow, GetAndDoubleClickShowTheObject)
{
    const char* loose = "/systemId = \"leeds-core-1\"/";
    struct {
        const char* name;
        bool clicked;
        const char* shown;
    } cases[] = {
        {kLog, false, kLog},
        {kRack2, true, kRack2},
        {loose, false, kLeeds},
        {loose, true, kLeeds},
    };
    for (auto& c : cases) {
        XtUnmanageChild(oc->oc_dialog);
        global.update_label(oc->oc_message_label, "old");
        DataObject* obj = registered(c.name, c.name == loose ? "" : kLeeds);
        select_only({c.clicked ? registered(kRack1, kLeeds) : obj});
        if (c.clicked)
            main_window->get_object(main_window->mw_navigator, obj->name);
        else
            main_window->get_object(main_window->mw_get_button, nullptr);
        EXPECT_EQ(c.shown, global.get_objname()) << c.name;
        EXPECT_TRUE(XtIsManaged(oc->oc_dialog)) << c.name;
        EXPECT_EQ("", xmstring_resource(oc->oc_message_label, XmNlabelString)) << c.name;
    }
    /* Nothing named or selected: only the message line is cleared. */
    DataObject::selected_list.clear();
    global.update_label(oc->oc_message_label, "old");
    main_window->get_object(main_window->mw_get_button, nullptr);
    EXPECT_EQ(kLeeds, global.get_objname());
    EXPECT_EQ("", xmstring_resource(oc->oc_message_label, XmNlabelString));
}

TEST_F(ConfigWindow, SetOfAnObjectDeletedMeanwhileSaysSo)
{
    other->result("create", {{"parent", kLeeds},
                             {"class", "equipmentRack"},
                             {"values", {{"equipmentId", "rack-gone"}}}});
    std::string gone = std::string(kLeeds) + "/equipmentId=\"rack-gone\"";
    load(gone.c_str());
    type("userLabel", "too late");
    other->result("delete", {{"name", gone}});
    std::string message = set_and_answer();
    EXPECT_NE(std::string::npos, message.find("no such object")) << message;
    EXPECT_EQ((std::vector<std::string>{"userLabel=too late"}), pending());
}

TEST_F(ConfigWindow, ExitWithPendingEditsEndsWithStatus0)
{
    load(kRack1);
    type("userLabel", "never stored");
    EXPECT_EXIT(main_window->exit_cb(main_window->mw_close_button, nullptr),
                ::testing::ExitedWithCode(0), "");
}

/* Last: the server goes.  The lost-connection dialog tells of it, not a
 * second one of Set's. */
TEST_F(ConfigWindow, ServerLostDuringSet)
{
    load(kRack1);
    type("userLabel", "lost");
    kill(mis->pid(), SIGSTOP);
    after(200, [] { kill(mis->pid(), SIGKILL); });
    std::string message = set_and_answer();
    EXPECT_EQ("", message);
    ASSERT_NE(nullptr, current_error_cb_dialog);
    EXPECT_EQ("Platform has Disconnected!",
              xmstring_resource(*current_error_cb_dialog->getwidget(), XmNmessageString));
    EXPECT_EQ((std::vector<std::string>{"userLabel=lost"}), pending());
}

} // namespace
