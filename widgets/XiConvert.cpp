/*
 * XiConvert.cpp - case-insensitive string-to-enumeration converters.
 */
#include "XiConvert.h"

#include <strings.h>

Boolean xi_enum_lookup(const XiEnumTable *table, const char *text, int *value)
{
    if (text == NULL)
        return False;
    for (Cardinal i = 0; i < table->num_names; i++) {
        if (strcasecmp(text, table->names[i].name) == 0) {
            *value = table->names[i].value;
            return True;
        }
    }
    return False;
}

/* The converter; the table arrives as the one conversion argument. */
static Boolean convert_enum(Display *dpy, XrmValue *args, Cardinal *num_args, XrmValue *from,
                            XrmValue *to, XtPointer *converter_data)
{
    const XiEnumTable *table = *(const XiEnumTable **)args[0].addr;
    int value;
    if (!xi_enum_lookup(table, (const char *)from->addr, &value)) {
        XtDisplayStringConversionWarning(dpy, (String)from->addr, (String)table->type_name);
        return False;
    }
    /* Results live in static storage, as Xt expects when to->addr is NULL;
     * the cache copies them at once. */
    static int int_result;
    static unsigned char byte_result;
    void *result;
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
            *(unsigned char *)to->addr = byte_result;
        else
            *(int *)to->addr = int_result;
    }
    to->size = table->value_size;
    return True;
}

void xi_register_enum_converter(const XiEnumTable *table)
{
    /* The argument is the address of a pointer to the table, so every
     * converter registered here has its own table.  Xt copies the argument
     * record; the pointer it addresses must live as long as the converter. */
    const XiEnumTable **holder = (const XiEnumTable **)XtMalloc(sizeof(*holder));
    *holder = table;
    XtConvertArgRec arg;
    arg.address_mode = XtAddress;
    arg.address_id = (XtPointer)holder;
    arg.size = sizeof(const XiEnumTable *);
    XtSetTypeConverter(XtRString, (String)table->type_name, convert_enum, &arg, 1, XtCacheAll, NULL);
}
