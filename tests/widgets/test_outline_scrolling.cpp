/* The outline scrolling itself: rows beyond what X can place, the top row
 * kept across changes, the scroll bars, the wheel and showing a node; and
 * dropping every row at once. */
#include <gtest/gtest.h>


#include <Xm/ScrollBar.h>
#include <Xm/ScrolledW.h>

#include "XiHierarchyP.h"
#include "XiOutlineP.h"
#include "widget_test_env.h"

namespace {

const int kRows = 2000;  /* 2000 rows of 22 px: far beyond 32,767 px */
const int kRow = 20 + 2; /* node height + vertical margin */

class ScrollingOutline : public ::testing::Test {
protected:
    Widget shell = nullptr, sw = nullptr, hsb = nullptr, vsb = nullptr, outline = nullptr;
    std::vector<Widget> rows;

    void SetUp() override
    {
        shell = WidgetTest::shell(300, 240);
        sw = XtVaCreateManagedWidget("sw", xmScrolledWindowWidgetClass, shell, XmNscrollingPolicy,
                                     XmAPPLICATION_DEFINED, XmNscrollBarDisplayPolicy, XmSTATIC,
                                     NULL);
        hsb = XtVaCreateManagedWidget("h", xmScrollBarWidgetClass, sw, XmNorientation, XmHORIZONTAL,
                                      NULL);
        vsb = XtVaCreateManagedWidget("v", xmScrollBarWidgetClass, sw, XmNorientation, XmVERTICAL,
                                      NULL);
        outline = XtVaCreateManagedWidget("outline", xiOutlineWidgetClass, sw, XmNverticalScrollBar,
                                          vsb, XmNhorizontalScrollBar, hsb, NULL);
        XmScrolledWindowSetAreas(sw, hsb, vsb, outline);
        XtVaSetValues(outline, XiNrefigureMode, False, NULL);
        for (int i = 0; i < kRows; i++) rows.push_back(node(i, nullptr));
        XtVaSetValues(outline, XiNrefigureMode, True, NULL);
        XtRealizeWidget(shell);
        WidgetTest::settle();
    }

    void TearDown() override
    {
        XtDestroyWidget(shell);
        WidgetTest::settle(5);
    }

    Widget node(int i, Widget before, int width = 60)
    {
        char name[16];
        snprintf(name, sizeof name, "r%d", i);
        return XtVaCreateManagedWidget(name, widgetClass, outline, XtNwidth, width, XtNheight, 20,
                                       XtNborderWidth, 0, XiNnodeState, XiAlwaysOpen,
                                       XiNinsertBefore, before, NULL);
    }

    static bool mapped(Widget w) { return XiHierarchyNode(w)->hierarchy.status & XiNodeMapped; }

    int top() { return (int)((XiOutlineWidget)outline)->outline.top_index; }

    /* Indices of the mapped rows, which must be one run from the top row. */
    std::pair<int, int> mapped_run()
    {
        int first = -1, last = -1;
        for (int i = 0; i < (int)rows.size(); i++)
            if (mapped(rows[i])) {
                if (first < 0) first = i;
                EXPECT_EQ(last < 0 ? i : last + 1, i) << "gap in the mapped rows";
                last = i;
            }
        return {first, last};
    }

    void scroll_to(int value)
    {
        XmScrollBarSetValues(vsb, value, resource<int>(vsb, XmNsliderSize), 1, 1, True);
        WidgetTest::settle();
    }

