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
        Widget f = oc->field_named(shown.c_str());
        ASSERT_NE(nullptr, f) << shown;
        EXPECT_TRUE(f == kids[2 * i + 1] || XtParent(f) == kids[2 * i + 1]) << shown;
    }
    EXPECT_EQ("LDS rack-1", text_of(field("userLabel")));
    /* Read-only attributes are shown read-only. */
    EXPECT_TRUE(resource<Boolean>(field("userLabel"), XmNeditable));
    EXPECT_FALSE(resource<Boolean>(field("vendorName"), XmNeditable));

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
        for (const char* part : s.parts) EXPECT_TRUE(contains(shown, part)) << shown;
    }

    /* An attribute that takes one of a few values offers them beside its
     * field, which still takes text; a value chosen is an edit like one typed. */
    ASSERT_TRUE(pump_until([] { return viewable(oc->oc_dialog); }, 5));
    struct {
        const char* attribute;
        std::vector<std::string> values; /* none: no drop-down */
    } rows[] = {
        {"administrativeState", {"locked", "unlocked", "shuttingDown"}},
        {"userLabel", {}},
        {"operationalState", {}}, /* read-only */
    };
    for (auto& r : rows) {
        Widget f = field(r.attribute);
        Widget arrow = XtNameToWidget(XtParent(f), "drop_down");
        Widget menu = XtNameToWidget(XtParent(f), "*choices");
        ASSERT_EQ(r.values.empty(), arrow == nullptr) << r.attribute;
        if (!arrow) continue;
        EXPECT_TRUE(resource<Boolean>(f, XmNeditable));
        XtCallCallbacks(arrow, XmNactivateCallback, nullptr);
        EXPECT_TRUE(XtIsManaged(menu));
        XtVaGetValues(menu, XmNchildren, &kids, XmNnumChildren, &n, NULL);
        std::vector<std::string> offered;
        for (Cardinal i = 0; i < n; i++)
            offered.push_back(xmstring_resource(kids[i], XmNlabelString));
        EXPECT_EQ(r.values, offered);
        press(kids[n - 1]);
        XtUnmanageChild(menu);
        EXPECT_EQ(r.values.back(), text_of(f));
        EXPECT_EQ((std::vector<std::string>{std::string(r.attribute) + "=" + r.values.back()}),
                  pending());
    }
    /* Update throws the edit away and shows the image's values. */
    oc->update_image_cb(oc->oc_update_button, oc);
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ(server_value(kRack1, "administrativeState"), text_of(field("administrativeState")));

    /* A value over 125 characters wraps once focused. */
    load("/systemId=\"leeds-core-1\"/logId=\"alarmLog\"/logRecordId=999", kLog);
    focus(field("additionalText"));
    EXPECT_EQ(XmMULTI_LINE_EDIT, resource<int>(field("additionalText"), XmNeditMode));

    /* An object that cannot be read: the dialog, and the form stays. */
    std::string message = answered([] { load("/systemId=\"atlantis-1\"", "/"); });
    EXPECT_EQ("Error retrieving attributes for object", message);
    EXPECT_NE(nullptr, oc->field_named("additionalText"));
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
        const char* good;  /* what the refused value is corrected to */
        const char* accepts; /* in the syntax area after the refusal */
    } cases[] = {
        {kRack1, "userLabel", "administrativeState", "sleepy", "locationName", "locked",
         "Values: locked | unlocked | shuttingDown"},
        {kRack1, "administrativeState", "userLabel", std::string(129, 'x'), "locationName", "ok",
         "Values: text of 0..128 bytes"},
    };
    for (auto& c : cases) {
        load(c.object);
        std::string before = server_value(c.object, c.first);
        type(c.first, strcmp(c.first, "userLabel") ? "locked" : "first edit");
        type(c.attribute, c.value);
        type(c.third, "third edit");
        std::vector<std::string> edits = pending();
        ASSERT_EQ(3u, edits.size()) << c.attribute;
        Widget probe = oc->oc_loaded_objects_label;
        ASSERT_TRUE(pump_until([&] { return viewable(probe); }, 5));
        std::vector<int> cursor;
        auto set = [] { oc->set_attributes_cb(oc->oc_set_button, oc); };
        std::string message = answered(set, [&] {
            if (cursors_readable()) cursor = cursor_over(probe);
        });
        EXPECT_EQ("Incorrect Attribute Syntax", message) << c.attribute;
        if (cursors_readable()) {
            EXPECT_EQ(kHourglass, cursor) << c.attribute;
            EXPECT_NE(kHourglass, cursor_over(probe)) << c.attribute;
        }
        EXPECT_EQ(edits, pending()) << c.attribute;
        EXPECT_EQ(before, server_value(c.object, c.first)) << c.attribute;
        std::string line = xmstring_resource(oc->oc_message_label, XmNlabelString);
        EXPECT_TRUE(contains(line, c.attribute)) << line;
        EXPECT_TRUE(contains(line, "refused")) << line;
        std::string syntax = text_of(oc->oc_attribute_format_list);
        EXPECT_TRUE(contains(syntax, c.accepts)) << syntax;

        /* Corrected and Set again: the refusal gives way to what was stored. */
        type(c.attribute, c.good);
        EXPECT_EQ("", set_and_answer()) << c.attribute;
        EXPECT_EQ(std::string("Stored: ") + c.first + ", " + c.attribute + ", " + c.third,
                  xmstring_resource(oc->oc_message_label, XmNlabelString));
        EXPECT_EQ(c.good, server_value(c.object, c.attribute));
        ASSERT_TRUE(sync_with_server(kLeeds));
        EXPECT_FALSE(sensitive(oc->oc_update_button)) << "its own change reported";
    }
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
}

