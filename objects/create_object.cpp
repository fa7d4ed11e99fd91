/* create_object.cpp - Object > Create...: the configuration window in create mode. */
#include "core/globals.h"
#include "tree/tree_api.h"
#include "ui/config_win.h"
#include "ui/main_win.h"

/* The first selected object is the template; with none the form is empty. */
void MainWin::create_from_selected(Widget, XtPointer)
{
    if (object_configuration)
        object_configuration->create_object(DataObject::selected_list.first());
}
