/*
 * XiLayout.cpp - geometry rules of the icon button, the outline rows and the
 * caption form, free of Xt so that they can be tested without a display.
 */
#include "XiLayout.h"

#include <algorithm>

/* The icon placements, numbered as XiIconPlacement in XiIconButton.h. */
enum {
    XiIconTop = 0,
    XiIconLeft = 1,
    XiIconRight = 2,
    XiIconBottom = 3,
    XiIconOnly = 4,
    XiIconNone = 5
};

/* ------------------------------------------------------------------ */
/* Icon button                                                         */
/* ------------------------------------------------------------------ */

static void icon_content(const XiIconGeometryIn& in, int* cw, int* ch)
{
    if (in.placement == XiIconOnly) {
        /* No text at all; without a pixmap only the frame remains. */
        *cw = in.has_icon ? in.icon_width : 0;
        *ch = in.has_icon ? in.icon_height : 0;
        return;
    }
    if (!in.has_icon || in.placement == XiIconNone) {
        *cw = in.text_width;
        *ch = in.text_height;
        return;
    }
    if (in.placement == XiIconTop || in.placement == XiIconBottom) {
        *ch = in.text_height + in.icon_height + in.padding;
        *cw = std::max(in.text_width, in.icon_width);
    } else {
        *cw = in.text_width + in.icon_width + in.padding;
        *ch = std::max(in.text_height, in.icon_height);
    }
}

void xi_icon_preferred_size(const XiIconGeometryIn& in, int* width, int* height)
{
    int cw, ch;
    icon_content(in, &cw, &ch);
    *width = cw + 2 * in.inset_h;
    *height = ch + 2 * in.inset_v;
}

XiIconPositions xi_icon_positions(const XiIconGeometryIn& in, int width, int height)
{
    XiIconPositions p;
    int pref_w, pref_h;
    xi_icon_preferred_size(in, &pref_w, &pref_h);
    int spare = height > pref_h ? (height - pref_h) / 2 : 0;
    int iw = in.has_icon ? in.icon_width : 0;
    int ih = in.has_icon ? in.icon_height : 0;
    bool beside = in.has_icon && (in.placement == XiIconLeft || in.placement == XiIconRight);

    switch (in.placement) {
    case XiIconLeft: p.icon_x = in.inset_h; break;
    case XiIconRight: p.icon_x = width - in.inset_h - iw; break;
    default: p.icon_x = (width - iw) / 2; break;
    }
    switch (in.placement) {
    case XiIconTop: p.icon_y = in.inset_v + spare; break;
    case XiIconBottom: p.icon_y = height - (in.inset_v + spare + ih); break;
    default: p.icon_y = (height - ih) / 2; break;
    }

    /* The text area is the inside less the icon beside it, centred in the
     * room left to it; the text's alignment places the text in the area. */
    p.text_width = width - 2 * in.inset_h;
    if (beside) p.text_width -= iw + in.padding;
    if (p.text_width < 0) p.text_width = 0;
    if (beside) {
        int room = width - iw - in.padding;
        p.text_x = (room - p.text_width) / 2;
        if (in.placement == XiIconLeft) p.text_x += iw + in.padding;
    } else {
        p.text_x = (width - p.text_width) / 2;
    }
    /* "top" and "bottom" put the text at the far edge, icon or not. */
    if (in.placement == XiIconTop)
        p.text_y = height - (in.inset_v + in.text_height);
    else if (in.placement == XiIconBottom)
        p.text_y = in.inset_v;
    else
        p.text_y = (height - in.text_height) / 2;
    return p;
}

/* ------------------------------------------------------------------ */
/* Outline rows                                                        */
/* ------------------------------------------------------------------ */

XiOutlineRow xi_outline_row(int level, int indent, int h_margin, int button_width,
                            int button_height, int node_width, int node_height)
{
    XiOutlineRow r;
    r.row_height = std::max(node_height, button_height);
    r.button_x = level * indent + h_margin;
    r.widget_x = button_width == 0 ? r.button_x : r.button_x + button_width + h_margin;
    r.extent = r.widget_x + node_width + h_margin;
    return r;
}

