/* The outline in process: rows, node states, ordering, destruction. */
#include <gtest/gtest.h>

#include <Xm/LabelG.h>
#include <Xm/PushB.h>
#include <X11/extensions/Xcomposite.h>

#include <algorithm>
#include <set>

#include "XiHierarchyP.h"
#include "XiIconButton.h"
#include "XiOutline.h"
#include "widget_test_env.h"

namespace {

void state_cb(Widget, XtPointer client, XtPointer call)
{
    auto* reports = (std::vector<XiHierarchyNodeStateData>*)client;
    reports->push_back(*(XiHierarchyNodeStateData*)call);
}

void destroyed_cb(Widget w, XtPointer client, XtPointer)
{
    ((std::set<std::string>*)client)->insert(XtName(w));
}

class OutlineTest : public ::testing::Test {
protected:
    Widget shell = nullptr;
    Widget outline = nullptr;
    std::vector<XiHierarchyNodeStateData> reports;
    std::set<std::string> gone; /* names of destroyed widgets */

    void SetUp() override { create(400, 400, True); }
    void TearDown() override
    {
        XtDestroyWidget(shell);
        WidgetTest::settle(5);
    }

    void create(int width, int height, Boolean auto_close)
    {
        shell = WidgetTest::shell(width, height);
        outline = XtVaCreateManagedWidget("outline", xiOutlineWidgetClass, shell, XiNautoClose,
                                          auto_close, NULL);
        XtAddCallback(outline, XiNnodeStateCallback, state_cb, &reports);
        WidgetTest::warnings().clear();
    }

    void recreate(int width, int height, Boolean auto_close)
    {
        XtDestroyWidget(shell);
        create(width, height, auto_close);
    }

    Widget node(const char* name, Widget parent, XiHierarchyNodeState state,
                Widget before = nullptr)
    {
        return XtVaCreateManagedWidget(name, widgetClass, outline, XtNwidth, 50, XtNheight, 20,
                                       XtNborderWidth, 0, XiNparentNode, parent, XiNnodeState,
                                       state, XiNinsertBefore, before, NULL);
    }

    void show()
    {
        if (!XtIsRealized(shell)) XtRealizeWidget(shell);
        WidgetTest::settle();
    }

    static Widget button_of(Widget n) { return XiHierarchyNode(n)->hierarchy.open_close_button; }

    static bool mapped(Widget w) { return resource<Boolean>(w, XmNmappedWhenManaged); }
    static XiHierarchyNodeState state_of(Widget n)
    {
        return resource<XiHierarchyNodeState>(n, XiNnodeState);
    }

