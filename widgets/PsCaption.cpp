/*
 * PsCaption.cpp - the caption form: rows of right-aligned captions and
 * their controls, with a caption column that can be shared with another
 * caption widget.
 */
#include "PsCaptionP.h"

#include <Xm/RepType.h>
#include <Xm/SeparatoG.h>
#include <Xm/Separator.h>

#include <vector>

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
static XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                        XtWidgetGeometry* reply);
static void ChangeManaged(Widget w);
static void ConstraintInitialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args);
static Boolean ConstraintSetValues(Widget current, Widget request, Widget new_w, ArgList args,
                                   Cardinal* num_args);

/* ------------------------------------------------------------------ */
/* Field access through the resolved offsets                           */
/* ------------------------------------------------------------------ */

XmOffsetPtr psCaptionOffsets;
XmOffsetPtr psCaptionConstraintOffsets;

#define MarginWidth(w)     PsCaptionField(w, margin_width, Dimension)
#define MarginHeight(w)    PsCaptionField(w, margin_height, Dimension)
#define HSpacing(w)        PsCaptionField(w, h_spacing, Dimension)
#define VSpacing(w)        PsCaptionField(w, v_spacing, Dimension)
#define PrefWidth(w)       PsCaptionField(w, pref_width, Dimension)
#define PrefHeight(w)      PsCaptionField(w, pref_height, Dimension)
#define ComputeWidth(w)    PsCaptionField(w, compute_width, Boolean)
#define ComputeHeight(w)   PsCaptionField(w, compute_height, Boolean)
#define SelfPlaced(w)      PsCaptionField(w, self_placed, unsigned char)
#define SpareWord(w)       PsCaptionField(w, spare_word, long)
#define ReferenceWidget(w) PsCaptionField(w, reference_widget, Widget)
#define CaptionWidth(w)    PsCaptionField(w, caption_width, Dimension)
#define RefCaptionWidth(w) PsCaptionField(w, reference_caption_width, Dimension)
#define EffectiveWidth(w)  PsCaptionField(w, effective_caption_width, Dimension)
#define FixedHeight(w)     PsCaptionField(w, fixed_height, Dimension)
#define MinHeight(w)       PsCaptionField(w, min_height, Dimension)
#define StretchSum(w)      PsCaptionField(w, stretch_sum, Dimension)

#define CAlignment(c)  PsCaptionCField(c, caption_alignment, unsigned char)
#define CStretchH(c)   PsCaptionCField(c, stretch_h, Boolean)
#define CStretchV(c)   PsCaptionCField(c, stretch_v, Boolean)
#define CPrefWidth(c)  PsCaptionCField(c, pref_width, Dimension)
#define CPrefHeight(c) PsCaptionCField(c, pref_height, Dimension)
#define CGranted(c)    PsCaptionCField(c, granted, unsigned char)

/* ------------------------------------------------------------------ */
/* Resources (offsets part-relative, resolved at class initialisation) */
/* ------------------------------------------------------------------ */

static XmPartResource resources[] = {
    {(String)XmNmarginWidth, (String)XmCMarginWidth, (String)XmRHorizontalDimension,
     sizeof(Dimension), XmPartOffset(PsCaption, margin_width), (String)XmRImmediate, (XtPointer)2},
    {(String)XmNmarginHeight, (String)XmCMarginHeight, (String)XmRVerticalDimension,
     sizeof(Dimension), XmPartOffset(PsCaption, margin_height), (String)XmRImmediate, (XtPointer)2},
    {(String)PsNhorizontalSpacing, (String)PsCHorizontalSpacing, (String)XmRHorizontalDimension,
     sizeof(Dimension), XmPartOffset(PsCaption, h_spacing), (String)XmRImmediate, (XtPointer)2},
    {(String)PsNverticalSpacing, (String)PsCVerticalSpacing, (String)XmRVerticalDimension,
     sizeof(Dimension), XmPartOffset(PsCaption, v_spacing), (String)XmRImmediate, (XtPointer)8},
    {(String)PsNcaptionWidth, (String)PsCCaptionWidth, (String)XmRHorizontalDimension,
     sizeof(Dimension), XmPartOffset(PsCaption, caption_width), (String)XmRImmediate, (XtPointer)0},
    {(String)PsNreferenceCaptionWidth, (String)PsCReferenceCaptionWidth,
     (String)XmRHorizontalDimension, sizeof(Dimension),
     XmPartOffset(PsCaption, reference_caption_width), (String)XmRImmediate, (XtPointer)0},
    {(String)PsNreferenceWidget, (String)XmCWidget, (String)XmRWidget, sizeof(Widget),
     XmPartOffset(PsCaption, reference_widget), (String)XmRImmediate, NULL},
};

