/*
 * XiIconButton.cpp - the icon button: a primitive push button showing an
 * icon and a label, with a "set" state and single/double click callbacks.
 */
#include "XiIconButtonP.h"

#include <Xm/DrawP.h>
#include <Xm/XmP.h>

#include <string.h>

#include <string>
#include <vector>

#include "XiConvert.h"
#include "XiLayout.h"

/* ------------------------------------------------------------------ */
/* Prototypes                                                          */
/* ------------------------------------------------------------------ */

static void ClassInitialize(void);
static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args);
static void Destroy(Widget w);
static void Resize(Widget w);
static void Redisplay(Widget w, XEvent* event, Region region);
static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args);
static XtGeometryResult QueryGeometry(Widget w, XtWidgetGeometry* intended,
                                      XtWidgetGeometry* desired);
static void GetValuesHook(Widget w, ArgList args, Cardinal* num_args);

static void ToggleAction(Widget w, XEvent* event, String* params, Cardinal* num_params);
static void NotifyAction(Widget w, XEvent* event, String* params, Cardinal* num_params);
static void DoubleNotifyAction(Widget w, XEvent* event, String* params, Cardinal* num_params);
static void ButtonUpAction(Widget w, XEvent* event, String* params, Cardinal* num_params);
static void GetFocusAction(Widget w, XEvent* event, String* params, Cardinal* num_params);
static void ArmAndActivateAction(Widget w, XEvent* event, String* params, Cardinal* num_params);

static void arm_color_default(Widget w, int offset, XrmValue* value);
static void padding_from_pixels(Widget w, int offset, XtArgVal* value);
static XmImportOperator padding_to_pixels(Widget w, int offset, XtArgVal* value);

/* ------------------------------------------------------------------ */
/* Resources                                                           */
/* ------------------------------------------------------------------ */

#define offset(field) XtOffsetOf(XiIconButtonRec, icon.field)

static XtResource resources[] = {
    {(String)XiNlabel, (String)XmCLabel, (String)XmRString, sizeof(String), offset(label),
     (String)XmRImmediate, NULL},
    {(String)XmNlabelString, (String)XmCLabelString, (String)XmRXmString, sizeof(XmString),
     offset(label_string), (String)XmRImmediate, NULL},
    {(String)XmNpixmap, (String)XmCPixmap, (String)XmRPrimForegroundPixmap, sizeof(Pixmap),
     offset(pixmap), (String)XmRImmediate, (XtPointer)None},
    {(String)XmNfontList, (String)XmCFontList, (String)XmRFontList, sizeof(XmFontList),
     offset(font_list), (String)XmRImmediate, NULL},
    {(String)XmNalignment, (String)XmCAlignment, (String)XmRAlignment, sizeof(unsigned char),
     offset(alignment), (String)XmRImmediate, (XtPointer)XmALIGNMENT_BEGINNING},
    {(String)XmNstringDirection, (String)XmCStringDirection, (String)XmRStringDirection,
     sizeof(unsigned char), offset(string_direction), (String)XmRImmediate,
     (XtPointer)XmSTRING_DIRECTION_L_TO_R},
    {(String)XiNiconPlacement, (String)XiCIconPlacement, (String)XiRXiIconPlacement,
     sizeof(unsigned char), offset(icon_placement), (String)XmRImmediate, (XtPointer)XiIconTop},
    {(String)XmNrecomputeSize, (String)XmCBoolean, (String)XmRBoolean, sizeof(Boolean),
     offset(recompute_size), (String)XmRImmediate, (XtPointer)True},
    {(String)XmNarmColor, (String)XmCArmColor, (String)XmRPixel, sizeof(Pixel), offset(arm_color),
     (String)XmRCallProc, (XtPointer)arm_color_default},
    {(String)XmNset, (String)XmCBoolean, (String)XmRBoolean, sizeof(Boolean), offset(set),
     (String)XmRImmediate, (XtPointer)False},
    {(String)XiNverticalMargin, (String)XmCSpace, (String)XmRVerticalDimension, sizeof(Dimension),
     offset(v_margin), (String)XmRImmediate, (XtPointer)2},
    {(String)XiNhorizontalMargin, (String)XmCSpace, (String)XmRHorizontalDimension,
     sizeof(Dimension), offset(h_margin), (String)XmRImmediate, (XtPointer)2},
    {(String)XiNiconTextPadding, (String)XmCSpace, (String)XmRVerticalDimension, sizeof(Dimension),
     offset(icon_text_padding), (String)XmRImmediate, (XtPointer)2},
    {(String)XmNactivateCallback, (String)XmCCallback, (String)XmRCallback, sizeof(XtCallbackList),
     offset(activate_callback), (String)XmRImmediate, NULL},
    {(String)XiNdoubleClickCallback, (String)XmCCallback, (String)XmRCallback,
     sizeof(XtCallbackList), offset(double_click_callback), (String)XmRImmediate, NULL},
};

