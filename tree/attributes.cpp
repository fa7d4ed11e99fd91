/*
 * attributes.cpp - DataObject::get_attributes: boots an object into the
 * configuration image and lists its attribute names.
 */
#include <cstdio>
#include <string>

#include "core/catalog.h"
#include "core/globals.h"
#include "meta/meta_api.h"
#include "tree/data_object.h"
#include "ui/config_win.h"

/* The boot waits, and a report of this object's destruction may delete it
 * meanwhile: nothing of it is read after the wait. */
DUArray DataObject::get_attributes()
{
    const std::string fdn = name ? name : "";
    Image image(DataUnit(fdn.c_str()), DataUnit(), Platform::def_platform);
    static_cast<Image&>(global) = image;
    global.set_prop(TRACKMODE, TRACK);
    global.when(ATTR_CHANGED,
                Callback(SchedContext::current(), ConfigWin::attr_changed_cb, nullptr));

    if (global.boot(DeriveTimeout)) {
        if (object_configuration) object_configuration->image_replaced();
        /* The edits pending for the object shown before are void now. */
        Attribute::attr_list.clear_and_destroy();
        return global.get_attr_names(0);
    }
    printf("%s%s\n%s\n", qx_msg(202, "DataObject::get_attributes() booting object: "),
           fdn.c_str(), global.get_error_string());
    fflush(stdout);
    return DUArray();
}