static XmSyntheticResource syn_resources[] = {
    {(String)XmNmarginWidth, sizeof(Dimension), XmPartOffset(PsCaption, margin_width),
     XmeFromHorizontalPixels, XmeToHorizontalPixels},
    {(String)XmNmarginHeight, sizeof(Dimension), XmPartOffset(PsCaption, margin_height),
     XmeFromVerticalPixels, XmeToVerticalPixels},
    {(String)PsNhorizontalSpacing, sizeof(Dimension), XmPartOffset(PsCaption, h_spacing),
     XmeFromHorizontalPixels, XmeToHorizontalPixels},
    {(String)PsNverticalSpacing, sizeof(Dimension), XmPartOffset(PsCaption, v_spacing),
     XmeFromVerticalPixels, XmeToVerticalPixels},
};

static XmPartResource constraint_resources[] = {
    {(String)PsNcaptionAlignment, (String)PsCCaptionAlignment, (String)PsRCaptionAlignment,
     sizeof(unsigned char), XmConstraintPartOffset(PsCaption, caption_alignment),
     (String)XmRImmediate, (XtPointer)PsCAPTION_CENTER},
    {(String)PsNstretchHorizontal, (String)PsCStretchHorizontal, (String)XmRBoolean,
     sizeof(Boolean), XmConstraintPartOffset(PsCaption, stretch_h), (String)XmRImmediate,
     (XtPointer)False},
    {(String)PsNstretchVertical, (String)PsCStretchVertical, (String)XmRBoolean, sizeof(Boolean),
     XmConstraintPartOffset(PsCaption, stretch_v), (String)XmRImmediate, (XtPointer)False},
};

/* ------------------------------------------------------------------ */
/* Class record                                                        */
/* ------------------------------------------------------------------ */

PsCaptionClassRec psCaptionClassRec = {
    {
        /* core_class fields */
        (WidgetClass)&xmManagerClassRec, /* superclass */
        (String) "PsCaption",            /* class_name */
        sizeof(PsCaptionPart),           /* widget_size: the part; resolved later */
        ClassInitialize,                 /* class_initialize */
        NULL,                            /* class_part_initialize */
        False,                           /* class_inited */
        Initialize,                      /* initialize */
        NULL,                            /* initialize_hook */
        XtInheritRealize,                /* realize */
        NULL,                            /* actions */
        0,                               /* num_actions */
        (XtResourceList)resources,       /* resources */
        XtNumber(resources),             /* num_resources */
        NULLQUARK,                       /* xrm_class */
        True,                            /* compress_motion */
        XtExposeCompressMaximal,         /* compress_exposure */
        True,                            /* compress_enterleave */
        False,                           /* visible_interest */
        Destroy,                         /* destroy */
        Resize,                          /* resize */
        Redisplay,                       /* expose */
        SetValues,                       /* set_values */
        NULL,                            /* set_values_hook */
        XtInheritSetValuesAlmost,        /* set_values_almost */
        NULL,                            /* get_values_hook */
        NULL,                            /* accept_focus */
        XtVersion,                       /* version */
        NULL,                            /* callback_private */
        XtInheritTranslations,           /* tm_table */
        QueryGeometry,                   /* query_geometry */
        NULL,                            /* display_accelerator */
        NULL,                            /* extension */
    },
    {
        /* composite_class fields */
        GeometryManager,      /* geometry_manager */
        ChangeManaged,        /* change_managed */
        XtInheritInsertChild, /* insert_child */
        XtInheritDeleteChild, /* delete_child */
        NULL,                 /* extension */
    },
    {
        /* constraint_class fields */
        (XtResourceList)constraint_resources, /* resources */
        XtNumber(constraint_resources),       /* num_resources */
        sizeof(PsCaptionConstraintPart),      /* constraint_size: the part; resolved later */
        ConstraintInitialize,                 /* initialize */
        NULL,                                 /* destroy */
        ConstraintSetValues,                  /* set_values */
        NULL,                                 /* extension */
    },
    {
        /* manager_class fields */
        XtInheritTranslations,   /* translations */
        syn_resources,           /* syn_resources */
        XtNumber(syn_resources), /* num_syn_resources */
        NULL,                    /* syn_constraint_resources */
        0,                       /* num_syn_constraint_resources */
        XmInheritParentProcess,  /* parent_process */
        NULL,                    /* extension */
    },
    {
        /* caption_class fields */
        NULL, /* extension */
    },
};