/* Resources shown in the manager's unit type. */
static XmSyntheticResource syn_resources[] = {
    {(String)XiNverticalMargin, sizeof(Dimension), offset(v_margin), XmeFromVerticalPixels,
     XmeToVerticalPixels},
    {(String)XiNhorizontalMargin, sizeof(Dimension), offset(h_margin), XmeFromHorizontalPixels,
     XmeToHorizontalPixels},
    {(String)XiNiconTextPadding, sizeof(Dimension), offset(icon_text_padding), padding_from_pixels,
     padding_to_pixels},
};

#undef offset

/* ------------------------------------------------------------------ */
/* Actions and translations                                            */
/* ------------------------------------------------------------------ */

static XtActionsRec actions[] = {
    {(String) "XiToggle", ToggleAction},
    {(String) "XiNotify", NotifyAction},
    {(String) "XiDoubleNotify", DoubleNotifyAction},
    {(String) "XiButtonUp", ButtonUpAction},
    {(String) "XiGetFocus", GetFocusAction},
    {(String) "XiArmAndActivate", ArmAndActivateAction},
};

/* The enter and leave actions are the primitive class's. */
static char default_translations[] = "<Btn1Down>,<Btn1Up>: XiToggle() XiNotify() XiButtonUp()\n"
                                     "<Btn1Down>: XiGetFocus() XiToggle()\n"
                                     "<Key>osfSelect: XiArmAndActivate()\n"
                                     "<Key>osfActivate: XiArmAndActivate()\n"
                                     "None<Key>space: XiArmAndActivate()\n"
                                     "None<Key>Return: XiArmAndActivate()\n"
                                     "<Btn1Down>,<Leave>: XiToggle()\n"
                                     "<Enter>: PrimitiveEnter()\n"
                                     "<Leave>: PrimitiveLeave()";

/* The primitive class lays its traversal translations over ours, and they
 * send osfActivate (Return) to the parent; these put the button's own
 * keyboard activation back on top. */
static char activation_translations[] = "<Key>osfSelect: XiArmAndActivate()\n"
                                        "<Key>osfActivate: XiArmAndActivate()\n"
                                        "None<Key>space: XiArmAndActivate()\n"
                                        "None<Key>Return: XiArmAndActivate()";
static XtTranslations activation_table;

static const XiEnumName placement_names[] = {
    {"top", XiIconTop},       {"left", XiIconLeft},     {"right", XiIconRight},
    {"bottom", XiIconBottom}, {"icononly", XiIconOnly}, {"none", XiIconNone},
};
static const XiEnumTable placement_table = {XiRXiIconPlacement, placement_names,
                                            XtNumber(placement_names), sizeof(unsigned char)};

/* ------------------------------------------------------------------ */
/* Class record                                                        */
/* ------------------------------------------------------------------ */