TEST_F(ConfigWindow, ObjectsDeletedOrChangedElsewhere)
{
    other->result("create", {{"parent", kLeeds},
                             {"class", "equipmentRack"},
                             {"values", {{"equipmentId", "rack-gone"}}}});
    std::string gone = std::string(kLeeds) + "/equipmentId=\"rack-gone\"";
    load(gone.c_str());
    type("userLabel", "too late");
    other->result("delete", {{"name", gone}});
    /* Said at once, and Set is off, also after a further edit. */
    ASSERT_TRUE(pump_until([] { return !sensitive(oc->oc_set_button); }, 10));
    EXPECT_EQ("Deleted on the server: " + gone,
              xmstring_resource(oc->oc_message_label, XmNlabelString));
    type("locationName", "later still");
    EXPECT_FALSE(sensitive(oc->oc_set_button));
    std::string message = set_and_answer();
    EXPECT_TRUE(contains(message, "no such object")) << message;
    EXPECT_EQ((std::vector<std::string>{"userLabel=too late", "locationName=later still"}),
              pending());
    oc->update_image_cb(oc->oc_update_button, oc); /* drops them */
    /* Another object loaded: Set is offered again for its edits. */
    load(kRack2);
    type("userLabel", "LDS rack-2");
    EXPECT_TRUE(sensitive(oc->oc_set_button));
    oc->update_image_cb(oc->oc_update_button, oc);

    /* Its attributes changed by another client: Update is offered.  The
     * window asks the server to watch the object
     * without waiting for the answer, and the server reads the two
     * connections in no fixed order: a round trip of the editor's first, so
     * that the server has the watch. */
    ASSERT_TRUE(sync_with_server(kLeeds));
    EXPECT_FALSE(sensitive(oc->oc_update_button));
    other->result("set", {{"name", kRack2}, {"values", {{"userLabel", "changed elsewhere"}}}});
    ASSERT_TRUE(pump_until([] { return sensitive(oc->oc_update_button); }, 10));
    EXPECT_EQ("userLabel", xmstring_resource(oc->oc_message_label, XmNlabelString));
    oc->update_image_cb(oc->oc_update_button, oc);
    EXPECT_EQ("changed elsewhere", text_of(field("userLabel")));
    EXPECT_FALSE(sensitive(oc->oc_update_button));
}

/* Another client changes an attribute after the form was loaded: Set writes
 * none of the edits, the dialog and the message line name the attribute and
 * its value now, and Update shows it, after which Set goes through.  A change
 * elsewhere to an attribute the user did not edit stops nothing. */