WidgetClass psCaptionWidgetClass = (WidgetClass)&psCaptionClassRec;

/* ------------------------------------------------------------------ */
/* Layout                                                              */
/* ------------------------------------------------------------------ */

static bool is_separator(Widget c)
{
    return XmIsSeparator(c) || XmIsSeparatorGadget(c);
}

static std::vector<Widget> managed_children(Widget w)
{
    CompositeWidget cw = (CompositeWidget)w;
    std::vector<Widget> kids;
    for (Cardinal i = 0; i < cw->composite.num_children; i++)
        if (XtIsManaged(cw->composite.children[i])) kids.push_back(cw->composite.children[i]);
    return kids;
}

static std::vector<PsCaptionItem> items_of(const std::vector<Widget>& kids)
{
    std::vector<PsCaptionItem> items;
    for (Widget c : kids) {
        PsCaptionItem it;
        it.separator = is_separator(c);
        it.width = CPrefWidth(c);
        it.height = CPrefHeight(c);
        it.border = c->core.border_width;
        it.stretch_h = CStretchH(c);
        it.stretch_v = CStretchV(c);
        it.alignment = CAlignment(c);
        items.push_back(it);
    }
    return items;
}

static Dimension clamp_dim(int v)
{
    return (Dimension)(v < 1 ? 1 : v > 32767 ? 32767 : v);
}

/* Measure the rows from the children's preferred sizes and work out the
 * caption column and the preferred size.  A child is asked for its
 * preferred size, except for what it was last granted on its own request:
 * that is the size it wants, whatever its query answer says. */
static void layout(Widget w)
{
    std::vector<Widget> kids = managed_children(w);
    for (Widget c : kids) {
        if ((CGranted(c) & (CWWidth | CWHeight)) == (CWWidth | CWHeight)) continue;
        XtWidgetGeometry pref;
        XtQueryGeometry(c, NULL, &pref);
        if (!(CGranted(c) & CWWidth))
            CPrefWidth(c) = (pref.request_mode & CWWidth) ? pref.width : c->core.width;
        if (!(CGranted(c) & CWHeight))
            CPrefHeight(c) = (pref.request_mode & CWHeight) ? pref.height : c->core.height;
    }
    PsCaptionMeasure m = ps_caption_measure(items_of(kids), VSpacing(w));
    FixedHeight(w) = clamp_dim(m.fixed_height);
    MinHeight(w) = (Dimension)m.min_height;
    StretchSum(w) = (Dimension)m.stretch_sum;

    CaptionWidth(w) = (Dimension)m.caption_width;
    Widget ref = ReferenceWidget(w);
    if (ref != NULL && PsIsCaption(ref)) {
        Dimension theirs = 0;
        XtVaGetValues(ref, PsNcaptionWidth, &theirs, NULL);
        RefCaptionWidth(w) = theirs;
        XtVaSetValues(ref, PsNreferenceCaptionWidth, CaptionWidth(w), NULL);
        EffectiveWidth(w) = CaptionWidth(w) > theirs ? CaptionWidth(w) : theirs;
    } else {
        EffectiveWidth(w) = CaptionWidth(w);
    }

    int width = EffectiveWidth(w) + HSpacing(w) + m.control_width + 2 * MarginWidth(w);
    int height = m.total_height + 2 * MarginHeight(w);
    if (ComputeWidth(w)) PrefWidth(w) = clamp_dim(width);
    if (ComputeHeight(w)) PrefHeight(w) = clamp_dim(height);
}

/* Put the children where the rows want them.  `self` is a child inside
 * its own XtSetValues: it only gets the new values in its fields, and Xt's
 * geometry request for them is granted (see SelfPlaced). */
static void place(Widget w, Widget self = NULL)
{
    std::vector<Widget> kids = managed_children(w);
    std::vector<PsCaptionItem> items = items_of(kids);
    PsCaptionMeasure m = {CaptionWidth(w), 0, 0, MinHeight(w), FixedHeight(w), StretchSum(w)};
    PsCaptionFrame f;
    f.width = w->core.width;
    f.height = w->core.height;
    f.margin_width = MarginWidth(w);
    f.margin_height = MarginHeight(w);
    f.h_spacing = HSpacing(w);
    f.v_spacing = VSpacing(w);
    f.caption_column = EffectiveWidth(w);
    std::vector<PsCaptionPlace> places = ps_caption_place(items, m, f);
    for (size_t i = 0; i < kids.size(); i++) {
        if (!places[i].placed) continue;
        Position x = (Position)places[i].x, y = (Position)places[i].y;
        Dimension width = clamp_dim(places[i].width), height = clamp_dim(places[i].height);
        Widget c = kids[i];
        if (c != self) {
            XmeConfigureObject(c, x, y, width, height, c->core.border_width);
        } else if (c->core.x != x || c->core.y != y || c->core.width != width ||
                   c->core.height != height) {
            c->core.x = x;
            c->core.y = y;
            c->core.width = width;
            c->core.height = height;
            SelfPlaced(w) = True;
        }
    }
}

