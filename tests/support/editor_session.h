/*
 * editor_session.h - the editor's toolkit side connected to a real qx_mis,
 * and the helpers its suites share to read widgets and answer dialogs.
 *
 *     struct Commands : qxtest::EditorSession {};   // one server per test program
 *     struct Tree : qxtest::TreeSession {};         // and each case from no tree
 *
 * At the end the editor disconnects and every registered object is freed
 * (the sanitized build's leak check wants them gone).  Cases are skipped
 * without a display.
 */
#ifndef TESTS_SUPPORT_EDITOR_SESSION_H
#define TESTS_SUPPORT_EDITOR_SESSION_H

#include "gui_fixture.h" /* first: gtest before the X headers */

#include <Xm/MessageB.h>
#include <Xm/Text.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/connection.h"
#include "core/globals.h"
#include "mis_process.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/natural_order.h"
#include "tree/selection.h"
#include "tree/tree_api.h"
#include "ui/config_win.h"
#include "ui/dialogs.h"

namespace qxtest {

/* The field of the attribute shown as name in the configuration window's
 * form (a failure when there is none). */
inline Widget field(const char* name)
{
    Widget w = object_configuration->field_named(name);
    EXPECT_NE(nullptr, w) << name;
    return w;
}

inline bool sensitive(Widget w)
{
    return resource<Boolean>(w, XmNsensitive);
}

/* A person typing a field's whole text. */
inline void type(const char* name, const std::string& text)
{
    if (Widget w = field(name)) XmTextSetString(w, const_cast<char*>(text.c_str()));
}

/* Presses the OK, Cancel or Help button of the message box mb. */
inline void press(Widget mb, unsigned char which)
{
    ::press(XmMessageBoxGetChild(mb, which));
}

/* Runs action, and step from the event loop every 20 ms while action runs:
 * how a test answers the blocking dialogs an action opens.  A tick still
 * pending when action returns does nothing, and this call waits for it. */
inline void while_running(const std::function<void()>& action, std::function<void()> step)
{
    struct Ticks {
        std::function<void()> step;
        bool running = true, pending = false;
        static void next(const std::shared_ptr<Ticks>& t)
        {
            t->pending = true;
            after(20, [t] {
                t->pending = false;
                if (!t->running) return;
                t->step();
                if (t->running) next(t);
            });
        }
    };
    auto ticks = std::make_shared<Ticks>();
    ticks->step = std::move(step);
    Ticks::next(ticks);
    action();
    ticks->running = false;
    pump_until([&] { return !ticks->pending; }, 5);
}

/* What a run of an action showed: the question (answered with OK, or with
 * Cancel when ok is false, after before_answer ran), the information and
 * the first error message ("" for a dialog that did not come); every error
 * dialog is answered with OK, the first after on_error ran. */
struct Shown {
    std::string question, information, error;
};

inline Shown run(const std::function<void()>& action, bool ok = true,
                 const std::function<void()>& before_answer = nullptr,
                 const std::function<void()>& on_error = nullptr)
{
    Shown shown;
    current_information_dialog = nullptr;
    while_running(action, [&] {
        if (current_question_dialog && shown.question.empty()) {
            Widget mb = *current_question_dialog->getwidget();
            shown.question = xmstring_resource(mb, XmNmessageString);
            if (before_answer) before_answer();
            press(mb, ok ? XmDIALOG_OK_BUTTON : XmDIALOG_CANCEL_BUTTON);
        }
        if (current_error_dialog) {
            Widget mb = *current_error_dialog->getwidget();
            if (shown.error.empty()) {
                shown.error = xmstring_resource(mb, XmNmessageString);
                if (on_error) on_error();
            }
            press(mb, XmDIALOG_OK_BUTTON);
        }
    });
    if (current_information_dialog && XtIsManaged(*current_information_dialog->getwidget())) {
        Widget mb = *current_information_dialog->getwidget();
        shown.information = xmstring_resource(mb, XmNmessageString);
        press(mb, XmDIALOG_OK_BUTTON);
    }
    return shown;
}

/* The message of the error dialog action opened, or "" when none came;
 * while_up runs while it is up, before it is answered. */
inline std::string answered(const std::function<void()>& action,
                            const std::function<void()>& while_up = nullptr)
{
    return run(action, true, nullptr, while_up).error;
}

/* The object of fdn in the editor's registry, registered under parent when
 * it is not there yet. */
inline DataObject* registered(const std::string& fdn, const std::string& parent)
{
    if (DataObject* known = find_album_object(fdn.c_str())) return known;
    auto* o = new DataObject(fdn.c_str());
    o->parent_name = intern_name(parent.c_str());
    DataObject::object_list.insert(o);
    return o;
}

/* The names of the selected objects, in the order they were selected. */
inline std::vector<std::string> selected_names()
{
    std::vector<std::string> out;
    for (DataObject* o : DataObject::selected_list.items()) out.push_back(o->name);
    return out;
}

inline void select_only(const std::vector<DataObject*>& objs)
{
    DataObject::selected_list.clear();
    for (DataObject* o : objs) DataObject::selected_list.append(o);
}

struct EditorSession : ::testing::Test {
    static inline MisProcess* mis = nullptr;
    static inline Client* other = nullptr; /* a second client of the same server */