XiIconButtonClassRec xiIconButtonClassRec = {
    {
        /* core_class fields */
        (WidgetClass)&xmPrimitiveClassRec, /* superclass */
        (String) "XiIconButton",           /* class_name */
        sizeof(XiIconButtonRec),           /* widget_size */
        ClassInitialize,                   /* class_initialize */
        NULL,                              /* class_part_initialize */
        False,                             /* class_inited */
        Initialize,                        /* initialize */
        NULL,                              /* initialize_hook */
        XtInheritRealize,                  /* realize */
        actions,                           /* actions */
        XtNumber(actions),                 /* num_actions */
        resources,                         /* resources */
        XtNumber(resources),               /* num_resources */
        NULLQUARK,                         /* xrm_class */
        True,                              /* compress_motion */
        XtExposeCompressMaximal,           /* compress_exposure */
        True,                              /* compress_enterleave */
        False,                             /* visible_interest */
        Destroy,                           /* destroy */
        Resize,                            /* resize */
        Redisplay,                         /* expose */
        SetValues,                         /* set_values */
        NULL,                              /* set_values_hook */
        XtInheritSetValuesAlmost,          /* set_values_almost */
        GetValuesHook,                     /* get_values_hook */
        NULL,                              /* accept_focus */
        XtVersion,                         /* version */
        NULL,                              /* callback_private */
        default_translations,              /* tm_table */
        QueryGeometry,                     /* query_geometry */
        NULL,                              /* display_accelerator */
        NULL,                              /* extension */
    },
    {
        /* primitive_class fields */
        XmInheritWidgetProc,     /* border_highlight */
        XmInheritWidgetProc,     /* border_unhighlight */
        XtInheritTranslations,   /* translations (traversal) */
        ArmAndActivateAction,    /* arm_and_activate */
        syn_resources,           /* syn_resources */
        XtNumber(syn_resources), /* num_syn_resources */
        NULL,                    /* extension */
    },
    {
        /* icon_class fields */
        NULL, /* extension */
    },
};

WidgetClass xiIconButtonWidgetClass = (WidgetClass)&xiIconButtonClassRec;

/* ------------------------------------------------------------------ */
/* Pixmap geometry cache                                               */
/* ------------------------------------------------------------------ */

/* One XGetGeometry per pixmap for the whole program: the size and depth of
 * every pixmap in use, with the number of buttons that use it. */
struct PixmapInfo {
    Display* display;
    Pixmap pixmap;
    unsigned int width, height, depth;
    int refs;
};
static std::vector<PixmapInfo> pixmap_cache;

static bool is_pixmap(Pixmap p)
{
    return p != None && p != XmUNSPECIFIED_PIXMAP;
}

static void pixmap_acquire(Display* dpy, Pixmap p, unsigned int* w, unsigned int* h,
                           unsigned int* depth)
{
    for (PixmapInfo& info : pixmap_cache) {
        if (info.display == dpy && info.pixmap == p) {
            info.refs++;
            *w = info.width;
            *h = info.height;
            *depth = info.depth;
            return;
        }
    }
    Window root;
    int x, y;
    unsigned int border;
    PixmapInfo info = {dpy, p, 0, 0, 0, 1};
    XGetGeometry(dpy, p, &root, &x, &y, &info.width, &info.height, &border, &info.depth);
    pixmap_cache.push_back(info);
    *w = info.width;
    *h = info.height;
    *depth = info.depth;
}

static void pixmap_release(Display* dpy, Pixmap p)
{
    for (size_t i = 0; i < pixmap_cache.size(); i++) {
        if (pixmap_cache[i].display == dpy && pixmap_cache[i].pixmap == p) {
            if (--pixmap_cache[i].refs <= 0) pixmap_cache.erase(pixmap_cache.begin() + i);
            return;
        }
    }
}

/* ------------------------------------------------------------------ */
/* Helpers                                                             */
/* ------------------------------------------------------------------ */

static XiIconButtonWidget IB(Widget w)
{
    return (XiIconButtonWidget)w;
}

static void arm_color_default(Widget w, int offset, XrmValue* value)
{
    static Pixel select;
    XmGetColors(XtScreen(w), w->core.colormap, w->core.background_pixel, NULL, NULL, NULL, &select);
    value->addr = (XPointer)&select;
    value->size = sizeof(Pixel);
}

static bool beside(Widget w)
{
    unsigned char p = IB(w)->icon.icon_placement;
    return p == XiIconLeft || p == XiIconRight;
}

/* The padding is a horizontal distance when icon and text sit side by side. */
static void padding_from_pixels(Widget w, int offset, XtArgVal* value)
{
    if (beside(w))
        XmeFromHorizontalPixels(w, offset, value);
    else
        XmeFromVerticalPixels(w, offset, value);
}