/* A reference widget that goes away is forgotten. */
static void reference_gone(Widget ref, XtPointer client_data, XtPointer call_data)
{
    Widget w = (Widget)client_data;
    if (ReferenceWidget(w) == ref) ReferenceWidget(w) = NULL;
}

static void watch_reference(Widget w, Widget ref, Boolean watch)
{
    if (ref == NULL) return;
    if (watch)
        XtAddCallback(ref, XmNdestroyCallback, reference_gone, w);
    else
        XtRemoveCallback(ref, XmNdestroyCallback, reference_gone, w);
}

/* Layout, ask the parent for the preferred size, place. */
static void relayout_and_resize(Widget w)
{
    layout(w);
    Dimension rw, rh;
    XtGeometryResult r = XtMakeResizeRequest(w, PrefWidth(w), PrefHeight(w), &rw, &rh);
    if (r == XtGeometryAlmost) XtMakeResizeRequest(w, rw, rh, NULL, NULL);
    place(w);
}

/* ------------------------------------------------------------------ */
/* Class methods                                                       */
/* ------------------------------------------------------------------ */

static void ClassInitialize(void)
{
    static String names[] = {(String) "caption_top", (String) "caption_center",
                             (String) "caption_bottom"};
    XmResolveAllPartOffsets(psCaptionWidgetClass, &psCaptionOffsets, &psCaptionConstraintOffsets);
    PsResolveAllSyntheticOffsets(psCaptionWidgetClass, &psCaptionOffsets,
                                 &psCaptionConstraintOffsets);
    XmRepTypeRegister((String)PsRCaptionAlignment, names, NULL, XtNumber(names));
}

static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    if (CaptionWidth(new_w) != 0) {
        XmeWarning(new_w, (char*)"XmNcaptionWidth cannot be set at widget creation");
        CaptionWidth(new_w) = 0;
    }
    if (RefCaptionWidth(new_w) != 0) {
        XmeWarning(new_w, (char*)"XmNreferenceCaptionWidth cannot be set at widget creation");
        RefCaptionWidth(new_w) = 0;
    }
    ComputeWidth(new_w) = request->core.width == 0;
    ComputeHeight(new_w) = request->core.height == 0;
    PrefWidth(new_w) = request->core.width;
    PrefHeight(new_w) = request->core.height;
    SelfPlaced(new_w) = 0;
    SpareWord(new_w) = 0;
    EffectiveWidth(new_w) = 0;
    FixedHeight(new_w) = MinHeight(new_w) = StretchSum(new_w) = 0;
    watch_reference(new_w, ReferenceWidget(new_w), True);

    layout(new_w);
    if (new_w->core.width == 0) new_w->core.width = PrefWidth(new_w);
    if (new_w->core.height == 0) new_w->core.height = PrefHeight(new_w);
    place(new_w);
}

static void Destroy(Widget w)
{
    watch_reference(w, ReferenceWidget(w), False);
}

static void Resize(Widget w)
{
    place(w);
}

static void Redisplay(Widget w, XEvent* event, Region region)
{
    XmeRedisplayGadgets(w, event, region);
}

static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args)
{
    if (CaptionWidth(new_w) != CaptionWidth(current)) {
        XmeWarning(new_w, (char*)"XmNcaptionWidth is read-only");
        CaptionWidth(new_w) = CaptionWidth(current);
    }
    if (ReferenceWidget(new_w) != ReferenceWidget(current)) {
        watch_reference(new_w, ReferenceWidget(current), False);
        watch_reference(new_w, ReferenceWidget(new_w), True);
    }
    Boolean size_changed = False;
    if (new_w->core.width != current->core.width) {
        size_changed = True;
        ComputeWidth(new_w) = new_w->core.width == 0;
        if (!ComputeWidth(new_w)) PrefWidth(new_w) = new_w->core.width;
    }
    if (new_w->core.height != current->core.height) {
        size_changed = True;
        ComputeHeight(new_w) = new_w->core.height == 0;
        if (!ComputeHeight(new_w)) PrefHeight(new_w) = new_w->core.height;
    }
    if (size_changed || MarginWidth(new_w) != MarginWidth(current) ||
        MarginHeight(new_w) != MarginHeight(current) || HSpacing(new_w) != HSpacing(current) ||
        VSpacing(new_w) != VSpacing(current) ||
        RefCaptionWidth(new_w) != RefCaptionWidth(current) ||
        ReferenceWidget(new_w) != ReferenceWidget(current)) {
        layout(new_w);
        if (new_w->core.width == 0 || (ComputeWidth(new_w) && !size_changed))
            new_w->core.width = PrefWidth(new_w);
        if (new_w->core.height == 0 || (ComputeHeight(new_w) && !size_changed))
            new_w->core.height = PrefHeight(new_w);
        if (new_w->core.width == current->core.width && new_w->core.height == current->core.height)
            place(new_w);
        return True;
    }
    return False;
}

