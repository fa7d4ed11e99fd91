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

#define PsNhorizontalSpacing     ((char*)"horizontalSpacing")
#define PsNverticalSpacing       ((char*)"verticalSpacing")
#define PsNcaptionWidth          ((char*)"captionWidth")
#define PsNreferenceCaptionWidth ((char*)"referenceCaptionWidth")
#define PsNreferenceWidget       ((char*)"referenceWidget")
#define PsNcaptionAlignment      ((char*)"captionAlignment")
#define PsNstretchHorizontal     ((char*)"stretchHorizontal")
#define PsNstretchVertical       ((char*)"stretchVertical")

#define PsCHorizontalSpacing     ((char*)"HorizontalSpacing")
#define PsCVerticalSpacing       ((char*)"VerticalSpacing")
#define PsCCaptionWidth          ((char*)"CaptionWidth")
#define PsCReferenceCaptionWidth ((char*)"ReferenceCaptionWidth")
#define PsCCaptionAlignment      ((char*)"CaptionAlignment")
#define PsCStretchHorizontal     ((char*)"StretchHorizontal")
#define PsCStretchVertical       ((char*)"StretchVertical")

#define PsRCaptionAlignment ((char*)"CaptionAlignment")

/* Values of captionAlignment ("caption_top", "caption_center", "caption_bottom"). */
enum { PsCAPTION_TOP = 0, PsCAPTION_CENTER = 1, PsCAPTION_BOTTOM = 2 };

typedef struct _PsCaptionClassRec* PsCaptionWidgetClass;
typedef struct _PsCaptionRec* PsCaptionWidget;

extern WidgetClass psCaptionWidgetClass;

#ifndef PsIsCaption
#define PsIsCaption(w) XtIsSubclass((w), psCaptionWidgetClass)
#endif

Widget PsCreateCaption(Widget parent, String name, ArgList args, Cardinal num_args);

/* Rewrite the offsets of a class's synthetic resources (and synthetic
 * constraint resources), written part-relative with XmPartOffset, into
 * widget-relative offsets, using the offset tables that
 * XmResolveAllPartOffsets made.  Run once, from class initialisation. */
void PsResolveAllSyntheticOffsets(WidgetClass wc, XmOffsetPtr* offsets,
                                  XmOffsetPtr* constraint_offsets);

#endif