static XmImportOperator padding_to_pixels(Widget w, int offset, XtArgVal* value)
{
    return beside(w) ? XmeToHorizontalPixels(w, offset, value)
                     : XmeToVerticalPixels(w, offset, value);
}

static void use_pixmap(Widget w)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    ib->pix_width = ib->pix_height = 0;
    ib->pix_depth = 0;
    if (is_pixmap(ib->pixmap)) {
        unsigned int pw, ph, depth;
        pixmap_acquire(XtDisplay(w), ib->pixmap, &pw, &ph, &depth);
        ib->pix_width = (Dimension)pw;
        ib->pix_height = (Dimension)ph;
        ib->pix_depth = depth;
    }
}

/* The text's extent; an icon-only button shows no text and does not need
 * it. */
static void measure_text(Widget w)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    Dimension tw = 0, th = 0;
    if (ib->icon_placement != XiIconOnly && ib->label_string != NULL && ib->font_list != NULL)
        XmStringExtent(ib->font_list, ib->label_string, &tw, &th);
    ib->max_text_width = tw;
    ib->max_text_height = th;
}

static XiIconGeometryIn geometry_input(Widget w)
{
    XiIconButtonWidget b = IB(w);
    XiIconGeometryIn in;
    int frame = b->primitive.highlight_thickness + b->primitive.shadow_thickness;
    in.placement = b->icon.icon_placement;
    in.has_icon = is_pixmap(b->icon.pixmap);
    in.icon_width = b->icon.pix_width;
    in.icon_height = b->icon.pix_height;
    in.text_width = b->icon.max_text_width;
    in.text_height = b->icon.max_text_height;
    in.padding = b->icon.icon_text_padding;
    in.inset_h = frame + b->icon.h_margin;
    in.inset_v = frame + b->icon.v_margin;
    return in;
}

static void preferred_size(Widget w, Dimension* width, Dimension* height)
{
    int pw, ph;
    xi_icon_preferred_size(geometry_input(w), &pw, &ph);
    *width = (Dimension)(pw > 0 ? pw : 1);
    *height = (Dimension)(ph > 0 ? ph : 1);
}

static void compute_positions(Widget w)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    XiIconPositions p = xi_icon_positions(geometry_input(w), w->core.width, w->core.height);
    ib->icon_x = (Position)p.icon_x;
    ib->icon_y = (Position)p.icon_y;
    ib->text_x = (Position)p.text_x;
    ib->text_y = (Position)p.text_y;
    ib->text_width = (Dimension)p.text_width;
}

/* The graphics contexts are made when the button first draws: most folder
 * buttons of a big outline are never on the screen. */
static void get_gcs(Widget w)
{
    XiIconButtonWidget b = IB(w);
    XGCValues v;
    if (b->icon.gcs_made) return;
    b->icon.gcs_made = True;
    XtGCMask dynamic = GCFont | GCClipMask | GCClipXOrigin | GCClipYOrigin;
    XtGCMask mask = GCForeground | GCBackground | GCGraphicsExposures;

    if (b->icon.stipple == None)
        b->icon.stipple = XmGetPixmapByDepth(XtScreen(w), (char*)XmS50_foreground, 1, 0, 1);

    v.foreground = b->primitive.foreground;
    v.background = b->core.background_pixel;
    v.graphics_exposures = False;
    b->icon.gc = XtAllocateGC(w, 0, mask, &v, dynamic, 0);

    v.background = b->icon.arm_color;
    b->icon.armed_gc = XtAllocateGC(w, 0, mask, &v, dynamic, 0);

    v.background = b->core.background_pixel;
    v.fill_style = FillStippled;
    v.stipple = b->icon.stipple;
    b->icon.insensitive_gc = XtAllocateGC(w, 0, mask | GCFillStyle | GCStipple, &v, dynamic, 0);

    v.foreground = b->core.background_pixel;
    b->icon.stipple_gc = XtGetGC(w, mask | GCFillStyle | GCStipple, &v);

    v.foreground = b->icon.arm_color;
    b->icon.arm_fill_gc = XtGetGC(w, GCForeground | GCGraphicsExposures, &v);
}

