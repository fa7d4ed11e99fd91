/*
 * XiConvert.h - private to the widget set: a resource converter from strings
 * to small enumerations that ignores letter case.
 */
#ifndef QX_XI_CONVERT_H
#define QX_XI_CONVERT_H

#include <X11/Intrinsic.h>
#include <X11/StringDefs.h>

/* One name of an enumeration and its value. */
struct XiEnumName {
    const char* name;
    int value;
};

/* The table a converter works from; it must live as long as the program. */
struct XiEnumTable {
    const char* type_name; /* representation type, also used in warnings */
    const XiEnumName* names;
    Cardinal num_names;
    Cardinal value_size; /* sizeof the target field: 1 or 4 */
};

/* Look a name up, ignoring case; false when it is not in the table. */
Boolean xi_enum_lookup(const XiEnumTable* table, const char* text, int* value);

/* Register the converter String -> table->type_name, fully cached. */
void xi_register_enum_converter(const XiEnumTable* table);

#endif
