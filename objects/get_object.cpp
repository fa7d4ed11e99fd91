/* get_object.cpp - Object > Get..., the navigator's double click, and File > Exit. */
#include <cstdlib>

#include "core/globals.h"
#include "meta/meta_api.h"
#include "tree/tree_api.h"
#include "ui/busy_cursor.h"
#include "ui/config_win.h"
#include "ui/main_win.h"

void MainWin::get_object(Widget w, char* name)
{
    BusyCursor busy(shell());
    DataObject* obj = name && *name ? find_album_object(name) : DataObject::selected_list.first();
    /* Waits; the window reads what it needs of obj before its wait. */
    if (object_configuration) object_configuration->get_object(obj, w);
}

void MainWin::exit_cb(Widget, XtPointer)
{
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    Attribute::attr_list.clear_and_destroy();
    ClassInfo::class_list.clear_and_destroy();
    exit(0);
}