static void release_gcs(Widget w)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    if (!ib->gcs_made) return;
    ib->gcs_made = False;
    XtReleaseGC(w, ib->gc);
    XtReleaseGC(w, ib->armed_gc);
    XtReleaseGC(w, ib->insensitive_gc);
    XtReleaseGC(w, ib->stipple_gc);
    XtReleaseGC(w, ib->arm_fill_gc);
}

/* Clear and draw again at once; used when the set state flips. */
static void redraw(Widget w)
{
    if (!XtIsRealized(w)) return;
    XClearWindow(XtDisplay(w), XtWindow(w));
    Redisplay(w, NULL, NULL);
}

static void set_state(Widget w, Boolean set)
{
    if (IB(w)->icon.set == set) return;
    IB(w)->icon.set = set;
    redraw(w);
}

/* Every folder button of an outline takes its label from the same name, so
 * the last text made is kept and copied (a reference) while it repeats. */
static XmString label_from(Widget w, String label)
{
    static std::string last_text;
    static XmString last = NULL;
    const char* text = label != NULL ? label : XtName(w);
    if (last == NULL || last_text != text) {
        if (last != NULL) XmStringFree(last);
        last_text = text;
        last = XmStringCreateLocalized((char*)text);
    }
    return XmStringCopy(last);
}

/* ------------------------------------------------------------------ */
/* Class methods                                                       */
/* ------------------------------------------------------------------ */

static void ClassInitialize(void)
{
    xi_register_enum_converter(&placement_table);
    activation_table = XtParseTranslationTable(activation_translations);
}

static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    XiIconButtonPart* ib = &IB(new_w)->icon;

    if (ib->label != NULL) ib->label = XtNewString(ib->label);
    if (ib->label_string != NULL)
        ib->label_string = XmStringCopy(ib->label_string);
    else
        ib->label_string = label_from(new_w, ib->label);

    if (ib->font_list == NULL) ib->font_list = XmeGetDefaultRenderTable(new_w, XmBUTTON_FONTLIST);
    ib->font_list = XmFontListCopy(ib->font_list);

    if (ib->icon_placement > XiIconNone) {
        XmeWarning(new_w, (char*)"Bad value of iconPlacement; using top.");
        ib->icon_placement = XiIconTop;
    }

    XtOverrideTranslations(new_w, activation_table);
    ib->last_release = 0;
    ib->unset_timer = 0;
    ib->stipple = None;
    use_pixmap(new_w);
    measure_text(new_w);

    /* A size given in full is kept; otherwise the button asks for its
     * preferred one, both width and height. */
    if (request->core.width == 0 || request->core.height == 0) {
        Dimension pw, ph, rw, rh;
        preferred_size(new_w, &pw, &ph);
        if (XtMakeResizeRequest(new_w, pw, ph, &rw, &rh) == XtGeometryAlmost)
            XtMakeResizeRequest(new_w, rw, rh, NULL, NULL);
    }
    compute_positions(new_w);
    ib->gcs_made = False;
}

static void Destroy(Widget w)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    if (ib->unset_timer) XtRemoveTimeOut(ib->unset_timer);
    release_gcs(w);
    if (ib->stipple != None) XmDestroyPixmap(XtScreen(w), ib->stipple);
    if (is_pixmap(ib->pixmap)) pixmap_release(XtDisplay(w), ib->pixmap);
    XmStringFree(ib->label_string);
    XmFontListFree(ib->font_list);
    XtFree(ib->label);
}

static void Resize(Widget w)
{
    compute_positions(w);
}