static XtGeometryResult QueryGeometry(Widget w, XtWidgetGeometry* intended,
                                      XtWidgetGeometry* desired)
{
    desired->width = PrefWidth(w);
    desired->height = PrefHeight(w);
    return XmeReplyToQueryGeometry(w, intended, desired);
}

static XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                        XtWidgetGeometry* reply)
{
    Widget w = XtParent(child);
    XtGeometryMask mode = request->request_mode;
    if (SelfPlaced(w)) {
        /* The request that carries the placement a constraint change made. */
        SelfPlaced(w) = False;
        if (mode & XtCWQueryOnly) return XtGeometryYes;
        if (mode & CWX) child->core.x = request->x;
        if (mode & CWY) child->core.y = request->y;
        if (mode & CWWidth) child->core.width = request->width;
        if (mode & CWHeight) child->core.height = request->height;
        return XtGeometryYes;
    }
    if (!(mode & (CWWidth | CWHeight | CWBorderWidth))) return XtGeometryNo;
    if (mode & XtCWQueryOnly) return XtGeometryYes;
    /* The granted size is the child's preferred size from now on. */
    if (mode & CWWidth) {
        child->core.width = request->width;
        CPrefWidth(child) = request->width;
        CGranted(child) |= CWWidth;
    }
    if (mode & CWHeight) {
        child->core.height = request->height;
        CPrefHeight(child) = request->height;
        CGranted(child) |= CWHeight;
    }
    if (mode & CWBorderWidth) child->core.border_width = request->border_width;
    relayout_and_resize(w);
    return XtGeometryYes;
}

static void ChangeManaged(Widget w)
{
    relayout_and_resize(w);
    XmeNavigChangeManaged(w);
}

static void ConstraintInitialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    CPrefWidth(new_w) = new_w->core.width;
    CPrefHeight(new_w) = new_w->core.height;
    CGranted(new_w) = 0;
    if (CAlignment(new_w) > PsCAPTION_BOTTOM) CAlignment(new_w) = PsCAPTION_CENTER;
}

static Boolean ConstraintSetValues(Widget current, Widget request, Widget new_w, ArgList args,
                                   Cardinal* num_args)
{
    Widget w = XtParent(new_w);
    if (!XtIsManaged(new_w)) return False;
    if (CStretchH(new_w) != CStretchH(current) || CStretchV(new_w) != CStretchV(current)) {
        layout(w);
        Dimension rw, rh;
        if (XtMakeResizeRequest(w, PrefWidth(w), PrefHeight(w), &rw, &rh) == XtGeometryAlmost)
            XtMakeResizeRequest(w, rw, rh, NULL, NULL);
        place(w, new_w);
    } else if (CAlignment(new_w) != CAlignment(current)) {
        place(w, new_w);
    }
    return False;
}

/* ------------------------------------------------------------------ */
/* Public functions                                                    */
/* ------------------------------------------------------------------ */

Widget PsCreateCaption(Widget parent, String name, ArgList args, Cardinal num_args)
{
    return XtCreateWidget(name, psCaptionWidgetClass, parent, args, num_args);
}

void PsResolveAllSyntheticOffsets(WidgetClass wc, XmOffsetPtr* offsets,
                                  XmOffsetPtr* constraint_offsets)
{
    XmManagerWidgetClass mc = (XmManagerWidgetClass)wc;
    for (int i = 0; i < mc->manager_class.num_syn_resources; i++) {
        XmSyntheticResource* r = &mc->manager_class.syn_resources[i];
        r->resource_offset = (Cardinal)(XmGetPartOffset(r, offsets));
    }
    for (int i = 0; i < mc->manager_class.num_syn_constraint_resources; i++) {
        XmSyntheticResource* r = &mc->manager_class.syn_constraint_resources[i];
        r->resource_offset = (Cardinal)(XmGetPartOffset(r, constraint_offsets));
    }
}
