/*
 * XiIconButtonP.h - private header of the icon button: class and instance
 * records.  For subclasses and the widget set itself; applications include
 * XiIconButton.h.
 */
#ifndef QX_XI_ICON_BUTTON_P_H
#define QX_XI_ICON_BUTTON_P_H

#include <Xm/PrimitiveP.h>

#include "XiIconButton.h"

/* New fields of the class record. */
typedef struct {
    XtPointer extension; /* for future use */
} XiIconButtonClassPart;

/* The full class record. */
typedef struct _XiIconButtonClassRec {
    CoreClassPart core_class;
    XmPrimitiveClassPart primitive_class;
    XiIconButtonClassPart icon_class;
} XiIconButtonClassRec;

extern XiIconButtonClassRec xiIconButtonClassRec;

/* New fields of the instance record. */
typedef struct {
    /* resources */
    String label;                         /* plain-text label, used when labelString is not given */
    XmString label_string;                /* the text shown (owned copy) */
    Pixmap pixmap;                        /* the icon, or None */
    XmFontList font_list;                 /* font of the text (owned copy) */
    unsigned char alignment;              /* XmALIGNMENT_* of the text in its area */
    unsigned char string_direction;       /* XmSTRING_DIRECTION_* */
    unsigned char icon_placement;         /* XiIconPlacement */
    Boolean recompute_size;               /* take the preferred size after changes */
    Pixel arm_color;                      /* fill colour while set */
    Boolean set;                          /* pressed look */
    Dimension v_margin;                   /* between shadow and content, above and below */
    Dimension h_margin;                   /* between shadow and content, left and right */
    Dimension icon_text_padding;          /* between icon and text */
    XtCallbackList activate_callback;     /* single click or keyboard */
    XtCallbackList double_click_callback; /* second click within the multi-click time */

    /* private state */
    Dimension pix_width; /* icon size and depth, from the pixmap cache */
    Dimension pix_height;
    unsigned int pix_depth;
    Position icon_x, icon_y;  /* where the icon is drawn */
    Position text_x, text_y;  /* where the text is drawn */
    Dimension text_width;     /* width of the text area */
    Dimension max_text_width; /* extent of labelString in fontList */
    Dimension max_text_height;
    Time last_release;        /* time of the last button release, 0 for none */
    XtIntervalId unset_timer; /* pending end of a keyboard flash, or 0 */
    GC gc;                    /* foreground on background: icon and text */
    GC armed_gc;              /* foreground on the arm colour: icon and text while set */
    GC insensitive_gc;        /* stippled foreground: text while insensitive */
    GC stipple_gc;            /* stippled background: laid over the icon while insensitive */
    GC arm_fill_gc;           /* arm colour: fills the inside while set */
    Pixmap stipple;           /* 50% stipple of the insensitive look */
    Boolean gcs_made;         /* the GCs above exist (made at the first drawing) */
} XiIconButtonPart;

/* The full instance record. */
typedef struct _XiIconButtonRec {
    CorePart core;
    XmPrimitivePart primitive;
    XiIconButtonPart icon;
} XiIconButtonRec;

#endif