    void wheel(Widget over, unsigned int button)
    {
        XEvent ev = {};
        ev.xbutton.type = ButtonPress;
        ev.xbutton.display = XtDisplay(over);
        ev.xbutton.window = XtWindow(over);
        ev.xbutton.button = button;
        XtDispatchEvent(&ev);
        WidgetTest::settle();
    }
};

TEST_F(ScrollingOutline, OnlyTheRowsInViewArePlacedAndAnyRowCanBeReached)
{
    int height = outline->core.height;
    EXPECT_LT(height, 240);                 /* the view's size, not the rows' */
    int fit = (height - 2 - 20) / kRow + 1; /* rows wholly in view */
    EXPECT_EQ(kRows, resource<int>(vsb, XmNmaximum));
    EXPECT_EQ(fit, resource<int>(vsb, XmNsliderSize));
    EXPECT_EQ(0, resource<int>(vsb, XmNvalue));
    auto run = mapped_run();
    EXPECT_EQ(0, run.first);
    EXPECT_GE(run.second, fit - 1);
    EXPECT_LE(run.second, fit); /* a partly visible last row */
    EXPECT_EQ(2 + kRow, rows[1]->core.y);

    /* The bottom: the last row is reachable, the last page is full. */
    scroll_to(kRows - fit);
    EXPECT_EQ(kRows - fit, top());
    run = mapped_run();
    EXPECT_EQ(kRows - fit, run.first);
    EXPECT_EQ(kRows - 1, run.second);
    EXPECT_EQ(2, rows[kRows - fit]->core.y);
    EXPECT_EQ(2 + (fit - 1) * kRow, rows[kRows - 1]->core.y);
    EXPECT_FALSE(mapped(rows[0]));

    /* A value past the last page is held at the last page. */
    XtVaSetValues(outline, XmNheight, height + 5 * kRow, NULL);
    WidgetTest::settle();
    int fit2 = ((int)outline->core.height - 2 - 20) / kRow + 1;
    EXPECT_EQ(kRows - fit2, top());
    EXPECT_EQ(kRows - 1, mapped_run().second);
    EXPECT_EQ(fit2, resource<int>(vsb, XmNsliderSize));

    /* Rows going at the bottom pull the view down: the last page stays full. */
    for (int i = 0; i < 3; i++) {
        XtDestroyWidget(rows.back());
        rows.pop_back();
    }
    WidgetTest::settle();
    EXPECT_EQ(kRows - 3 - fit2, top());
    EXPECT_EQ(kRows - 4, mapped_run().second);
    EXPECT_EQ(kRows - 3 - fit2, resource<int>(vsb, XmNvalue));
}

TEST_F(ScrollingOutline, TheTopRowStaysWhileRowsComeAndGoAboveIt)
{
    scroll_to(500);
    Widget top_row = rows[500];
    int y = top_row->core.y;

    Widget added = node(9999, rows[10]); /* a row above the view */
    WidgetTest::settle();
    EXPECT_EQ(501, top());
    EXPECT_EQ(kRows + 1, resource<int>(vsb, XmNmaximum));
    EXPECT_EQ(501, resource<int>(vsb, XmNvalue));
    EXPECT_EQ(y, top_row->core.y);
    EXPECT_FALSE(mapped(added));

    XtDestroyWidget(rows[3]); /* one above the view goes */
    rows.erase(rows.begin() + 3);
    WidgetTest::settle();
    EXPECT_EQ(500, top());
    EXPECT_TRUE(mapped(top_row));
    EXPECT_EQ(y, top_row->core.y);

    /* When the top row itself goes, the row after it takes its place. */
    Widget next = rows[500];
    XtDestroyWidget(top_row);
    rows.erase(rows.begin() + 499);
    WidgetTest::settle();
    EXPECT_TRUE(mapped(next));
    EXPECT_EQ(y, next->core.y);
}

TEST_F(ScrollingOutline, WheelShowNodeAndHorizontalScrolling)
{
    wheel(rows[0], Button5); /* over a row */
    EXPECT_EQ(3, top());
    wheel(outline, Button5); /* over the outline itself */
    EXPECT_EQ(6, top());
    wheel(rows[6], Button4);
    EXPECT_EQ(3, top());
    wheel(rows[3], Button4);
    wheel(rows[0], Button4);
    EXPECT_EQ(0, top()); /* not above the first row */

    XiOutlineShowNode(rows[1500]); /* below the view: it becomes the last row */
    WidgetTest::settle();
    EXPECT_TRUE(mapped(rows[1500]));
    EXPECT_EQ(1500, top() + resource<int>(vsb, XmNsliderSize) - 1);
    XiOutlineShowNode(rows[1200]); /* above it: it becomes the top row */
    WidgetTest::settle();
    EXPECT_EQ(1200, top());

    /* A row wider than the view makes the horizontal bar scroll pixels. */
    Widget wide = node(7777, rows[1201], 900);
    WidgetTest::settle();
    int x = wide->core.x;
    int max = resource<int>(hsb, XmNmaximum);
    EXPECT_GE(max, 900);
    EXPECT_EQ((int)outline->core.width, resource<int>(hsb, XmNsliderSize));
    XmScrollBarSetValues(hsb, 100, resource<int>(hsb, XmNsliderSize), 1, 1, True);
    WidgetTest::settle();
    EXPECT_EQ(x - 100, wide->core.x);
    EXPECT_EQ(rows[1200]->core.x, wide->core.x);

    /* When the wide row goes, the offset falls back within the rows. */
    XtDestroyWidget(wide);
    WidgetTest::settle();
    EXPECT_EQ(0, resource<int>(hsb, XmNvalue));
    EXPECT_EQ(x, rows[1200]->core.x);
}

TEST_F(ScrollingOutline, DroppingEveryRowAtOnceLeavesAWorkingOutline)
{
    scroll_to(1200);
    XtVaSetValues(outline, XiNrefigureMode, False, NULL);
    for (Widget r : rows) XtDestroyWidget(r);
    rows.clear();
    XtVaSetValues(outline, XiNrefigureMode, True, NULL);
    WidgetTest::settle();
    EXPECT_EQ(0u, ((XiOutlineWidget)outline)->hierarchy.num_nodes);
    EXPECT_EQ(1, resource<int>(vsb, XmNmaximum));
    EXPECT_EQ(0, top());

    rows.push_back(node(1, nullptr)); /* and the outline goes on working */
    WidgetTest::settle();
    EXPECT_TRUE(mapped(rows[0]));
    EXPECT_EQ(2, rows[0]->core.y);
}

} // namespace
