/*
 * config_win.h - the object configuration window: the parent FDN, class and
 * attribute values of one object as a form, edited and written back with
 * Set; in create mode the form of a new object.  PUBLIC HEADER.
 *
 * The attribute form is the caption widget oc_attribute_caption inside the
 * scrolled window oc_attribute_scrolled_window; it is destroyed and made
 * again each time the form is built.  create() and the small operations
 * that only set the window's widgets are defined here in ui/; the window's
 * behaviour (loading, creating, setting attributes, show_attr_syntax) is
 * defined in config/.
 *
 * EVENT-LOOP RULE: get_object, create_object and set_attributes_cb wait for
 * the server while the Xt loop runs; ATTR_CHANGED notifications for the
 * object shown may arrive at any time, also inside those waits.
 */
#ifndef UI_CONFIG_WIN_H
#define UI_CONFIG_WIN_H

#include "kvl/kvl.h"
#include "ui/xd_widgets.h"

class DataObject;

class ConfigWin : public xd_XmDialog_c {
public:
    ConfigWin() {}

    virtual void create(Widget parent, const char* name);
    /* Opens the window in create mode with obj (may be null) as template. */
    virtual void create_object(DataObject* obj);
    /* Return in the Object Class field: the blank form of the class typed. */
    virtual void create_object();
    /* Set (Create in create mode): writes the pending edits, or creates. */
    virtual void set_attributes_cb(Widget w, XtPointer client);
    /* Update: rebuilds the form from the current values of the image. */
    virtual void update_image_cb(Widget w, XtPointer client);
    /* Close (after the dialog is hidden): stops change notifications. */
    virtual void close_window_cb(Widget w, XtPointer client);
    /* Prints the attribute name and shows its syntax in the format area. */
    virtual void display_syntax(Widget w, char* name);

    /* Loads an existing object in edit mode and shows the window; w is the
     * control that asked.  A null obj only clears the message line.  Waits:
     * reads what it needs of obj (which a rebuild may delete) before, and
     * leaves the window alone when another load replaced the image meanwhile. */
    void get_object(DataObject* obj, Widget w);
    /* Before the form shows what (an FDN or a class) in place of edits not
     * yet set: asks whether to drop them.  True when there were none or the
     * user agreed.  Waits. */
    bool may_drop_pending_edits(const std::string& what, Widget parent);
    /* Builds the form from `global`: one labelled field per name. */
    void create_attr_widgets_cb(DUArray& names, char* parent_text, char* class_text);
    /* Empties the window: edits, loaded list, form and format area. */
    void build_config_win_cb();
    /* Destroys and makes again the (unmanaged) attribute caption. */
    void create_caption_cb();
    /* Makes the attribute caption as wide as the view of its scrolled
     * window (the fields stretch to it), so that only the values scroll
     * sideways, each in its own field, and the labels stay in view. */
    void fit_form_to_view();
    /* Creates the new object on the server (Set in create mode). */
    void create_object_cb();
    /* Writes the pending edits of the object shown (Set in edit mode):
     * applies them to `global` one by one, then stores them in one request.
     * Change reports of the object are off meanwhile.  Waits. */
    void set_object_cb();
    /* Applies Attribute::attr_list to image in order: 1 when every value was
     * accepted, 0 at the first one refused (the later ones are not tried).
     * Waits once per edit. */
    int set_image_attributes(Image& image);

    /* KVL callback of ATTR_CHANGED on `global`: names the attribute in the
     * message line and makes Update sensitive; the form stays as it is. */
    static void attr_changed_cb(void* client, void* event);
    /* Value-changed and activate callback of every field (client: its
     * display name): records the edit, shows the field inverted, offers Set. */
    static void activate_set_button(Widget field, XtPointer name, XtPointer call);
    /* Value-changed and focus callbacks of every field: a text longer than
     * 125 characters turns the field into a wrapped one of 4 rows (of 100
     * columns, on focus).  A field never shrinks back. */
    static void expand_text_field_cb(Widget field, XtPointer client, XtPointer call);
    static void check_text_field_cb(Widget field, XtPointer client, XtPointer call);

    /* The field of the attribute shown as name (a display name) in the
     * form; null when the form has none. */
    Widget field_named(const char* name) const;

    /* The image `global` was booted with another object: Set and Update are
     * off until there is an edit to write or a change to load. */
    void image_replaced();
    /* The server reports the object fdn deleted: when it is the object shown
     * (edit mode), the message line says so and Set stays off from now on,
     * until another load. */
    void object_destroyed(const char* fdn);
    /* ATTR_CHANGED for the object shown: names the change (text) in the
     * message line and makes Update sensitive. */
    void attribute_changed(const char* text);

    /* Static trampolines: client data is the ConfigWin. */
    static void new_class_cb(Widget w, XtPointer client, XtPointer call);
    static void set_attributes_tramp(Widget w, XtPointer client, XtPointer call);
    static void update_image_tramp(Widget w, XtPointer client, XtPointer call);
    static void close_window_tramp(Widget w, XtPointer client, XtPointer call);

    Pixel text_foreground = 0; /* normal colours of the form's fields, */
    Pixel text_background = 0; /* read from PARENTFDN at creation */
    DUArray attr_names;        /* full names of the attributes shown */
    int create_mode = 0;       /* 1: form of a new object */
    /* Counts the loads and forms that made `global` another image: a load
     * that waited compares it to learn whether a later one took its place. */
    unsigned image_loads = 0;
    /* Set once the window has been placed beside the main window. */
    bool placed_beside_main = false;
    /* The object shown was deleted on the server since it was loaded. */
    bool shown_object_gone = false;

    Widget oc_dialog = nullptr; /* message box; managed = shown */
    Widget oc_sash_form = nullptr;
    Widget oc_sash = nullptr; /* paned window of the three panes */
    Widget oc_loaded_objects_form = nullptr;
    Widget oc_fdn_caption = nullptr;
    Widget oc_loaded_objects_label = nullptr;
    Widget oc_loaded_object_list = nullptr;
    Widget oc_parent_label = nullptr; /* label "decoy": "Parent FDN" */
    Widget PARENTFDN = nullptr;       /* text field: the parent's FDN */
    Widget oc_class_label = nullptr;  /* label "decoy1": "Object Class" */
    Widget OBJCLASS = nullptr;        /* text field: the class */
    Widget oc_attributes_form = nullptr;
    Widget oc_attribute_scrolled_window = nullptr;
    Widget oc_attribute_caption = nullptr;
    Widget oc_format_form = nullptr;
    Widget oc_format_label = nullptr;
    Widget oc_attribute_format_list = nullptr;
    Widget oc_message_label = nullptr;
    Widget oc_update_button = nullptr;
    Widget oc_set_button = nullptr;
    Widget oc_close_button = nullptr;
    Widget oc_help_button = nullptr;
};

/* Focus callback of the form's fields: shows the syntax of the attribute
 * named by client (a display name) in oc_attribute_format_list: its name and
 * description, its expansion and the values it accepts.  Waits. */
void show_attr_syntax(Widget w, XtPointer client, XtPointer call);
/* The same for the attribute name, scrolled to its last line, the values
 * it accepts: what a refused value is to be corrected to.  Waits. */
void show_syntax_values(const char* name);

#endif /* UI_CONFIG_WIN_H */
