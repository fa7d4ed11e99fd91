/*
 * field_text.h - what the user typed into a text widget.  PUBLIC HEADER.
 */
#ifndef CORE_FIELD_TEXT_H
#define CORE_FIELD_TEXT_H

#include <X11/Intrinsic.h>

#include <string>

/* A copy of the text of w, an XmText or an XmTextField ("" when Motif
 * returns none); Motif's own copy is released. */
std::string field_text(Widget w);

#endif /* CORE_FIELD_TEXT_H */
