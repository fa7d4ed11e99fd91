/*
 * test_reports.cpp - the navigator following objects that another client
 * creates and deletes, against a real qx_mis, in process under X.
 */
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "editor_session.h" /* first: gtest before the X headers */

#include "core/globals.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "tree/selection.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

namespace {

std::string system_fdn(const char* id)
{
    return std::string("/systemId=\"") + id + "\"";
}

std::string rack_fdn(const std::string& parent, const std::string& id)
{
    return parent + "/equipmentId=\"" + id + "\"";
}

/* The FDNs of the rows under obj's row, in their order in the navigator. */
std::vector<std::string> rows_of(DataObject* obj)
{
    std::vector<std::string> out;
    row_count(); /* the rows listed, the siblings in their order */
    for (DataObject* o : obj->shown_children) out.push_back(o->name ? o->name : "(no name)");
    return out;
}

/* How many registered objects are named fdn. */
size_t registered_as(const std::string& fdn)
{
    size_t n = 0;
    for (size_t i = 0; i < DataObject::object_list.entries(); i++)
        if (strcmp(DataObject::object_list.at(i)->name, fdn.c_str()) == 0) n++;
    return n;
}

/* The first tree from "/" (the systems shown closed and derived), with the
 * system `id` opened. */
DataObject* open_system(const char* id)
{
    qxtest::TreeSession::first_tree("/", 1);
    DataObject* sys = find_album_object(system_fdn(id).c_str());
    if (sys && sys->shown) open_object(sys);
    return sys;
}

using qxtest::request_line;

/* The parameters of a create of the rack id under parent. */
qxtest::json new_rack(const std::string& parent, const std::string& id)
{
    return {{"parent", parent}, {"class", "equipmentRack"}, {"values", {{"equipmentId", id}}}};
}

/* Sends lines to the server on a connection of its own, all at once, and
 * counts the error replies; run on a thread while the editor's loop goes on. */
struct Pipeline {
    std::string lines;
    size_t requests = 0;
    int errors = -1;