    /* Whether the server has fdn, as the second client reads it. */
    static bool exists(const std::string& fdn)
    {
        return other->call("get", {{"name", fdn}}).contains("result");
    }

    /* Has the second client create count objects of cls under parent, named
     * attr=first, first + 1 ..., batch requests to a line; false (and a
     * failure) when a batch is not answered with its array. */
    static bool create_many(const std::string& parent, const char* cls, const char* attr,
                            long first, int count, int batch)
    {
        for (int done = 0; done < count; done += batch) {
            json lines = json::array();
            for (int i = done; i < std::min(count, done + batch); i++)
                lines.push_back(request(i, "create",
                                        {{"parent", parent},
                                         {"class", cls},
                                         {"values", {{attr, std::to_string(first + i)}}}}));
            other->send_raw(lines.dump() + "\n");
            json answer; /* after the raw events the creations caused */
            do answer = other->next(60000);
            while (answer.is_object());
            if (!answer.is_array()) {
                ADD_FAILURE() << answer.dump().substr(0, 300);
                return false;
            }
        }
        return true;
    }

    static void SetUpTestSuite() { connect(true); }
    /* Starts the server (with the options extra) and connects the editor,
     * with its event callbacks when callbacks is true. */
    static void connect(bool callbacks, std::vector<std::string> extra = {})
    {
        if (!gui_up()) return;
        mis = new MisProcess;
        ASSERT_TRUE(mis->start(std::move(extra))) << mis->failure();
        other = new Client(mis->port());
        ASSERT_TRUE(platform.connect(DataUnit(mis->address().c_str()), DataUnit("qx_tarn"), 10))
            << platform.get_error_string();
        if (callbacks) register_callbacks();
    }
    static void TearDownTestSuite()
    {
        platform.disconnect();
        DataObject::selected_list.clear();
        DataObject::object_list.clear_and_destroy();
        delete other;
        other = nullptr;
        delete mis;
        mis = nullptr;
    }
    void SetUp() override
    {
        if (!gui_up()) GTEST_SKIP() << "no X display";
        ASSERT_TRUE(platform.is_connected());
    }
};

/* Each case starts from no tree (dropped as the preferences' rebuild drops
 * it), with RDN labels, no filter and the FDN order of siblings. */
struct TreeSession : EditorSession {
    static void SetUpTestSuite()
    {
        connect(false);
        Platform::def_platform = platform;
    }
    static void TearDownTestSuite()
    {
        if (gui_up()) reset_tree();
        natural_order = false;
        EditorSession::TearDownTestSuite();
    }
    void SetUp() override
    {
        EditorSession::SetUp();
        reset_tree();
        fdn_name = false;
        natural_order = false;
        current_filter = nullptr;
    }

    /* Drops the whole tree as the preferences' rebuild does. */
    static void reset_tree()
    {
        DataObject::selected_list.clear();
        DataObject::object_list.clear_and_destroy();
        CurrentCookie++;
        root = nullptr;
        check_selected(0);
        pump_settled();
    }

    /* Builds the first tree from root_fdn at scope, as the editor's start does. */
    static void first_tree(const std::string& root_fdn, int scope)
    {
        static std::string keep;
        keep = root_fdn;
        default_root = const_cast<char*>(keep.c_str());
        default_scope = scope;
        build_tree();
        pump_settled();
    }

    /* Names in the byte order of the navigator's rows. */
    static std::vector<std::string> sorted(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end(), [](const std::string& a, const std::string& b) {
            return strcmp(a.c_str(), b.c_str()) < 0;
        });
        return v;
    }
};

} // namespace qxtest

#endif /* TESTS_SUPPORT_EDITOR_SESSION_H */