    void press(Widget n)
    {
        XiIconButtonCallbackInfo info = {0, nullptr};
        XtCallCallbacks(button_of(n), XmNactivateCallback, &info);
        WidgetTest::settle();
    }
};

TEST_F(OutlineTest, RowsIndentsAndPreferredSizeOfAKnownTree)
{
    Widget a = node("a", nullptr, XiOpen);
    Widget b = node("b", a, XiClosed);
    Widget c = node("c", b, XiOpen);
    Widget d = node("d", a, XiAlwaysOpen);
    Widget e = node("e", nullptr, XiHidden);
    Widget f = node("f", e, XiOpen);
    show();

    ASSERT_NE(nullptr, button_of(a));
    EXPECT_EQ(nullptr, button_of(d)); /* always open: no folder button */
    int bw = button_of(a)->core.width + 2 * button_of(a)->core.border_width;
    int bh = button_of(a)->core.height + 2 * button_of(a)->core.border_width;
    int row = std::max(20, bh);

    EXPECT_EQ(2 + bw + 2, a->core.x);
    EXPECT_EQ(2, a->core.y);
    EXPECT_EQ(2, button_of(a)->core.x);
    EXPECT_EQ(2 + (row - bh) / 2, button_of(a)->core.y);
    EXPECT_EQ(30 + 2 + bw + 2, b->core.x);
    EXPECT_EQ(2 + (row + 2), b->core.y);
    EXPECT_EQ(32, d->core.x);
    EXPECT_EQ(2 + 2 * (row + 2), d->core.y);
    EXPECT_EQ(2 + bw + 2, f->core.x); /* a hidden node's child keeps its level */
    EXPECT_EQ(2 + 3 * (row + 2), f->core.y);

    EXPECT_TRUE(mapped(a) && mapped(b) && mapped(d) && mapped(f));
    EXPECT_TRUE(mapped(button_of(b)));
    EXPECT_FALSE(mapped(c)); /* parent closed */
    EXPECT_FALSE(mapped(e)); /* hidden */

    XtWidgetGeometry pref;
    XtQueryGeometry(outline, nullptr, &pref);
    EXPECT_EQ(2 * 2 + (30 + 2 + bw + 2 + 50 + 2), pref.width);
    EXPECT_EQ(2 + 4 * (row + 2), pref.height);

    /* A node that grows makes the outline's preferred size grow. */
    XtVaSetValues(b, XtNwidth, 150, NULL);
    WidgetTest::settle();
    XtQueryGeometry(outline, nullptr, &pref);
    EXPECT_EQ(2 * 2 + (30 + 2 + bw + 2 + 150 + 2), pref.width);

    /* A row asks for a size; a request that changes none is refused.  Xt
     * answers such a request itself, so the outline's geometry manager is
     * called directly, as a subclass calls it. */
    XtGeometryHandler manage_geometry =
        ((CompositeWidgetClass)xiOutlineWidgetClass)->composite_class.geometry_manager;
    struct {
        XtGeometryMask mode;
        Dimension width;
        XtGeometryResult result;
        Dimension width_after;
    } requests[] = {
        {CWWidth | CWHeight, 150, XtGeometryNo, 150},
        {CWWidth | CWX, 150, XtGeometryNo, 150},
        {CWWidth | CWX, 160, XtGeometryAlmost, 150},
        {CWWidth | XtCWQueryOnly, 160, XtGeometryYes, 150},
        {CWWidth, 160, XtGeometryYes, 160},
    };
    for (const auto& r : requests) {
        XtWidgetGeometry request = {}, reply = {};
        request.request_mode = r.mode;
        request.width = r.width;
        request.height = b->core.height;
        request.x = b->core.x;
        EXPECT_EQ(r.result, manage_geometry(b, &request, &reply)) << r.mode << " " << r.width;
        EXPECT_EQ(r.width_after, b->core.width) << r.mode << " " << r.width;
    }
}

TEST_F(OutlineTest, FolderButtonOpensAndClosesAndReports)
{
    Widget a = node("a", nullptr, XiOpen);
    Widget b = node("b", a, XiClosed);
    Widget c = node("c", b, XiClosed);
    show();
    EXPECT_FALSE(mapped(c));

    press(b);
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(b, reports[0].widget);
    EXPECT_EQ(XiOpen, reports[0].state);
    EXPECT_TRUE(mapped(c));
    int bw = button_of(a)->core.width + 2 * button_of(a)->core.border_width;
    EXPECT_EQ(60 + 2 + bw + 2, c->core.x); /* one indent step below b */
    EXPECT_GT(c->core.y, b->core.y);

    press(b);
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(XiClosed, reports[1].state);
    EXPECT_FALSE(mapped(c));

    /* And through the ancestors of a node deep down. */
    Widget d = node("d", c, XiClosed);
    XtVaSetValues(a, XiNnodeState, XiClosed, NULL);
    WidgetTest::settle();
    EXPECT_FALSE(mapped(d));
    XiHierarchyOpenAllAncestors(d);
    WidgetTest::settle();
    EXPECT_EQ(XiOpen, state_of(a));
    EXPECT_EQ(XiOpen, state_of(c));
    EXPECT_TRUE(mapped(d));
}

/* Closing a node with autoClose on closes its open descendants, through a
 * hidden node too; with it off they stay open for the next opening. */
TEST_F(OutlineTest, AutoCloseClosesOpenDescendants)
{
    for (Boolean auto_close : {True, False}) {
        SCOPED_TRACE(auto_close ? "autoClose on" : "autoClose off");
        recreate(400, 400, auto_close);
        Widget a = node("a", nullptr, XiOpen);
        Widget b = node("b", a, XiOpen);
        Widget c = node("c", b, XiOpen);
        Widget h = node("h", a, XiHidden);
        Widget k = node("k", h, XiOpen);
        node("l", k, XiOpen);
        show();
        press(a);
        press(a);
        XiHierarchyNodeState left = auto_close ? XiClosed : XiOpen;
        EXPECT_EQ(left, state_of(b));
        EXPECT_EQ(left, state_of(k));
        EXPECT_EQ(XiHidden, state_of(h));
        EXPECT_TRUE(mapped(b));
        EXPECT_EQ(!auto_close, mapped(c));
    }
}

TEST_F(OutlineTest, InsertBeforeOrdersSiblingsAndWarnsForStrangers)
{
    Widget p = node("p", nullptr, XiAlwaysOpen);
    Widget a = node("a", p, XiAlwaysOpen);
    Widget b = node("b", p, XiAlwaysOpen);
    Widget c = node("c", p, XiAlwaysOpen);
    Widget d = node("d", p, XiAlwaysOpen, b);
    Widget other = node("other", nullptr, XiAlwaysOpen);
    Widget e = node("e", p, XiAlwaysOpen, a);
    Widget x = node("x", p, XiAlwaysOpen, other); /* not a sibling: appended */
    show();
    const Widget order[] = {e, a, d, b, c, x, other}; /* top to bottom */
    for (size_t i = 1; i < sizeof order / sizeof *order; i++)
        EXPECT_LT(order[i - 1]->core.y, order[i]->core.y)
            << XtName(order[i - 1]) << " above " << XtName(order[i]);
    EXPECT_EQ(1, WidgetTest::count_warnings("insertBeforeNotSibling"));

    /* Moving a node: new insertBefore, then a new parent. */
    XtVaSetValues(c, XiNinsertBefore, e, NULL);
    WidgetTest::settle();
    EXPECT_LT(c->core.y, e->core.y);
    XtVaSetValues(c, XiNparentNode, other, XiNinsertBefore, NULL, NULL);
    WidgetTest::settle();
    EXPECT_GT(c->core.y, other->core.y);
    EXPECT_EQ(other->core.x + 30, c->core.x);
}

TEST_F(OutlineTest, DestroyingANodeDestroysItsSubtree)
{
    Widget a = node("a", nullptr, XiOpen);
    Widget b = node("b", a, XiClosed);
    Widget c = node("c", b, XiOpen);
    Widget d = node("d", c, XiOpen);
    Widget z = node("z", nullptr, XiOpen);
    for (Widget w : {a, b, c, d, z}) XtAddCallback(w, XmNdestroyCallback, destroyed_cb, &gone);
    XtAddCallback(button_of(b), XmNdestroyCallback, destroyed_cb, &gone);
    show();
    auto buttons = [this] {
        CompositeWidget cw = (CompositeWidget)outline;
        WidgetList first = cw->composite.children, end = first + cw->composite.num_children;
        return std::count_if(first, end, [](Widget w) { return XiIsIconButton(w) != 0; });
    };
    long buttons_before = buttons();

    XtDestroyWidget(a);
    WidgetTest::settle();
    EXPECT_EQ((std::set<std::string>{"a", "b", "c", "d", "openAndClose"}), gone);
    EXPECT_EQ(buttons_before - 4, buttons());
    EXPECT_EQ(2, z->core.y); /* the remaining row moves up */
}

TEST_F(OutlineTest, WarningsForSelfParentsLoopsAndGadgets)
{
    Widget a = node("a", nullptr, XiOpen);
    Widget b = node("b", a, XiOpen);
    XtVaSetValues(b, XiNparentNode, b, NULL);
    ASSERT_EQ(1, WidgetTest::count_warnings("nodeParentIsSelf"));
    EXPECT_EQ("Hierarchy Widget: The node parent cannot be self referential.",
              WidgetTest::warnings().back().text);
    Widget parent = nullptr;
    XtVaGetValues(b, XiNparentNode, &parent, NULL);
    EXPECT_EQ(a, parent);
    XtVaSetValues(a, XiNparentNode, b, NULL); /* would make a loop */
    EXPECT_EQ(2, WidgetTest::count_warnings("nodeParentIsSelf"));
    XtVaGetValues(a, XiNparentNode, &parent, NULL);
    EXPECT_EQ(nullptr, parent);

    XtVaCreateManagedWidget("gadget", xmLabelGadgetClass, outline, NULL);
    EXPECT_EQ(1, WidgetTest::count_warnings("noGadgetSupport"));
}

/* The node with the keyboard focus is framed in focusColor one pixel
 * outside itself, its size unchanged; the frame goes with the focus and
 * takes a new colour at once. */
TEST_F(OutlineTest, FocusFrameAroundTheFocusedNode)
{
    Widget rows[2];
    for (Widget& r : rows)
        r = XtVaCreateManagedWidget("row", xmPushButtonWidgetClass, outline, XmNhighlightThickness,
                                    0, XiNnodeState, XiAlwaysOpen, NULL);
    show();
    Display* d = WidgetTest::display();
    XCompositeRedirectWindow(d, XtWindow(shell), CompositeRedirectManual); /* see the icon button */
    XSetInputFocus(d, XtWindow(shell), RevertToParent, CurrentTime);
    WidgetTest::settle();
    Dimension width = rows[1]->core.width;
    auto framed = [&](Widget r) {
        XImage* img =
            XGetImage(d, XtWindow(outline), r->core.x - 1, r->core.y + 5, 1, 1, AllPlanes, ZPixmap);
        Pixel p = XGetPixel(img, 0, 0), want = 0;
        XDestroyImage(img);
        XtVaGetValues(outline, XiNfocusColor, &want, NULL);
        return p == want;
    };
    struct {
        int focus;
        const char* colour;
    } steps[] = {{1, nullptr}, {0, nullptr}, {0, "red"}};
    for (const auto& step : steps) {
        if (step.colour)
            XtVaSetValues(outline, XtVaTypedArg, XiNfocusColor, XmRString, step.colour,
                          strlen(step.colour) + 1, NULL);
        XmProcessTraversal(rows[step.focus], XmTRAVERSE_CURRENT);
        WidgetTest::settle();
        EXPECT_TRUE(framed(rows[step.focus])) << step.focus;
        EXPECT_FALSE(framed(rows[1 - step.focus])) << step.focus;
    }
    EXPECT_EQ(width, rows[1]->core.width);
}

} // namespace
