/*
 * XiIconButton.h - public header of the icon button widget.
 *
 * A push button on the Motif primitive class that shows a pixmap (the icon)
 * and a compound-string label in one of several arrangements, keeps a "set"
 * state with a pressed look, and tells single clicks from double clicks.
 *
 * Resources (besides those of XmPrimitive):
 *
 * Name                Class            Type             Default
 * ----                -----            ----             -------
 * label               Label            String           NULL
 * labelString         LabelString      XmString         NULL (from label or the name)
 * pixmap              Pixmap           Pixmap           None
 * fontList            FontList         XmFontList       the button font list
 * alignment           Alignment        unsigned char    XmALIGNMENT_BEGINNING
 * stringDirection     StringDirection  unsigned char    XmSTRING_DIRECTION_L_TO_R
 * iconPlacement       IconPlacement    XiIconPlacement  XiIconTop
 * recomputeSize       Boolean          Boolean          True
 * armColor            ArmColor         Pixel            the select colour
 * set                 Boolean          Boolean          False
 * verticalMargin      Space            VerticalDimension    2
 * horizontalMargin    Space            HorizontalDimension  2
 * iconTextPadding     Space            VerticalDimension    2
 * activateCallback    Callback         XtCallbackList   NULL
 * doubleClickCallback Callback         XtCallbackList   NULL
 *
 * Both callback lists get an XiIconButtonCallbackInfo.
 */
#ifndef QX_XI_ICON_BUTTON_H
#define QX_XI_ICON_BUTTON_H

#include <Xm/Xm.h>

/* Resource names, classes and representation types. */
#define XiNlabel               ((char*)"label")
#define XiNiconPlacement       ((char*)"iconPlacement")
#define XiNverticalMargin      ((char*)"verticalMargin")
#define XiNhorizontalMargin    ((char*)"horizontalMargin")
#define XiNiconTextPadding     ((char*)"iconTextPadding")
#define XiNdoubleClickCallback ((char*)"doubleClickCallback")
#define XiCIconPlacement       ((char*)"IconPlacement")
#define XiRXiIconPlacement     ((char*)"XiIconPlacement")

/* Values of iconPlacement; the converter takes the strings in any case. */
typedef enum {
    XiIconTop = 0,    /* "top": icon above the text */
    XiIconLeft = 1,   /* "left" */
    XiIconRight = 2,  /* "right" */
    XiIconBottom = 3, /* "bottom" */
    XiIconOnly = 4,   /* "icononly": no text */
    XiIconNone = 5    /* "none": text only */
} XiIconPlacement;

/* Call data of activateCallback and doubleClickCallback. */
typedef struct {
    int state;     /* the "set" value when the callback runs */
    XEvent* event; /* the event that triggered it */
} XiIconButtonCallbackInfo;

typedef struct _XiIconButtonClassRec* XiIconButtonWidgetClass;
typedef struct _XiIconButtonRec* XiIconButtonWidget;

extern WidgetClass xiIconButtonWidgetClass;

#ifndef XiIsIconButton
#define XiIsIconButton(w) XtIsSubclass((w), xiIconButtonWidgetClass)
#endif

Widget XiCreateIconButton(Widget parent, String name, ArgList args, Cardinal num_args);

#endif
