/* field_text.cpp - the text of a text widget as a std::string. */
#include "core/field_text.h"

#include <Xm/Text.h>
#include <Xm/TextF.h>

std::string field_text(Widget w)
{
    char* s = XmIsTextField(w) ? XmTextFieldGetString(w) : XmTextGetString(w);
    std::string out = s ? s : "";
    XtFree(s);
    return out;
}