    void add(const std::string& line)
    {
        lines += line;
        requests++;
    }
    /* Sends the lines and runs the editor's loop until done() or seconds
     * have passed; true when done() came. */
    bool run(const std::function<bool()>& done, double seconds)
    {
        std::thread thread([this] {
            qxtest::Client client(qxtest::TreeSession::mis->port());
            client.send_raw(lines);
            int failed = 0;
            for (size_t replies = 0; replies < requests;) {
                qxtest::json j = client.next(60000);
                if (j.is_null()) break;
                if (!j.contains("id")) continue;
                replies++;
                if (j.contains("error")) failed++;
            }
            errors = failed;
        });
        bool came = pump_until(done, seconds);
        thread.join();
        return came;
    }
};

struct Reports : qxtest::TreeSession {};

/* Each report of a creation waits for a derivation, and the next reports
 * arrive during that wait; once they nested, a burst of about 3,500
 * overflowed the stack. */
TEST_F(Reports, SlowBurstOfTwentyThousandCreations)
{
    const int count = 20000;
    DataObject* york = open_system("york-agg-1");
    ASSERT_TRUE(york && york->shown);
    std::vector<std::string> expected = rows_of(york);
    Pipeline pipe;
    for (int i = 0; i < count; i++) {
        /* Out of name order, so that each row has to find its place. */
        std::string id = "b" + std::to_string(100000 + (i * 7919) % count);
        pipe.add(request_line(i + 1, "create", new_rack(york->name, id)));
        expected.push_back(rack_fdn(york->name, id));
    }
    int before = york->num_children;
    ASSERT_TRUE(pipe.run([&] { return york->num_children == before + count; }, 900))
        << york->num_children - before << " of " << count << " reported";
    EXPECT_EQ(0, pipe.errors);
    pump_settled();
    EXPECT_EQ(sorted(expected), rows_of(york));
}

TEST_F(Reports, CreationsMixedWithDeletionsLeaveTheRightRows)
{
    DataObject* sys = open_system("manchester-core-1");
    ASSERT_TRUE(sys && sys->shown);
    std::vector<std::string> expected = rows_of(sys);
    std::set<std::string> deleted;
    Pipeline pipe;
    long id = 0;
    for (int i = 0; i < 300; i++) {
        std::string rack = "m" + std::to_string(1000 + i);
        std::string fdn = rack_fdn(sys->name, rack);
        pipe.add(request_line(++id, "create", new_rack(sys->name, rack)));
        if (i % 3 == 0) { /* one in three goes again at once */
            pipe.add(request_line(++id, "delete", {{"name", fdn}}));
            deleted.insert(fdn);
        } else {
            expected.push_back(fdn);
        }
    }
    /* And one that was there before. */
    std::string rack1 = rack_fdn(sys->name, "rack-1");
    pipe.add(request_line(++id, "delete", {{"name", rack1}}));
    expected.erase(std::find(expected.begin(), expected.end(), rack1));
    int after = (int)expected.size();
    EXPECT_TRUE(pipe.run([&] { return sys->num_children == after; }, 120))
        << sys->num_children << " children, " << after << " expected";
    EXPECT_EQ(0, pipe.errors);
    ASSERT_TRUE(sync_with_server(sys->name));
    EXPECT_EQ(after, sys->num_children);
    EXPECT_EQ(sorted(expected), rows_of(sys));
    for (DataObject* o : sys->shown_children) { /* the new ones shown closed, derived */
        if (strstr(o->name, "equipmentId=\"m")) {
            EXPECT_TRUE(o->node_state == XiClosed && o->derive_state == 2) << o->name;
        }
    }
    for (const std::string& fdn : deleted) EXPECT_EQ(0u, registered_as(fdn)) << fdn;
    EXPECT_EQ(0u, registered_as(rack1));
}

/* A stopped server holds add_object in its derivation wait; the user opens
 * the parent meanwhile, which shows the reported objects.  Once the server
 * answers, each object still has one row and one registration. */
TEST_F(Reports, ParentOpenedWhileACreatedObjectIsDerived)
{
    DataObject* sys = open_system("leeds-core-1");
    ASSERT_TRUE(sys);
    DataObject* harrogate = find_album_object(system_fdn("harrogate-msan-1").c_str());
    ASSERT_TRUE(harrogate && harrogate->shown);
    /* Derived but closed, as selecting it leaves it. */
    ASSERT_EQ(0, harrogate->derive(0, nullptr));
    std::vector<std::string> expected;
    for (AlbumImage ai = harrogate->album().first_image(); ai; ai.next_image())
        expected.push_back(ai->get_objname().str());

    /* Two creations; the server stops once it has answered them. */
    std::string first = rack_fdn(harrogate->name, "r1");
    std::string second = rack_fdn(harrogate->name, "r2");
    for (const char* id : {"r1", "r2"}) other->result("create", new_rack(harrogate->name, id));
    expected.push_back(first);
    expected.push_back(second);
    kill(mis->pid(), SIGSTOP);

    /* When the first object waits for its derivation, open the parent and
     * let the server go on. */
    bool opened = false;
    std::function<void()> watch = [&] {
        DataObject* obj = find_album_object(first.c_str());
        if (obj && obj->derive_state == 1 && !opened) {
            open_object(harrogate);
            opened = true;
            kill(mis->pid(), SIGCONT);
        } else if (!opened) {
            after(5, watch);
        }
    };
    after(0, watch);
    bool done = pump_until(
        [&] {
            DataObject* a = find_album_object(first.c_str());
            DataObject* b = find_album_object(second.c_str());
            return opened && a && b && a->derive_state == 2 && b->derive_state == 2;
        },
        20);
    if (!opened) kill(mis->pid(), SIGCONT);
    ASSERT_TRUE(done);
    pump_settled();
    EXPECT_EQ(sorted(expected), rows_of(harrogate));
    EXPECT_EQ(1u, registered_as(first));
    EXPECT_EQ(1u, registered_as(second));
    EXPECT_EQ((int)expected.size(), harrogate->num_children);
}

/* The derivations of a burst's objects share one wait.  During it the tree
 * is rebuilt or the server lost: nothing touches what is gone, the rest
 * ends derived, and tracked, so that a creation under one of them is
 * reported to it.  (An object removed meanwhile: ObjectGoneDuringAWait...) */
TEST_F(Reports, DerivationsOfABurstShareOneWait)
{
    enum Meanwhile { NOTHING, REBUILT, LOST };
    for (Meanwhile meanwhile : {NOTHING, REBUILT, LOST}) {
        SCOPED_TRACE(meanwhile);
        reset_tree();
        DataObject* sys = open_system("leeds-core-1");
        ASSERT_TRUE(sys && sys->shown);
        std::vector<std::string> names = rows_of(sys);
        ASSERT_GE(names.size(), 3u);
        names.resize(3);
        std::vector<DataObject*> objs;
        for (const std::string& n : names) objs.push_back(find_album_object(n.c_str()));
        mis->pause();
        after(50, [&] {
            if (meanwhile == REBUILT) reset_tree();
            if (meanwhile == LOST)
                mis->kill_now();
            else
                mis->resume();
        });
        int result = derive_together(objs, nullptr);
        if (meanwhile == REBUILT) {
            EXPECT_EQ(2, result);
            continue;
        }
        EXPECT_EQ(0, result);
        for (size_t i = 0; i < objs.size(); i++) {
            ASSERT_NE(nullptr, objs[i]) << names[i];
            EXPECT_EQ(2, objs[i]->derive_state) << names[i];
            EXPECT_EQ(0u, objs[i]->flags & DataObject::DERIVING) << names[i];
        }
        if (meanwhile == LOST) {
            ASSERT_TRUE(mis->start()) << mis->failure();
            std::string address = "127.0.0.1:" + std::to_string(mis->port());
            ASSERT_TRUE(platform.connect(DataUnit(address.c_str()), DataUnit("qx_tarn"), 10));
            Platform::def_platform = platform;
            delete other;
            other = new qxtest::Client(mis->port());
            continue;
        }
        DataObject* rack = objs[0];
        int before = rack->num_children;
        std::string shelf = "t" + std::to_string((int)meanwhile);
        other->result("create",
                      {{"parent", names[0]}, {"class", "shelf"}, {"values", {{"shelfId", shelf}}}});
        EXPECT_TRUE(pump_until([&] { return rack->num_children == before + 1; }, 10));
    }
}

/* While an operation waits for the server, or a blocking dialog of it is up,
 * the object it works on goes: another client deletes it, or the tree is
 * rebuilt.  Afterwards the operation touches nothing of it (the sanitized
 * build stops at any read or write of the deleted object) and ends as the
 * row says.  A server that does not answer in time makes the class of an
 * object unknown, which is what raises the dialog 4/211. */
TEST_F(Reports, ObjectGoneDuringAWaitOrADialogIsNotTouched)
{
    enum When { IN_DIALOG, IN_WAIT };
    enum Meanwhile { DELETED, REBUILT };
    using Racks = std::vector<std::string>;
    static char rack_class[] = "equipmentRack", york_name[] = "/systemId=\"york-agg-1\"",
                none[] = "";
    /* The class of every object whose FDN holds york's is asked of the
     * server before its derivation; the server stops answering. */
    auto class_unknown = [] {
        user_object_class = rack_class;
        user_object_name = york_name;
        mis->pause();
        setenv("QX_KVL_TIMEOUT", "0.3", 1);
    };
    auto find = [](const std::string& fdn) { return find_album_object(fdn.c_str()); };
    auto ghost = [](const char* fdn) { return qxtest::registered(fdn, york_name); };
    struct Row {
        const char* what;
        When when;
        Meanwhile meanwhile;
        int racks;  /* made for the row under york before york is opened */
        int target; /* the rack another client deletes */
        std::string dialog; /* the beginning of the first dialog's text */
        std::function<void(const Racks&)> run;
    } rows[] = {
        {"derive, ObjectClass error", IN_DIALOG, DELETED, 1, 0, "ObjectClass error in",
         [&](const Racks& r) {
             DataObject* obj = find(r[0]);
             class_unknown();
             EXPECT_EQ(2, obj->derive(0, nullptr));
         }},
        {"derive, SET_DERIVATION FAILED", IN_DIALOG, REBUILT, 0, 0, "SET_DERIVATION FAILED",
         [&](const Racks&) { EXPECT_EQ(2, ghost("nowhere")->derive(0, nullptr)); }},
        {"derive_together, ObjectClass error", IN_DIALOG, DELETED, 3, 0, "ObjectClass error in",
         [&](const Racks& r) {
             std::vector<DataObject*> objs{find(r[0]), find(r[1]), find(r[2])};
             class_unknown();
             EXPECT_EQ(0, derive_together(objs, nullptr));
             EXPECT_EQ(nullptr, objs[0]);
             for (int i = 1; i < 3; i++) {
                 ASSERT_NE(nullptr, objs[i]);
                 EXPECT_EQ(2, objs[i]->derive_state);
             }
         }},
        {"double click, the Action menu", IN_WAIT, DELETED, 1, 0, "",
         [&](const Racks& r) {
             XmPushButtonCallbackStruct click{};
             click.click_count = 2;
             object_selected(main_window->mw_get_button, (XtPointer)r[0].c_str(), &click);
             EXPECT_NE(DataUnit(r[0].c_str()), global.get_objname());
         }},
        {"get_attributes, the boot", IN_WAIT, REBUILT, 0, 0, "",
         [&](const Racks&) {
             EXPECT_EQ(0, ghost("/systemId=\"nowhere\"")->get_attributes().count());
         }},
        /* The request needs only the name: the server refuses the object
         * another client deleted. */
        {"Delete, the question", IN_DIALOG, DELETED, 2, 1, "Are you sure",
         [&](const Racks& r) {
             qxtest::select_only({find(r[0]), find(r[1])});
             main_window->delete_object_cb(main_window->mw_delete_button, nullptr);
             EXPECT_EQ("1 object deleted. no such object " + r[1], status_text());
             EXPECT_FALSE(exists(r[0]));
         }},
    };
    int made = 0;
    for (Row& row : rows) {
        SCOPED_TRACE(std::string(row.what) + (row.meanwhile == DELETED ? ", deleted" : ", rebuilt"));
        reset_tree();
        Racks racks;
        for (int i = 0; i < row.racks; i++) {
            std::string id = "w" + std::to_string(++made);
            other->result("create", new_rack(york_name, id));
            racks.push_back(rack_fdn(york_name, id));
        }
        DataObject* york = open_system("york-agg-1");
        ASSERT_TRUE(york && york->shown);
        for (const std::string& r : racks) ASSERT_NE(nullptr, find(r)) << r;

        bool gone = false;
        auto meanwhile = [&] {
            if (gone) return;
            gone = true;
            unsetenv("QX_KVL_TIMEOUT");
            mis->resume();
            if (row.meanwhile == REBUILT) {
                reset_tree();
                return;
            }
            const std::string& fdn = racks[(size_t)row.target];
            other->result("delete", {{"name", fdn}});
            EXPECT_TRUE(pump_until([&] { return !find(fdn); }, 10)) << fdn;
        };
        std::string dialog;
        current_information_dialog = nullptr;
        if (row.when == IN_WAIT) {
            mis->pause();
            after(50, meanwhile);
        }
        qxtest::while_running([&] { row.run(racks); }, [&] {
            Widget mb = current_question_dialog ? *current_question_dialog->getwidget()
                        : current_error_dialog  ? *current_error_dialog->getwidget()
                                                : nullptr;
            if (!mb) return;
            if (dialog.empty()) dialog = xmstring_resource(mb, XmNmessageString);
            meanwhile();
            qxtest::press(mb, XmDIALOG_OK_BUTTON);
        });
        user_object_class = none;
        user_object_name = none;
        unsetenv("QX_KVL_TIMEOUT");
        mis->resume();
        EXPECT_TRUE(gone);
        if (row.dialog.empty())
            EXPECT_EQ("", dialog);
        else
            EXPECT_EQ(0u, dialog.find(row.dialog)) << dialog;
        if (current_information_dialog)
            qxtest::press(*current_information_dialog->getwidget(), XmDIALOG_OK_BUTTON);
    }
    reset_tree();
}

} // namespace
