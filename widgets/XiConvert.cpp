/*
 * XiConvert.cpp - case-insensitive string-to-enumeration converters.
 */
#include "XiConvert.h"

#include <strings.h>

Boolean xi_enum_lookup(const XiEnumTable* table, const char* text, int* value)
{
    if (text == NULL) return False;
    for (Cardinal i = 0; i < table->num_names; i++) {
        if (strcasecmp(text, table->names[i].name) == 0) {
            *value = table->names[i].value;
            return True;
        }
    }
    return False;
}

/* The converter; the table arrives as the one conversion argument, an
 * immediate value: args[0].addr points at the table pointer itself. */
static Boolean convert_enum(Display* dpy, XrmValue* args, Cardinal* num_args, XrmValue* from,
                            XrmValue* to, XtPointer* converter_data)
{
    const XiEnumTable* table = *(const XiEnumTable**)args[0].addr;
    int value;
    if (!xi_enum_lookup(table, (const char*)from->addr, &value)) {
        XtDisplayStringConversionWarning(dpy, (String)from->addr, (String)table->type_name);
        return False;
    }
    /* Results live in static storage, as Xt expects when to->addr is NULL;
     * the cache copies them at once. */
    static int int_result;
    static unsigned char byte_result;
    void* result;
    if (table->value_size == sizeof(unsigned char)) {
        byte_result = (unsigned char)value;
        result = &byte_result;
    } else {
        int_result = value;
        result = &int_result;
    }
    if (to->addr == NULL) {
        to->addr = (XPointer)result;
    } else {
        if (to->size < table->value_size) {
            to->size = table->value_size;
            return False;
        }
        if (table->value_size == sizeof(unsigned char))
            *(unsigned char*)to->addr = byte_result;
        else
            *(int*)to->addr = int_result;
    }
    to->size = table->value_size;
    return True;
}

void xi_register_enum_converter(const XiEnumTable* table)
{
    /* Xt copies the argument record into its converter table, and an
     * immediate argument carries the table pointer in that copy: nothing
     * is allocated here, and every converter registered has its own table. */
    XtConvertArgRec arg;
    arg.address_mode = XtImmediate;
    arg.address_id = (XtPointer)table;
    arg.size = sizeof(const XiEnumTable*);
    XtSetTypeConverter(XtRString, (String)table->type_name, convert_enum, &arg, 1, XtCacheAll,
                       NULL);
}
