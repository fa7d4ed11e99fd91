/*
 * XiLayout.h - the geometry rules of our widgets, kept apart from Xt.
 *
 * Public to the widget set and its tests (not to the editor).  These are plain
 * functions over numbers: the widgets gather the sizes of their pieces, call
 * these, and apply the results.  Everything here can be tested without a
 * display.
 */
#ifndef QX_XI_LAYOUT_H
#define QX_XI_LAYOUT_H

#include <vector>

/* ------------------------------------------------------------------ */
/* Icon button: arrangement of an icon and a text inside the button.   */
/* ------------------------------------------------------------------ */

struct XiIconGeometryIn {
    int placement; /* an XiIconPlacement value (XiIconButton.h) */
    bool has_icon; /* a pixmap is set */
    int icon_width, icon_height;
    int text_width, text_height;
    int padding; /* "iconTextPadding" */
    int inset_h; /* highlight + shadow + horizontal margin */
    int inset_v; /* highlight + shadow + vertical margin */
};

struct XiIconPositions {
    int icon_x, icon_y;
    int text_x, text_y; /* left end of the text area, top of the text */
    int text_width;     /* width of the text area, in which `alignment` places the text */
};

/* Preferred size of the button from the sizes of its icon and text. */
void xi_icon_preferred_size(const XiIconGeometryIn& in, int* width, int* height);

/* Where icon and text go in a button of the given size. */
XiIconPositions xi_icon_positions(const XiIconGeometryIn& in, int width, int height);

/* ------------------------------------------------------------------ */
/* Outline: one row of the indented tree.                              */
/* ------------------------------------------------------------------ */

struct XiOutlineRow {
    int button_x;   /* x of the folder button */
    int widget_x;   /* x of the node widget */
    int row_height; /* larger of node and button height */
    int extent;     /* right end of the row plus the margin */
};

/* Geometry of one row at a depth of `level` indent steps.  Sizes include
 * the borders; a node without a folder button passes 0 by 0. */
XiOutlineRow xi_outline_row(int level, int indent, int h_margin, int button_width,
                            int button_height, int node_width, int node_height);

/* ------------------------------------------------------------------ */
/* Caption form: rows of caption and control.                          */
/* ------------------------------------------------------------------ */

enum { PsCaptionTop = 0, PsCaptionCenter = 1, PsCaptionBottom = 2 };

/* One managed child as the layout sees it. */
struct PsCaptionItem {
    bool separator;            /* forms a row of its own */
    int width, height;         /* preferred size without the border */
    int border;                /* border width */
    bool stretch_h, stretch_v; /* read on controls */
    int alignment;             /* read on captions: PsCaptionTop/Center/Bottom */
};

/* What the measuring pass finds; heights leave out the margins. */
struct PsCaptionMeasure {
    int caption_width; /* widest caption, borders included */
    int control_width; /* widest control, borders included */
    int total_height;  /* all rows and spacings */
    int min_height;    /* the least height the rows can live with */
    int fixed_height;  /* height of everything that does not stretch */
    int stretch_sum;   /* preferred heights of the stretching controls */
};

PsCaptionMeasure ps_caption_measure(const std::vector<PsCaptionItem>& items, int v_spacing);

/* Where a child goes; `placed` is false for a caption left without control. */
struct PsCaptionPlace {
    bool placed;
    int x, y, width, height;
};

struct PsCaptionFrame {
    int width, height; /* size of the caption widget */
    int margin_width, margin_height;
    int h_spacing, v_spacing;
    int caption_column; /* effective caption column width */
};

std::vector<PsCaptionPlace> ps_caption_place(const std::vector<PsCaptionItem>& items,
                                             const PsCaptionMeasure& m, const PsCaptionFrame& f);

#endif
