/*
 * clicks.cpp - clicks on navigator nodes.
 */
#include <Xm/Xm.h>
#include <cstdio>

#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "tree/selection.h"
#include "ui/action_win.h"
#include "ui/main_win.h"

bool selection_busy = false;

void object_selected(Widget node, XtPointer client, XtPointer call_data)
{
    if (selection_busy) return;
    selection_busy = true;
    status_line("  ");

    /* A row widget is reused for other objects as the view scrolls: it
     * stands for the object it shows at the moment of the click. */
    char* fdn = (char*)client;
    DataObject* obj = fdn ? find_album_object(fdn) : find_object(node);
    if (!obj) {
        printf("DEBUG : Object already deleted\n");
        fflush(stdout);
    } else {
        auto* cb = (XmPushButtonCallbackStruct*)call_data;
        int clicks = cb ? cb->click_count : 1;
        if (clicks == 1) {
            if (action_window) action_window->xd_hide();
            if (obj->selected)
                deselect(obj);
            else
                add(obj);
        } else if (clicks == 2) {
            /* Selecting rebuilds the Action menu, which waits: the object
             * may be gone afterwards. */
            ObjectRef ref(obj);
            if (!obj->selected) add(obj);
            obj = ref.get();
            if (obj && main_window) main_window->get_object(node, obj->name);
        }
    }
    selection_busy = false;
    if (main_window) main_window->update_edit_menu();
}