TEST_F(ConfigWindow, SetRefusesToOverwriteAChangeMadeElsewhere)
{
    other->result("create", {{"parent", kLeeds},
                             {"class", "equipmentRack"},
                             {"values", {{"equipmentId", "rack-race"}}}});
    const std::string fdn = std::string(kLeeds) + "/equipmentId=\"rack-race\"";
    struct {
        const char* attribute; /* changed by the other client after the load */
        std::string value;
        bool reported; /* its notification has come before Set is pressed */
        bool refused;
    } cases[] = {
        {"userLabel", "theirs 1", true, true},
        {"userLabel", "theirs 2", false, true}, /* it comes during Set's own waits */
        {"administrativeState", "locked", true, false},
    };
    for (auto& c : cases) {
        load(fdn.c_str());
        ASSERT_TRUE(sync_with_server(kLeeds));
        Pixel normal = resource<Pixel>(field("userLabel"), XmNbackground);
        std::string location = server_value(fdn.c_str(), "locationName");
        type("userLabel", "mine");
        type("locationName", "my row");
        other->result("set", {{"name", fdn}, {"values", {{c.attribute, c.value}}}});
        if (c.reported) {
            ASSERT_TRUE(pump_until([] { return sensitive(oc->oc_update_button); }, 10));
        }
        std::string message = set_and_answer();
        if (!c.refused) {
            EXPECT_EQ("", message) << c.value;
            EXPECT_EQ("mine", server_value(fdn.c_str(), "userLabel"));
            EXPECT_EQ(c.value, server_value(fdn.c_str(), c.attribute)) << "theirs kept";
            EXPECT_TRUE(pending().empty());
            EXPECT_EQ("mine", text_of(field("userLabel")));
            EXPECT_EQ(normal, resource<Pixel>(field("userLabel"), XmNbackground));
            continue;
        }
        std::string expected = std::string(c.attribute) +
                               " was changed by another user since it was loaded; its value is "
                               "now '" + c.value + "'. Nothing was set: press Update to see it.";
        EXPECT_EQ(expected, message);
        EXPECT_TRUE(contains(xmstring_resource(oc->oc_message_label, XmNlabelString), expected));
        EXPECT_EQ(c.value, server_value(fdn.c_str(), "userLabel"));
        EXPECT_EQ(location, server_value(fdn.c_str(), "locationName")) << "all or none";
        EXPECT_EQ(2u, pending().size());
        EXPECT_TRUE(sensitive(oc->oc_update_button));
        oc->update_image_cb(oc->oc_update_button, oc);
        EXPECT_EQ(c.value, text_of(field("userLabel")));
        EXPECT_TRUE(pending().empty());
        type("userLabel", "mine after all");
        EXPECT_EQ("", set_and_answer()) << c.value;
        EXPECT_EQ("mine after all", server_value(fdn.c_str(), "userLabel"));
    }
}

/* Whether w lies inside the view of the attribute form, left to right. */
bool in_view(Widget w)
{
    Widget clip = nullptr;
    XtVaGetValues(oc->oc_attribute_scrolled_window, XmNclipWindow, &clip, NULL);
    Position wx = 0, wy = 0, cx = 0, cy = 0;
    XtTranslateCoords(w, 0, 0, &wx, &wy);
    XtTranslateCoords(clip, 0, 0, &cx, &cy);
    return wx >= cx && wx + (int)w->core.width <= cx + (int)clip->core.width;
}

void key_action(Widget w, const char* action)
{
    XKeyEvent key = {};
    key.type = KeyPress;
    key.display = display;
    key.window = XtWindow(w);
    key.time = CurrentTime;
    XtCallActionProc(w, action, (XEvent*)&key, nullptr, 0);
}

/* Edits never Set survive Close and a load of the same object, marked as
 * edits; another object is loaded only when the user agrees to drop them. */