static void Redisplay(Widget w, XEvent* event, Region region)
{
    XiIconButtonWidget b = IB(w);
    XiIconButtonPart* ib = &b->icon;
    if (!XtIsRealized(w)) return;
    get_gcs(w);
    Display* dpy = XtDisplay(w);
    Window win = XtWindow(w);
    int ht = b->primitive.highlight_thickness;
    int st = b->primitive.shadow_thickness;
    int inside = ht + st;
    int iw = (int)w->core.width - 2 * inside;
    int ih = (int)w->core.height - 2 * inside;
    Boolean sensitive = XtIsSensitive(w);

    if (ib->set && iw > 0 && ih > 0)
        XFillRectangle(dpy, win, ib->arm_fill_gc, inside, inside, iw, ih);

    if (is_pixmap(ib->pixmap) && ib->icon_placement != XiIconNone) {
        GC gc = ib->set ? ib->armed_gc : ib->gc;
        if (ib->pix_depth == 1)
            XCopyPlane(dpy, ib->pixmap, win, gc, 0, 0, ib->pix_width, ib->pix_height, ib->icon_x,
                       ib->icon_y, 1);
        else
            XCopyArea(dpy, ib->pixmap, win, gc, 0, 0, ib->pix_width, ib->pix_height, ib->icon_x,
                      ib->icon_y);
        if (!sensitive)
            XFillRectangle(dpy, win, ib->stipple_gc, ib->icon_x, ib->icon_y, ib->pix_width,
                           ib->pix_height);
    }

    if (ib->icon_placement != XiIconOnly && ib->label_string != NULL && iw > 0 && ih > 0) {
        GC gc = !sensitive ? ib->insensitive_gc : ib->set ? ib->armed_gc : ib->gc;
        XRectangle clip;
        clip.x = (short)inside;
        clip.y = (short)inside;
        clip.width = (unsigned short)iw;
        clip.height = (unsigned short)ih;
        XmStringDraw(dpy, win, ib->font_list, ib->label_string, gc, ib->text_x, ib->text_y,
                     ib->text_width, ib->alignment, ib->string_direction, &clip);
    }

    if (st > 0 && (int)w->core.width > 2 * ht && (int)w->core.height > 2 * ht) {
        GC top = ib->set ? b->primitive.bottom_shadow_GC : b->primitive.top_shadow_GC;
        GC bottom = ib->set ? b->primitive.top_shadow_GC : b->primitive.bottom_shadow_GC;
        XmeDrawShadows(dpy, win, top, bottom, ht, ht, w->core.width - 2 * ht,
                       w->core.height - 2 * ht, st, XmSHADOW_OUT);
    }

    if (b->primitive.highlighted && ht > 0) {
        XmPrimitiveWidgetClass pc = (XmPrimitiveWidgetClass)XtClass(w);
        if (pc->primitive_class.border_highlight) (*pc->primitive_class.border_highlight)(w);
    }
}

static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args)
{
    XiIconButtonPart* old = &IB(current)->icon;
    XiIconButtonPart* ib = &IB(new_w)->icon;
    XiIconButtonWidget ob = IB(current), nb = IB(new_w);
    Boolean redisplay = False;
    Boolean relayout = False;

    Boolean label_changed = ib->label != old->label;
    if (label_changed) {
        XtFree(old->label);
        ib->label = ib->label ? XtNewString(ib->label) : NULL;
    }
    if (ib->label_string != old->label_string) {
        ib->label_string =
            ib->label_string ? XmStringCopy(ib->label_string) : label_from(new_w, ib->label);
        XmStringFree(old->label_string);
        relayout = True;
    } else if (label_changed) {
        ib->label_string = label_from(new_w, ib->label);
        XmStringFree(old->label_string);
        relayout = True;
    }
    if (ib->font_list != old->font_list) {
        if (ib->font_list == NULL)
            ib->font_list = XmeGetDefaultRenderTable(new_w, XmBUTTON_FONTLIST);
        ib->font_list = XmFontListCopy(ib->font_list);
        XmFontListFree(old->font_list);
        relayout = True;
    }
    if (ib->pixmap != old->pixmap) {
        if (is_pixmap(old->pixmap)) pixmap_release(XtDisplay(new_w), old->pixmap);
        use_pixmap(new_w);
        relayout = True;
    }
    if (ib->icon_placement > XiIconNone) {
        XmeWarning(new_w, (char*)"Bad value of iconPlacement; keeping the old one.");
        ib->icon_placement = old->icon_placement;
    }
    if (ib->icon_placement != old->icon_placement || ib->v_margin != old->v_margin ||
        ib->h_margin != old->h_margin || ib->icon_text_padding != old->icon_text_padding ||
        nb->primitive.shadow_thickness != ob->primitive.shadow_thickness ||
        nb->primitive.highlight_thickness != ob->primitive.highlight_thickness)
        relayout = True;

    if (nb->primitive.foreground != ob->primitive.foreground ||
        nb->core.background_pixel != ob->core.background_pixel || ib->arm_color != old->arm_color) {
        /* The old record's GCs are the new one's until now. */
        release_gcs(new_w);
        redisplay = True;
    }
    if (ib->set != old->set || ib->alignment != old->alignment ||
        ib->string_direction != old->string_direction ||
        XtIsSensitive(new_w) != XtIsSensitive(current))
        redisplay = True;

    if (relayout) {
        measure_text(new_w);
        if (ib->recompute_size) {
            Dimension pw, ph;
            preferred_size(new_w, &pw, &ph);
            new_w->core.width = pw;
            new_w->core.height = ph;
        }
        compute_positions(new_w);
        redisplay = True;
    }
    return redisplay;
}

