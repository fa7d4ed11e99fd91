/*
 * icon.h - the main window's icon.  PUBLIC HEADER.
 */
#ifndef UI_ICON_H
#define UI_ICON_H

#include <X11/Intrinsic.h>

/* The program's 48 x 48 icon image (XPM, symbolic colours). */
extern const char** tarn_icon_data;

/* Makes a shaped window showing the XPM image and gives it to shell as its
 * icon window, with icon_name.  When the image cannot be made nothing is
 * set.  Always returns 0. */
int g2_setupIconPixmap(const char** xpm_data, Widget shell, const char* icon_name, int width,
                       int height);

#endif /* UI_ICON_H */
