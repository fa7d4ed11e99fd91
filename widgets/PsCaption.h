/*
 * PsCaption.h - public header of the caption widget.
 *
 * A Motif manager that lays out its managed children as a two-column form:
 * each row is a caption (usually a label) right-aligned in a common caption
 * column and its control, which starts after a fixed gap and may stretch.
 * A separator child forms a row of its own.  Several caption widgets line
 * their caption columns up by naming each other as referenceWidget.
 *
 * Resources (besides those of XmManager):
 *
 * Name                   Class                  Type                 Default
 * ----                   -----                  ----                 -------
 * marginWidth            MarginWidth            HorizontalDimension  2
 * marginHeight           MarginHeight           VerticalDimension    2
 * horizontalSpacing      HorizontalSpacing      HorizontalDimension  2
 * verticalSpacing        VerticalSpacing        VerticalDimension    8
 * captionWidth           CaptionWidth           HorizontalDimension  0 (read-only)
 * referenceCaptionWidth  ReferenceCaptionWidth  HorizontalDimension  0
 * referenceWidget        Widget                 Widget               NULL
 *
 * Constraint resources of each child:
 *
 * Name               Class              Type              Default
 * ----               -----              ----              -------
 * captionAlignment   CaptionAlignment   CaptionAlignment  caption_center (on captions)
 * stretchHorizontal  StretchHorizontal  Boolean           False (on controls)
 * stretchVertical    StretchVertical    Boolean           False (on controls)
 */
#ifndef QX_PS_CAPTION_H
#define QX_PS_CAPTION_H

#include <Xm/Xm.h>

#define PsNhorizontalSpacing "horizontalSpacing"
#define PsNverticalSpacing "verticalSpacing"
#define PsNcaptionWidth "captionWidth"
#define PsNreferenceCaptionWidth "referenceCaptionWidth"
#define PsNreferenceWidget "referenceWidget"
#define PsNcaptionAlignment "captionAlignment"
#define PsNstretchHorizontal "stretchHorizontal"
#define PsNstretchVertical "stretchVertical"

#define PsCHorizontalSpacing "HorizontalSpacing"
#define PsCVerticalSpacing "VerticalSpacing"
#define PsCCaptionWidth "CaptionWidth"
#define PsCReferenceCaptionWidth "ReferenceCaptionWidth"
#define PsCCaptionAlignment "CaptionAlignment"
#define PsCStretchHorizontal "StretchHorizontal"
#define PsCStretchVertical "StretchVertical"

#define PsRCaptionAlignment "CaptionAlignment"

/* Values of captionAlignment ("caption_top", "caption_center", "caption_bottom"). */
enum { PsCAPTION_TOP = 0, PsCAPTION_CENTER = 1, PsCAPTION_BOTTOM = 2 };

typedef struct _PsCaptionClassRec *PsCaptionWidgetClass;
typedef struct _PsCaptionRec *PsCaptionWidget;

extern WidgetClass psCaptionWidgetClass;

#ifndef PsIsCaption
#define PsIsCaption(w) XtIsSubclass((w), psCaptionWidgetClass)
#endif

Widget PsCreateCaption(Widget parent, String name, ArgList args, Cardinal num_args);

/* Rewrite the offsets of a class's synthetic resources (and synthetic
 * constraint resources), written part-relative with XmPartOffset, into
 * widget-relative offsets, using the offset tables that
 * XmResolveAllPartOffsets made.  Run once, from class initialisation. */
void PsResolveAllSyntheticOffsets(WidgetClass wc, XmOffsetPtr *offsets,
                                  XmOffsetPtr *constraint_offsets);

#endif
