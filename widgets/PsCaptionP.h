/*
 * PsCaptionP.h - private header of the caption widget: class, instance and
 * constraint records.
 *
 * The part offsets are resolved when the class is initialised
 * (XmResolveAllPartOffsets), so a subclass can extend the records without
 * recompiling this widget.  Code therefore reaches the caption part through
 * PsCaptionField / PsCaptionCField and the offset tables, not through the
 * structure layout of PsCaptionRec.
 */
#ifndef QX_PS_CAPTION_P_H
#define QX_PS_CAPTION_P_H

#include <Xm/ManagerP.h>
#include <Xm/XmP.h>

#include "PsCaption.h"

#define PsCaptionIndex (XmManagerIndex + 1)

/* New fields of the class record. */
typedef struct {
    XtPointer extension; /* for future use */
} PsCaptionClassPart;

/* The full class record. */
typedef struct _PsCaptionClassRec {
    CoreClassPart core_class;
    CompositeClassPart composite_class;
    ConstraintClassPart constraint_class;
    XmManagerClassPart manager_class;
    PsCaptionClassPart caption_class;
} PsCaptionClassRec;

extern PsCaptionClassRec psCaptionClassRec;

/* New fields of the instance record. */
typedef struct {
    /* resources */
    Dimension margin_width;  /* left and right of the form */
    Dimension margin_height; /* above and below the form */
    Dimension h_spacing;     /* between caption column and controls */
    Dimension v_spacing;     /* between rows */

    /* private state */
    Dimension pref_width; /* preferred size: computed, or given */
    Dimension pref_height;
    Boolean compute_width;     /* pref_width follows the layout */
    Boolean compute_height;    /* pref_height follows the layout */
    unsigned char self_placed; /* a child's own geometry request carries our placement */
    long spare_word;           /* unused, 0 */

    /* resources */
    Widget reference_widget;           /* caption widget whose column we line up with */
    Dimension caption_width;           /* read-only: our own caption column */
    Dimension reference_caption_width; /* the reference widget's caption column */

    /* private state */
    Dimension effective_caption_width; /* column used for placing */
    Dimension fixed_height;            /* rows that do not stretch, with spacings */
    Dimension min_height;              /* least height the rows can live with */
    Dimension stretch_sum;             /* preferred heights of stretching controls */
} PsCaptionPart;

/* The instance record as compiled here; subclasses may extend it. */
typedef struct _PsCaptionRec {
    CorePart core;
    CompositePart composite;
    ConstraintPart constraint;
    XmManagerPart manager;
    PsCaptionPart caption;
} PsCaptionRec;

/* Constraint part of each child. */
typedef struct {
    unsigned char caption_alignment; /* resource: caption's place in a taller row */
    Boolean stretch_h;               /* resource: control takes the available width */
    Boolean stretch_v;               /* resource: control shares the extra height */
    Dimension pref_width;            /* preferred size found by the last layout */
    Dimension pref_height;
    unsigned char granted;           /* CWWidth, CWHeight: that part of the preferred size
                                      * is what the child last asked for and was granted,
                                      * and is not queried again */
} PsCaptionConstraintPart;

typedef struct _PsCaptionConstraintRec {
    XmManagerConstraintPart manager;
    PsCaptionConstraintPart caption;
} PsCaptionConstraintRec;

/* Offset tables filled at class initialisation. */
extern XmOffsetPtr psCaptionOffsets;
extern XmOffsetPtr psCaptionConstraintOffsets;

#define PsCaptionField(w, field, type) XmField(w, psCaptionOffsets, PsCaption, field, type)
#define PsCaptionCField(w, field, type)                                                            \
    XmConstraintField(w, psCaptionConstraintOffsets, PsCaption, field, type)

#endif