TEST_F(ConfigWindow, EditsNotYetSetAreNotDroppedSilently)
{
    load(kRack1);
    type("userLabel", "kept 1");
    type("locationName", "kept 2");
    const std::vector<std::string> edits = {"userLabel=kept 1", "locationName=kept 2"};
    XtCallCallbacks(oc->oc_close_button, XmNactivateCallback, nullptr);
    load(kRack1);
    EXPECT_EQ(edits, pending());
    EXPECT_EQ("kept 2", text_of(field("locationName")));
    EXPECT_EQ(oc->text_foreground, resource<Pixel>(field("userLabel"), XmNbackground));
    EXPECT_TRUE(sensitive(oc->oc_set_button));
    EXPECT_EQ("Not yet set: userLabel, locationName",
              xmstring_resource(oc->oc_message_label, XmNlabelString));

    /* Cancel keeps them, and shows the window closed before; Ok loads. */
    struct {
        bool ok;
        const char* shown;
        size_t edits;
    } answers[] = {{false, kRack1, 2}, {true, kRack2, 0}};
    for (auto& a : answers) {
        XtCallCallbacks(oc->oc_close_button, XmNactivateCallback, nullptr);
        Shown shown = run([] { load(kRack2); }, a.ok);
        EXPECT_NE(std::string::npos, shown.question.find("userLabel, locationName"))
            << shown.question;
        EXPECT_TRUE(contains(shown.question, kRack2)) << shown.question;
        EXPECT_EQ(a.shown, global.get_objname());
        EXPECT_EQ(a.edits, pending().size());
        EXPECT_TRUE(XtIsManaged(oc->oc_dialog));
    }
    EXPECT_EQ("", xmstring_resource(oc->oc_message_label, XmNlabelString));

    /* Opening a create form in their place asks as well. */
    type("userLabel", "kept 3");
    for (bool ok : {false, true}) {
        Shown shown = run([] { oc->create_object(nullptr); }, ok);
        EXPECT_TRUE(contains(shown.question, "userLabel")) << shown.question;
        EXPECT_EQ(ok ? 1 : 0, oc->create_mode);
    }
}

/* The labels stay in view however the values scroll. */
TEST_F(ConfigWindow, LabelsStayInViewWhileValuesScroll)
{
    Widget shell = XtParent(oc->oc_dialog);
    XtUnmanageChild(oc->oc_dialog);
    load("/systemId=\"leeds-core-1\"/logId=\"alarmLog\"/logRecordId=999", kLog);
    ASSERT_TRUE(pump_until([&] { return viewable(shell); }, 5));

    /* Only the values scroll sideways: End in a value wider than its field
     * and typing at its end leave every label and every field in view. */
    auto out_of_view = [] {
        WidgetList kids = nullptr;
        Cardinal n = 0;
        XtVaGetValues(oc->oc_attribute_caption, XmNchildren, &kids, XmNnumChildren, &n, NULL);
        for (Cardinal i = 0; i + 1 < n; i += 2)
            if (!in_view(kids[i]) || !in_view(kids[i + 1])) return std::string(XtName(kids[i + 1]));
        return std::string();
    };
    auto rows_in_view = [&] {
        pump_settled();
        pump_until([&] { return out_of_view().empty(); }, 3);
        return out_of_view();
    };
    Widget wide = field("additionalText");
    ASSERT_NE(nullptr, wide);
    key_action(wide, "end-of-line");
    EXPECT_EQ("", rows_in_view());
    /* Typed past the length where the field turns into a wrapped one. */
    std::string typed(130, 'x');
    XmTextInsert(wide, XmTextGetLastPosition(wide), &typed[0]);
    key_action(wide, "end-of-line");
    EXPECT_EQ("", rows_in_view());
    oc->update_image_cb(oc->oc_update_button, oc);
}

/* Exit with an edit not yet set ends the program with status 0.  Last: the
 * server goes during Set.  The lost-connection dialog tells of it, not a
 * second one of Set's. */
TEST_F(ConfigWindow, ExitWithPendingEditsAndServerLostDuringSet)
{
    load(kRack1);
    type("userLabel", "lost");
    EXPECT_EXIT(main_window->exit_cb(main_window->mw_close_button, nullptr),
                ::testing::ExitedWithCode(0), "");
    kill(mis->pid(), SIGSTOP);
    after(200, [] { kill(mis->pid(), SIGKILL); });
    std::string message = set_and_answer();
    EXPECT_EQ("", message);
    ASSERT_NE(nullptr, current_error_cb_dialog);
    EXPECT_EQ("Platform has Disconnected!", dialog_message(current_error_cb_dialog));
    EXPECT_EQ((std::vector<std::string>{"userLabel=lost"}), pending());
}

} // namespace
