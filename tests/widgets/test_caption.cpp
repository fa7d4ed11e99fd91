/* The caption form in process: columns, reference widget, stretching. */
#include <gtest/gtest.h>

#include <Xm/BulletinB.h>
#include <Xm/Label.h>

#include "PsCaption.h"
#include "widget_test_env.h"

namespace {

class CaptionTest : public ::testing::Test {
protected:
    Widget shell = nullptr;
    Widget board = nullptr; /* grants the captions their preferred sizes */

    void SetUp() override
    {
        shell = WidgetTest::shell(600, 600);
        board = XtVaCreateManagedWidget("board", xmBulletinBoardWidgetClass, shell, NULL);
        WidgetTest::warnings().clear();
    }
    void TearDown() override
    {
        XtDestroyWidget(shell);
        WidgetTest::settle(5);
    }

    /* Height 0 is the core's default: the form's own preferred height. */
    Widget caption(const char* name, Widget reference = nullptr, int height = 0)
    {
        return XtVaCreateManagedWidget(name, psCaptionWidgetClass, board, PsNreferenceWidget,
                                       reference, XmNheight, height, NULL);
    }

    /* A child of fixed size: its preferred size is its size. */
    static Widget child(Widget parent, int w, int h, bool stretch_v = false,
                        unsigned char align = PsCAPTION_CENTER)
    {
        return XtVaCreateManagedWidget("c", widgetClass, parent, XtNwidth, w, XtNheight, h,
                                       XtNborderWidth, 0, PsNstretchVertical, stretch_v,
                                       PsNcaptionAlignment, align, NULL);
    }

    /* Children are laid out once the form is realized. */
    void show()
    {
        XtRealizeWidget(shell);
        WidgetTest::settle(5);
    }
};

TEST_F(CaptionTest, CaptionColumnRightAlignsCaptionsAndSetsPreferredSize)
{
    Widget form = caption("form");
    Widget cap1 = child(form, 30, 10, false, PsCAPTION_TOP);
    Widget ctl1 = child(form, 100, 20);
    Widget cap2 = child(form, 60, 10);
    Widget ctl2 = child(form, 80, 30);
    show();

    EXPECT_EQ(60, resource<Dimension>(form, PsNcaptionWidth));
    EXPECT_EQ(2 + 60 - 30, cap1->core.x);
    EXPECT_EQ(2 + 60 - 60, cap2->core.x);
    EXPECT_EQ(2 + 60 + 2, ctl1->core.x);
    EXPECT_EQ(2 + 60 + 2, ctl2->core.x);
    EXPECT_EQ(2, cap1->core.y);                          /* caption_top */
    EXPECT_EQ(2 + 20 + 8 + (30 - 10) / 2, cap2->core.y); /* caption_center */
    EXPECT_EQ(60 + 2 + 100 + 2 * 2, form->core.width);
    EXPECT_EQ(1 + 20 + 8 + 30 + 2 * 2, form->core.height);

    /* Alignment names convert in any case. */
    XtVaSetValues(cap2, XtVaTypedArg, PsNcaptionAlignment, XmRString, "CAPTION_BOTTOM", 15, NULL);
    EXPECT_EQ(2 + 20 + 8 + 30 - 10, cap2->core.y);
}

TEST_F(CaptionTest, ReferenceWidgetSharesTheWiderColumn)
{
    Widget wide = caption("wide");
    child(wide, 90, 10);
    child(wide, 50, 20);
    Widget narrow = caption("narrow", wide);
    Widget cap = child(narrow, 30, 10);
    Widget ctl = child(narrow, 50, 20);
    show();

    EXPECT_EQ(30, resource<Dimension>(narrow, PsNcaptionWidth));
    EXPECT_EQ(90, resource<Dimension>(narrow, PsNreferenceCaptionWidth));
    EXPECT_EQ(30, resource<Dimension>(wide, PsNreferenceCaptionWidth));
    EXPECT_EQ(2 + 90 - 30, cap->core.x);
    EXPECT_EQ(2 + 90 + 2, ctl->core.x);
    EXPECT_EQ(90 + 2 + 50 + 4, narrow->core.width);

    /* A reference widget that is destroyed is forgotten. */
    XtDestroyWidget(wide);
    WidgetTest::settle(5);
    Widget ref = wide;
    XtVaGetValues(narrow, PsNreferenceWidget, &ref, NULL);
    EXPECT_EQ(nullptr, ref);
    XtVaSetValues(narrow, XmNmarginWidth, 4, NULL);
    EXPECT_EQ(4 + 30 - 30, cap->core.x);
}

TEST_F(CaptionTest, StretchingControlsShareExtraHeightByPreferredHeight)
{
    Widget form = caption("form", nullptr, 200);
    child(form, 30, 10);
    Widget fixed = child(form, 100, 30);
    child(form, 30, 10);
    Widget small = child(form, 100, 20, true);
    child(form, 30, 10);
    Widget big = child(form, 100, 40, true);
    show();

    ASSERT_EQ(200, form->core.height);
    /* extra = 200 - (30 + 2 * 8 + 2 * 2) = 150, shared 20 : 40 */
    EXPECT_EQ(30, fixed->core.height);
    EXPECT_EQ(50, small->core.height);
    EXPECT_EQ(100, big->core.height);
    EXPECT_EQ(2 + 30 + 8 + 50 + 8, big->core.y);
}

/* A label asked to be wider than its text keeps that width through later
 * layouts, though its query answer is still its text's width. */
TEST_F(CaptionTest, GrantedSizeIsTheChildsNewPreferredSize)
{
    Widget form = caption("form");
    child(form, 30, 10);
    Widget label = XtVaCreateManagedWidget("label", xmLabelWidgetClass, form, NULL);
    show();
    XtVaSetValues(label, XmNwidth, 200, NULL);
    EXPECT_EQ(200, label->core.width);
    XtVaSetValues(form, XmNmarginWidth, 4, NULL); /* lays the rows out again */
    EXPECT_EQ(200, label->core.width);
    EXPECT_EQ(30 + 2 + 200 + 2 * 4, form->core.width);
}

} // namespace
