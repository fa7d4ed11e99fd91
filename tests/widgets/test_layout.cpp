/* Geometry rules of the widget set, without a display. */
#include <gtest/gtest.h>

#include "XiIconButton.h"
#include "XiLayout.h"

static XiIconGeometryIn icon_in(int placement, bool has_icon)
{
    XiIconGeometryIn in;
    in.placement = placement;
    in.has_icon = has_icon;
    in.icon_width = 16;
    in.icon_height = 12;
    in.text_width = 40;
    in.text_height = 10;
    in.padding = 3;
    in.inset_h = 5; /* e.g. highlight 1 + shadow 2 + margin 2 */
    in.inset_v = 6;
    return in;
}

TEST(IconLayout, PreferredSizeFollowsPlacement)
{
    struct Case {
        int placement;
        bool icon;
        int width, height;
    } cases[] = {
        {XiIconTop, true, 40 + 10, 10 + 12 + 3 + 12},
        {XiIconBottom, true, 40 + 10, 10 + 12 + 3 + 12},
        {XiIconLeft, true, 40 + 16 + 3 + 10, 12 + 12},
        {XiIconRight, true, 40 + 16 + 3 + 10, 12 + 12},
        {XiIconOnly, true, 16 + 10, 12 + 12},
        {XiIconNone, true, 40 + 10, 10 + 12},
        {XiIconTop, false, 40 + 10, 10 + 12}, /* no pixmap: the text alone */
        {XiIconOnly, false, 10, 12},          /* no pixmap, no text: the frame */
    };
    for (const Case& c : cases) {
        int w, h;
        xi_icon_preferred_size(icon_in(c.placement, c.icon), &w, &h);
        EXPECT_EQ(c.width, w) << "placement " << c.placement << " icon " << c.icon;
        EXPECT_EQ(c.height, h) << "placement " << c.placement << " icon " << c.icon;
    }
}

/* The text area is the inside of the button less an icon beside it (the
 * text's alignment places the text in it); "top" and "bottom" put the text
 * at the far edge with or without an icon. */
TEST(IconLayout, PositionsFollowPlacement)
{
    struct Case {
        int placement;
        bool icon;
        int width, height;
        int icon_x, icon_y, text_x, text_y, text_width;
    } cases[] = {
        /* 20 pixels taller than preferred: the spare height is 10. */
        {XiIconTop, true, 100, 57, (100 - 16) / 2, 6 + 10, 5, 57 - (6 + 10), 100 - 10},
        {XiIconBottom, true, 100, 37, (100 - 16) / 2, 37 - (6 + 12), 5, 6, 100 - 10},
        {XiIconLeft, true, 100, 24, 5, (24 - 12) / 2, 5 + 16 + 3, (24 - 10) / 2, 100 - 10 - 16 - 3},
        {XiIconRight, true, 100, 24, 100 - 5 - 16, (24 - 12) / 2, 5, (24 - 10) / 2,
         100 - 10 - 16 - 3},
        {XiIconNone, true, 100, 40, (100 - 16) / 2, (40 - 12) / 2, 5, (40 - 10) / 2, 100 - 10},
        {XiIconTop, false, 100, 40, 50, 6 + 9, 5, 40 - (6 + 10), 100 - 10},
        {XiIconBottom, false, 100, 40, 50, 40 - (6 + 9), 5, 6, 100 - 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "placement " << c.placement << " icon " << c.icon);
        XiIconPositions p = xi_icon_positions(icon_in(c.placement, c.icon), c.width, c.height);
        EXPECT_EQ(c.icon_x, p.icon_x);
        EXPECT_EQ(c.icon_y, p.icon_y);
        EXPECT_EQ(c.text_x, p.text_x);
        EXPECT_EQ(c.text_y, p.text_y);
        EXPECT_EQ(c.text_width, p.text_width);
    }
}

/* A folder button taller than its node makes the row as tall as the button.
 * The other rules of the row (indent, button space, extent) are checked
 * through the outline's own layout in test_outline.cpp. */
TEST(OutlineLayout, RowIsAsTallAsTheTallerOfNodeAndButton)
{
    EXPECT_EQ(20, xi_outline_row(2, 30, 2, 24, 20, 50, 16).row_height);
}

static PsCaptionItem item(int w, int h, bool stretch_v = false, int align = PsCaptionCenter)
{
    PsCaptionItem it = {false, w, h, 0, false, stretch_v, align};
    return it;
}

/* The right-aligned caption column and the shares of the extra height are
 * checked through the form in test_caption.cpp; here the smallest height, a
 * control that fits and does not stretch, the rows' places, and stretching
 * controls in a form no taller than its minimum. */
TEST(CaptionLayout, MinimumHeightControlWidthsAndRowPlaces)
{
    std::vector<PsCaptionItem> items = {
        item(30, 10, false, PsCaptionTop),
        item(100, 30), /* fixed row, 30 high */
        item(50, 10),
        item(80, 20, true), /* stretches, share 20 */
        item(40, 10, false, PsCaptionBottom),
        item(60, 40, true), /* stretches, share 40 */
    };
    PsCaptionMeasure m = ps_caption_measure(items, 8);
    EXPECT_EQ(100, m.control_width);
    EXPECT_EQ(30 + 10 + 10, m.min_height);
    EXPECT_EQ(60, m.stretch_sum);

    /* Height 200 with margins 2: extra = 200 - (46 + 4) = 150, shared 1:2. */
    PsCaptionFrame f = {300, 200, 2, 2, 4, 8, 70};
    std::vector<PsCaptionPlace> p = ps_caption_place(items, m, f);
    EXPECT_EQ(2, p[0].y);       /* caption_top */
    EXPECT_EQ(100, p[1].width); /* fits, does not stretch */
    EXPECT_EQ(2 + 30 + 8, p[3].y);
    EXPECT_EQ(2 + 30 + 8 + 50 + 8 + 100 - 10, p[4].y); /* caption_bottom */

    /* Not taller than the minimum: stretching controls take the caption height. */
    f.height = m.min_height + 4;
    p = ps_caption_place(items, m, f);
    EXPECT_EQ(10, p[3].height);
    EXPECT_EQ(10, p[5].height);
}

TEST(CaptionLayout, SeparatorRowsNarrowFormsAndOddChild)
{
    PsCaptionItem sep = {true, 10, 2, 0, false, false, 0};
    PsCaptionItem wide = item(500, 20);
    wide.stretch_h = false;
    std::vector<PsCaptionItem> items = {item(30, 10), wide, sep, item(20, 10)};
    PsCaptionMeasure m = ps_caption_measure(items, 8);
    EXPECT_EQ(1 + 20 + 8 + 2 + 8, m.total_height);
    EXPECT_EQ(20 + 8 + 2 + 8, m.fixed_height);

    PsCaptionFrame f = {200, 100, 2, 2, 4, 8, 30};
    std::vector<PsCaptionPlace> p = ps_caption_place(items, m, f);
    EXPECT_EQ(200 - (4 + 30 + 4), p[1].width); /* too wide: takes the available width */
    EXPECT_TRUE(p[2].placed);
    EXPECT_EQ(0, p[2].x);
    EXPECT_EQ(200, p[2].width); /* separator spans the form */
    EXPECT_EQ(2 + 20 + 8, p[2].y);
    EXPECT_FALSE(p[3].placed); /* caption without control */
}
