/*
 * test_ldif_transfer.cpp - File > Export... and Import... against a real
 * qx_mis, in process under X.
 */
#include "editor_session.h"

#include <Xm/FileSB.h>
#include <X11/keysym.h>

#include <cstdio>
#include <map>
#include <string>

#include "core/ldif.h"
#include "ui/file_dialog.h"
#include "ui/main_win.h"

using namespace qxtest;

namespace {

const std::string kYork = "/systemId=\"york-agg-1\"";
const std::string kRack = kYork + "/equipmentId=\"rack-1\"";

/* In a folder of this run's own: other checkouts may run these tests at the same time. */
std::string temp_path(const char* name)
{
    static TempDir dir;
    return dir.path + "/" + name;
}

/* Every object of the subtree of base (base included), by its name relative
 * to base, with its class and values. */
std::map<std::string, json> subtree(const std::string& base)
{
    std::map<std::string, json> out;
    json found = EditorSession::other->result("search", {{"base", base}, {"limit", 100000}});
    std::vector<std::string> names = {base};
    for (const json& o : found["objects"]) names.push_back(o["name"]);
    for (const std::string& name : names) {
        json got = EditorSession::other->result("get", {{"name", name}});
        json values = json::object();
        for (const json& a : got["attributes"]) values[a["name"].get<std::string>()] = a["value"];
        out[name.substr(base.size())] = {{"class", got["class"]}, {"values", values}};
    }
    return out;
}

void make(const std::string& parent, const std::string& cls, const json& values)
{
    EditorSession::other->result("create", {{"parent", parent}, {"class", cls}, {"values", values}});
}

/* The records of the LDIF file at path, as the reader reads them to its end
 * or to an error (-1). */
long records_in(const std::string& path)
{
    LdifReader reader(read_file(path));
    LdifRecord rec;
    long read = 0;
    while (reader.next(rec) == 1) read++;
    return reader.error().empty() ? read : -1;
}

struct LdifTransfer : EditorSession {
    void TearDown() override { DataObject::selected_list.clear(); }
};

TEST_F(LdifTransfer, ExportThenImportBeneathAnotherParentGivesTheSameSubtree)
{
    /* Names and values that need escapes, base64 and folding. */
    const std::string odd = "s,+\"#/ü ";
    make(kRack, "shelf",
         {{"shelfId", odd},
          {"userLabel", " Zürich: \"shelf\" <odd> " + std::string(90, 'x') + " "}});
    const std::string copy = "/systemId=\"ldif-copy\"";
    make("/", "managedElement", {{"systemId", "ldif-copy"}});
    const std::string path = temp_path("rack.ldif");

    select_only({registered(kRack, kYork)});
    long written = main_window->export_ldif(path); /* waits */
    const auto before = subtree(kRack);
    EXPECT_EQ((long)before.size(), written);
    EXPECT_EQ("Exported " + std::to_string(written) + " entries to " + path, status_text());

    select_only({registered(copy, "/")});
    Shown shown = run([&] { EXPECT_EQ(written, main_window->import_ldif(path)); }); /* waits */
    EXPECT_EQ("", shown.error);
    EXPECT_EQ("Imported " + std::to_string(written) + " records from " + path + " beneath " + copy,
              status_text());
    const auto after = subtree(copy + "/equipmentId=\"rack-1\"");
    EXPECT_EQ(before, after);
}

TEST_F(LdifTransfer, ImportCarriesOutChangesAndStopsAtTheFirstRefusalWithItsLine)
{
    const std::string path = temp_path("changes.ldif");
    write_file(path,
               "version: 1\n"
               "\n"
               "dn: equipmentId=imp-a,systemId=york-agg-1\n" /* line 3 */
               "objectClass: equipmentRack\n"
               "userLabel: first\n"
               "\n"
               "dn: equipmentId=imp-a,systemId=york-agg-1\n"
               "changetype: modify\n"
               "replace: userLabel\n"
               "userLabel:: wqtyZXBsYWNlZMK7\n"
               "-\n"
               "\n"
               "dn: equipmentId=imp-b,systemId=york-agg-1\n"
               "objectClass: equipmentRack\n"
               "\n"
               "dn: equipmentId=imp-b,systemId=york-agg-1\n"
               "changetype: delete\n"
               "\n"
               "dn: equipmentId=imp-c,systemId=york-agg-1\n" /* line 19 */
               "objectClass: equipmentRack\n"
               "administrativeState: sleepy\n"
               "\n"
               "dn: equipmentId=imp-d,systemId=york-agg-1\n"
               "objectClass: equipmentRack\n",
               0644);
    long done = 0;
    Shown shown = run([&] { done = main_window->import_ldif(path); }); /* waits */
    EXPECT_EQ(-1, done);
    for (const std::string& said : {shown.error, status_text()}) {
        EXPECT_NE(std::string::npos, said.find("line 19 (equipmentId=imp-c,systemId=york-agg-1)"))
            << said;
        EXPECT_TRUE(contains(said, "sleepy")) << said;
        EXPECT_TRUE(contains(said, "4 records went in before it")) << said;
    }
    auto a = subtree(kYork + "/equipmentId=\"imp-a\"");
    EXPECT_EQ("«replaced»", a.at("")["values"]["x721:userLabel"]);
    for (const char* gone : {"imp-b", "imp-c", "imp-d"})
        EXPECT_FALSE(exists(kYork + "/equipmentId=\"" + gone + "\"")) << gone;

    /* The server's refusal of one of several creates sent together (imp-h's
     * goes out with imp-a's, and is taken back); text that is not LDIF, and
     * a file that is not there. */
    struct Case {
        std::string text, said;
    } cases[] = {
        {"dn: equipmentId=imp-g,systemId=york-agg-1\nobjectClass: equipmentRack\n\n"
         "dn: equipmentId=imp-a,systemId=york-agg-1\nobjectClass: equipmentRack\n\n"
         "dn: equipmentId=imp-h,systemId=york-agg-1\nobjectClass: equipmentRack\n",
         "Import stopped at line 4 (equipmentId=imp-a,systemId=york-agg-1): an object named " +
             kYork + "/equipmentId=\"imp-a\" exists already. 1 record went in before it."},
        {"dn: equipmentId=imp-e,systemId=york-agg-1\nobjectClass: equipmentRack\n\n"
         "dn: equipmentId=imp-f,systemId=york-agg-1\nuserLabel:: %%%\n",
         "Import stopped at line 5: the base64 value of userLabel is not valid base64. 1 record "
         "went in before it."},
        {"", "Cannot read " + temp_path("absent.ldif") + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        std::string file = c.text.empty() ? temp_path("absent.ldif") : path;
        if (!c.text.empty()) write_file(file, c.text, 0644);
        Shown s = run([&] { main_window->import_ldif(file); }); /* waits */
        EXPECT_EQ(c.said, status_text());
        EXPECT_EQ(c.said, s.error);
    }
    EXPECT_FALSE(exists(kYork + "/equipmentId=\"imp-h\""));
}

TEST_F(LdifTransfer, EscapeStopsAnExportAndWhatWasWrittenStays)
{
    /* Two subtrees, each read in one request.  Escape, pressed in the main
     * window, comes during the first wait, for the top entry: that entry is
     * written, the rest is not. */
    const std::string path = temp_path("stopped.ldif");
    const std::string leeds = "/systemId=\"leeds-core-1\"";
    select_only({registered(kYork, "/"), registered(leeds, "/")});
    after(1, [] {
        XEvent key = key_event(main_window->mw_form, XK_Escape);
        XSendEvent(key.xkey.display, key.xkey.window, True, KeyPressMask, &key);
        XSync(key.xkey.display, False); /* the press is back in the queue */
    });
    long written = main_window->export_ldif(path); /* waits */
    long york = other->result("search", {{"base", kYork}, {"limit", 0}})["count"].get<long>();
    long total =
        york + 2 + other->result("search", {{"base", leeds}, {"limit", 0}})["count"].get<long>();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, total);
    EXPECT_EQ("Export stopped (Escape): " + std::to_string(written) +
                  (written == 1 ? " entry" : " entries") + " written to " + path,
              status_text());
    EXPECT_EQ(written, records_in(path));
}

/* A server whose replies hold less than the whole tree with its values. */
struct LdifTransferSmallReplies : EditorSession {
    static void SetUpTestSuite() { connect(true, {"--max-unsent", "1"}); }
};

TEST_F(LdifTransferSmallReplies, ExportReadsATreeTooLargeForOneReplyALevelAtATime)
{
    const std::string path = temp_path("whole.ldif");
    DataObject::selected_list.clear();
    long written = 0;
    Shown shown = run([&] { written = main_window->export_ldif(path); }); /* waits */
    EXPECT_EQ("", shown.error);
    long below = other->result("search", {{"base", "/"}, {"limit", 0}})["count"].get<long>();
    EXPECT_EQ(below, written) << status_text();
    EXPECT_EQ(written, records_in(path));
}

TEST_F(LdifTransfer, FileMenuItemsAskForTheFile)
{
    const std::string path = temp_path("menu.ldif");
    const std::string leaf = kYork + "/equipmentId=\"menu-leaf\"";
    make(kYork, "equipmentRack", {{"equipmentId", "menu-leaf"}});
    select_only({registered(leaf, kYork)});
    remove(path.c_str());
    /* A file already there is replaced only when the user says so. */
    auto export_to_path = [&] {
        bool asked = false;
        while_running(
            [&] { press(main_window->mw_export_button); },
            [&] {
                if (!current_file_dialog || asked) return;
                asked = true;
                Widget text = XmFileSelectionBoxGetChild(current_file_dialog, XmDIALOG_TEXT);
                XmTextSetString(text, const_cast<char*>(path.c_str()));
                press(XmFileSelectionBoxGetChild(current_file_dialog, XmDIALOG_OK_BUTTON));
            });
    };
    export_to_path();
    EXPECT_EQ("Exported 1 entry to " + path, status_text());
    write_file(path, "kept", 0644);
    Shown shown = run(export_to_path, false);
    EXPECT_EQ(path + " already exists. Replace it?", shown.question);
    EXPECT_EQ("kept", read_file(path));
    shown = run(export_to_path, true);
    EXPECT_EQ(path + " already exists. Replace it?", shown.question);
    EXPECT_TRUE(contains(read_file(path), "dn: equipmentId=menu-leaf")) << read_file(path);
}

} // namespace