static XtGeometryResult QueryGeometry(Widget w, XtWidgetGeometry* intended,
                                      XtWidgetGeometry* desired)
{
    Dimension pw, ph;
    preferred_size(w, &pw, &ph);
    desired->width = pw;
    desired->height = ph;
    return XmeReplyToQueryGeometry(w, intended, desired);
}

/* As with Motif's labels, a caller that reads labelString gets a copy of
 * its own to free. */
static void GetValuesHook(Widget w, ArgList args, Cardinal* num_args)
{
    for (Cardinal i = 0; i < *num_args; i++) {
        if (strcmp(args[i].name, XmNlabelString) == 0) {
            XmString* where = (XmString*)args[i].value;
            if (*where != NULL) *where = XmStringCopy(*where);
        }
    }
}

/* ------------------------------------------------------------------ */
/* Actions                                                             */
/* ------------------------------------------------------------------ */

static void call(Widget w, XtCallbackList list, XEvent* event)
{
    XiIconButtonCallbackInfo info;
    info.state = IB(w)->icon.set;
    info.event = event;
    XtCallCallbackList(w, list, &info);
}

static void ToggleAction(Widget w, XEvent* event, String* params, Cardinal* num_params)
{
    set_state(w, !IB(w)->icon.set);
}

static void NotifyAction(Widget w, XEvent* event, String* params, Cardinal* num_params)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    bool double_click = false;
    if (event != NULL && (event->type == ButtonPress || event->type == ButtonRelease)) {
        Time now = event->xbutton.time;
        Time limit = (Time)XtGetMultiClickTime(XtDisplay(w));
        double_click =
            ib->last_release != 0 && now >= ib->last_release && now - ib->last_release <= limit;
    }
    call(w, double_click ? ib->double_click_callback : ib->activate_callback, event);
}

static void DoubleNotifyAction(Widget w, XEvent* event, String* params, Cardinal* num_params)
{
    call(w, IB(w)->icon.double_click_callback, event);
}

static void ButtonUpAction(Widget w, XEvent* event, String* params, Cardinal* num_params)
{
    if (event != NULL && (event->type == ButtonPress || event->type == ButtonRelease))
        IB(w)->icon.last_release = event->xbutton.time;
}

static void GetFocusAction(Widget w, XEvent* event, String* params, Cardinal* num_params)
{
    XmProcessTraversal(w, XmTRAVERSE_CURRENT);
}

static void unset_timeout(XtPointer client_data, XtIntervalId* id)
{
    Widget w = (Widget)client_data;
    IB(w)->icon.unset_timer = 0;
    set_state(w, False);
}

/* Keyboard activation: show the pressed look for a moment and notify. */
static void ArmAndActivateAction(Widget w, XEvent* event, String* params, Cardinal* num_params)
{
    XiIconButtonPart* ib = &IB(w)->icon;
    if (!ib->set) set_state(w, True);
    if (ib->unset_timer) XtRemoveTimeOut(ib->unset_timer);
    ib->unset_timer = XtAppAddTimeOut(XtWidgetToApplicationContext(w), 100, unset_timeout, w);
    NotifyAction(w, event, params, num_params);
}

/* ------------------------------------------------------------------ */
/* Public functions                                                    */
/* ------------------------------------------------------------------ */

Widget XiCreateIconButton(Widget parent, String name, ArgList args, Cardinal num_args)
{
    return XtCreateWidget(name, xiIconButtonWidgetClass, parent, args, num_args);
}