/* ------------------------------------------------------------------ */
/* Caption form                                                        */
/* ------------------------------------------------------------------ */

static int full_w(const PsCaptionItem& c)
{
    return c.width + 2 * c.border;
}
static int full_h(const PsCaptionItem& c)
{
    return c.height + 2 * c.border;
}

PsCaptionMeasure ps_caption_measure(const std::vector<PsCaptionItem>& items, int v_spacing)
{
    PsCaptionMeasure m = {1, 1, 1, 0, 0, 0};
    size_t n = items.size();
    size_t i = 0;
    while (i < n) {
        const PsCaptionItem& first = items[i];
        if (first.separator) {
            int h = full_h(first);
            m.total_height += h;
            m.min_height += h;
            m.fixed_height += h;
            if (i + 1 < n) {
                m.total_height += v_spacing;
                m.min_height += v_spacing;
                m.fixed_height += v_spacing;
            }
            i += 1;
            continue;
        }
        if (i + 1 >= n) break; /* a caption without control ends the form */
        const PsCaptionItem& control = items[i + 1];
        m.caption_width = std::max(m.caption_width, full_w(first));
        m.control_width = std::max(m.control_width, full_w(control));
        int row = std::max(full_h(first), full_h(control));
        m.total_height += row;
        if (control.stretch_v) {
            m.min_height += full_h(first);
            m.stretch_sum += full_h(control);
        } else {
            m.min_height += row;
            m.fixed_height += row;
        }
        if (i + 2 < n) {
            m.total_height += v_spacing;
            m.fixed_height += v_spacing;
        }
        i += 2;
    }
    return m;
}

std::vector<PsCaptionPlace> ps_caption_place(const std::vector<PsCaptionItem>& items,
                                             const PsCaptionMeasure& m, const PsCaptionFrame& f)
{
    std::vector<PsCaptionPlace> out(items.size(), PsCaptionPlace{false, 0, 0, 0, 0});
    size_t n = items.size();
    int y = f.margin_height;
    int extra = f.height - (m.fixed_height + 2 * f.margin_height);
    bool roomy = f.height > m.min_height + 2 * f.margin_height;
    size_t i = 0;
    while (i < n) {
        const PsCaptionItem& first = items[i];
        if (first.separator) {
            int w = std::max(1, f.width - 2 * first.border);
            out[i] = PsCaptionPlace{true, 0, y, w, first.height};
            y += full_h(first) + f.v_spacing;
            i += 1;
            continue;
        }
        if (i + 1 >= n) break;
        const PsCaptionItem& cap = items[i];
        const PsCaptionItem& ctl = items[i + 1];

        int ch = ctl.height;
        if (ctl.stretch_v) {
            if (!roomy || m.stretch_sum <= 0) {
                ch = std::max(1, cap.height + 2 * cap.border - 2 * ctl.border);
            } else {
                long share = (long)full_h(ctl) * extra / m.stretch_sum;
                ch = std::max(1, (int)share - 2 * ctl.border);
            }
        }
        int row = std::max(full_h(cap), ch + 2 * ctl.border);

        int cap_x = f.margin_width + f.caption_column - full_w(cap);
        int cap_y = y;
        if (cap.alignment == PsCaptionCenter)
            cap_y = y + (row - full_h(cap)) / 2;
        else if (cap.alignment == PsCaptionBottom)
            cap_y = y + row - full_h(cap);
        out[i] = PsCaptionPlace{true, cap_x, cap_y, cap.width, cap.height};

        int ctl_x = f.margin_width + f.caption_column + f.h_spacing;
        int ctl_y = y + (row - (ch + 2 * ctl.border)) / 2;
        int avail = std::max(1, f.width - (2 * f.margin_width + f.caption_column + f.h_spacing));
        int cw = ctl.width;
        if (full_w(ctl) > avail || ctl.stretch_h) cw = std::max(1, avail - 2 * ctl.border);
        out[i + 1] = PsCaptionPlace{true, ctl_x, ctl_y, cw, ch};

        y += row + f.v_spacing;
        i += 2;
    }
    return out;
}
