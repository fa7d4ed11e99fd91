/*
 * tree_session.h - the editor's toolkit side connected to a real qx_mis, for
 * the suites of the object tree and the navigator (tests/tree).
 *
 *     struct Tree : qxtest::TreeSession {};   // one server per test program
 *     TEST_F(Tree, X) { first_tree(...); ... reset_tree(); ... }
 *
 * The suite starts one server and connects the editor to it.  Each case
 * starts from no tree (dropped as the preferences' rebuild drops it), with
 * RDN labels, no filter and the FDN order of siblings; at the end the tree
 * is dropped again, so that every object the cases registered is freed (the
 * leak check of the sanitized build wants them gone).  Cases are skipped
 * without a display.
 */
#ifndef TESTS_SUPPORT_TREE_SESSION_H
#define TESTS_SUPPORT_TREE_SESSION_H

#include "gui_fixture.h" /* first: gtest before the X headers */

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/globals.h"
#include "mis_process.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/natural_order.h"
#include "tree/selection.h"

namespace qxtest {

struct TreeSession : ::testing::Test {
    static inline MisProcess* mis = nullptr;

    static void SetUpTestSuite()
    {
        if (!gui_up()) return;
        mis = new MisProcess;
        ASSERT_TRUE(mis->start()) << mis->failure();
        ASSERT_TRUE(platform.connect(DataUnit(mis->address().c_str()), DataUnit("qx_tarn"), 10))
            << platform.get_error_string();
        Platform::def_platform = platform;
    }
    static void TearDownTestSuite()
    {
        if (!gui_up()) return;
        reset_tree();
        natural_order = false;
        platform.disconnect();
        delete mis;
        mis = nullptr;
    }
    void SetUp() override
    {
        if (!gui_up()) GTEST_SKIP() << "no X display";
        ASSERT_TRUE(platform.is_connected());
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

    static bool sensitive(Widget w) { return resource<Boolean>(w, XmNsensitive); }

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

#endif /* TESTS_SUPPORT_TREE_SESSION_H */
