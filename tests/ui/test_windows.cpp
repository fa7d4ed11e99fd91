/*
 * The eight windows in process under X: names and catalogue labels, initial
 * sensitivities, the main window's layout, the link callbacks and the order
 * in which the dialogs' buttons hide and act.
 *
 * The catalogue is read from the build tree, so a label fetched under the
 * wrong number shows up as the wrong text.  With QX_UI_SCREENSHOT_DIR set,
 * the test that shows every dialog also saves a picture of each there.
 */
#include "tests/ui/gui_fixture.h"

#include <Xm/MessageB.h>
#include <Xm/RowColumn.h>
#include <Xm/SelectioB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>
#include <X11/IntrinsicP.h>
#include <X11/Shell.h>
#include <cstdio>
#include <string>
#include <vector>

#include "XiOutline.h"
#include "ui/action_win.h"
#include "ui/config_win.h"
#include "ui/create_win.h"
#include "ui/default_win.h"
#include "ui/open_win.h"
#include "ui/output_win.h"
#include "ui/select_win.h"
#include "ui/xd_links.h"

namespace {

bool gui()
{
    static bool catalogue_set = false;
    if (!catalogue_set) {
        setenv("NLSPATH", QX_NLS_DIR "/%N", 1);
        catalogue_set = true;
    }
    return gui_up();
}

#define REQUIRE_WINDOWS()                                                                          \
    do {                                                                                           \
        if (!gui()) GTEST_SKIP() << "no X display";                                                \
    } while (0)

Widget find(Widget root, const std::string& name)
{
    return XtNameToWidget(root, ("*" + name).c_str());
}

/* Position of a top-level window among the root's children (higher is in front). */
int stacking(Widget shell)
{
    Window r, p, *kids = nullptr;
    unsigned n = 0;
    XQueryTree(display, DefaultRootWindow(display), &r, &p, &kids, &n);
    int at = -1;
    for (unsigned i = 0; i < n; i++)
        if (kids[i] == XtWindow(shell)) at = (int)i;
    XFree(kids);
    return at;
}

std::string title_of(Widget shell)
{
    char* t = nullptr;
    XtVaGetValues(shell, XtNtitle, &t, NULL);
    return t ? t : "";
}

std::vector<Widget> all_dialogs()
{
    return {action_window->aw_dialog,    create_object->co_dialog,
            selection_window->sw_dialog, default_preferences->dp_dialog,
            open_view->ov_dialog,        object_configuration->oc_dialog,
            output_window->out_dialog};
}

void hide_all_dialogs()
{
    for (Widget box : all_dialogs()) XtUnmanageChild(box);
    pump_for(0.1);
}

/* With QX_UI_SCREENSHOT_DIR set, saves a picture of shell there. */
void screenshot(Widget shell, const char* suffix = "")
{
    const char* shots = getenv("QX_UI_SCREENSHOT_DIR");
    if (!shots) return;
    char cmd[512];
    snprintf(cmd, sizeof cmd, "import -display %s -window 0x%lx %s/%s%s.png",
             DisplayString(display), XtWindow(shell), shots, XtName(shell), suffix);
    XSync(display, False);
    EXPECT_EQ(system(cmd), 0) << "screenshot failed: " << cmd;
}

struct Label {
    const char* name;
    const char* text;
};

void expect_labels(Widget root, const std::vector<Label>& labels)
{
    for (const Label& l : labels) {
        Widget w = find(root, l.name);
        ASSERT_NE(w, nullptr) << l.name;
        EXPECT_EQ(xmstring_resource(w, XmNlabelString), l.text) << l.name;
    }
}

void expect_exist(Widget root, const std::vector<const char*>& names)
{
    for (const char* name : names) EXPECT_NE(find(root, name), nullptr) << name;
}

TEST(Windows, EveryNamedWidgetCarriesItsCatalogueLabel)
{
    REQUIRE_WINDOWS();
    Widget main_shell = main_window->shell();
    expect_labels(main_shell, {{"mw_view", "File"},
                               {"mw_properties_button", "Properties..."},
                               {"mw_close_button", "Exit"},
                               {"mw_selected", "Object"},
                               {"mw_create_from_button", "Create..."},
                               {"mw_get_button", "Get..."},
                               {"mw_action", "Action"},
                               {"mw_edit", "Edit"},
                               {"mw_select_button", "Select"},
                               {"mw_deselect_button", "Deselect"},
                               {"mw_delete_button", "Delete"},
                               {"tarn_help_cascade_but", "Help"},
                               {"mw_help_button", "Help..."},
                               {"mw_path_label", "Path:"}});
    expect_exist(main_shell, {"mw_form", "mw_menubar", "mw_view_pulldown", "mw_view_separator",
                              "mw_selected_pulldown", "mw_action_pulldown", "mw_edit_pulldown",
                              "mw_edit_separator", "tarn_help_menu", "mw_path",
                              "mw_navigator_window", "mw_navigator", "mw_message_label"});

    /* Mnemonics of the menus and their items. */
    struct {
        Widget w;
        char key;
    } mnemonics[] = {{main_window->mw_view, 'F'},
                     {main_window->mw_properties_button, 'P'},
                     {main_window->mw_close_button, 'x'},
                     {main_window->mw_selected, 'O'},
                     {main_window->mw_create_from_button, 'C'},
                     {main_window->mw_get_button, 'G'},
                     {main_window->mw_action, 'A'},
                     {main_window->mw_edit, 'E'},
                     {main_window->mw_select_button, 'S'},
                     {main_window->mw_deselect_button, 'l'},
                     {main_window->mw_delete_button, 'D'},
                     {main_window->mw_help_button, 'H'}};
    for (auto& m : mnemonics) {
        KeySym k = 0;
        XtVaGetValues(m.w, XmNmnemonic, &k, NULL);
        EXPECT_EQ(k, (KeySym)m.key) << XtName(m.w);
    }
    /* Help stands at the right end of the menu bar. */
    Widget help_widget = nullptr;
    XtVaGetValues(main_window->mw_menubar, XmNmenuHelpWidget, &help_widget, NULL);
    EXPECT_EQ(help_widget, find(main_shell, "tarn_help_cascade_but"));

    struct Dialog {
        Widget shell;
        const char* shell_name;
        const char* box_name;
        const char* title;
        std::vector<Label> labels;
        std::vector<const char*> others;
    } dialogs[] = {
        {action_window->xd_rootwidget(),
         "action_window",
         "aw_dialog",
         "Tarnwick: Action ",
         {{"aw_action_label", "Action"},
          {"aw_parameter_label", "Parameter"},
          {"aw_ok_button", "OK"},
          {"aw_cancel_button", "Cancel"},
          {"aw_help_button", "Help"}},
         {"aw_frame", "aw_action", "aw_parameter"}},
        {create_object->xd_rootwidget(),
         "create_object",
         "co_dialog",
         "Tarnwick: Create Object",
         {{"co_class_option", "Object Class:"},
          {"co_ok_button", "OK"},
          {"co_cancel_button", "Cancel"},
          {"co_help_button", "Help"}},
         {"co_form", "co_class_parent"}},
        {output_window->xd_rootwidget(),
         "output_window",
         "out_dialog",
         "Tarnwick: Output Window",
         {{"out_close_button", "Close"}, {"out_help_button", "Help"}},
         {"out_form", "out_text"}},
        {selection_window->xd_rootwidget(),
         "selection_window",
         "sw_dialog",
         "Tarnwick: Select Object",
         {{"sw_cmis_label", "CMIS Filter:"},
          {"sw_scope", "Scope:"},
          {"sw_load_button", "Load ..."},
          {"sw_save_button", "Save ..."},
          {"sw_scope_this_level", "This Level Only"},
          {"sw_scope_down", "Down"},
          {"sw_scope_to_bottom", "To Bottom Level"},
          {"sw_level_label", "Levels"},
          {"sw_select_button", "Select"},
          {"sw_close_button", "Close"},
          {"sw_help_button", "Help"}},
         {"sw_form", "sw_cmis_filter", "sw_radio_box", "sw_number_levels"}},
        {default_preferences->xd_rootwidget(),
         "default_preferences",
         "dp_dialog",
         "Tarnwick: Default Preferences",
         {{"dp_default_node_label", "Default Node:"},
          {"dp_scope_label", "Scope:"},
          {"dp_filter_label", "CMIS Filter:"},
          {"dp_view_label", "Views:"},
          {"dp_load_view", "Load..."},
          {"dp_save_view", "Save..."},
          {"dp_obj_name_label", "Show Objects With:"},
          {"dp_fdn_toggle", "Fully Distinguished Name (FDN)"},
          {"dp_rdn_tog", "Relative Distinguished Name (RDN)"},
          {"dp_ok_button", "Ok"},
          {"dp_apply_button", "Apply"},
          {"dp_cancel_button", "Cancel"},
          {"dp_default_button", "Default"},
          {"dp_help_button", "Help"}},
         {"dp_form", "dp_default_node", "dp_scope", "dp_filter", "dp_obj_name_radio_box"}},
        {open_view->xd_rootwidget(),
         "open_view",
         "ov_dialog",
         "Tarnwick: Open View",
         {},
         {"widget58", "widget59"}},
        {object_configuration->xd_rootwidget(),
         "object_configuration",
         "oc_dialog",
         "Tarnwick: Object Configuration",
         {{"oc_loaded_objects_label", "Objects Loaded (0):"},
          {"decoy", "Parent FDN"},
          {"decoy1", "Object Class"},
          {"oc_format_label", "Attribute Format:"},
          {"oc_message_label", "Message Area"},
          {"oc_update_button", "Update"},
          {"oc_set_button", "Set"},
          {"oc_close_button", "Close"},
          {"oc_help_button", "Help"}},
         {"oc_sash_form", "oc_sash", "oc_loaded_objects_form", "oc_fdn_caption",
          "oc_loaded_object_list", "PARENTFDN", "OBJCLASS", "oc_attributes_form",
          "oc_attribute_scrolled_window", "oc_attribute_caption", "oc_format_form",
          "oc_attribute_format_list"}},
    };
    for (const Dialog& d : dialogs) {
        SCOPED_TRACE(d.shell_name);
        ASSERT_NE(d.shell, nullptr);
        EXPECT_STREQ(XtName(d.shell), d.shell_name);
        EXPECT_EQ(XtParent(d.shell), main_shell);
        EXPECT_EQ(title_of(d.shell), d.title);
        /* A message-box template whose button row is the dialog's own. */
        Widget box = XtNameToWidget(d.shell, d.box_name);
        ASSERT_NE(box, nullptr);
        unsigned char type = 0;
        XtVaGetValues(box, XmNdialogType, &type, NULL);
        EXPECT_EQ(type, XmDIALOG_TEMPLATE);
        EXPECT_NE(XmMessageBoxGetChild(box, XmDIALOG_SEPARATOR), nullptr);
        expect_labels(d.shell, d.labels);
        expect_exist(d.shell, d.others);
    }
    /* Every button label of a dialog's own row sits in its message box. */
    EXPECT_EQ(XtParent(default_preferences->dp_ok_button), default_preferences->dp_dialog);
    EXPECT_EQ(XtParent(object_configuration->oc_close_button), object_configuration->oc_dialog);

    /* The open-view list is labelled "Views", and its box keeps Apply and Cancel only. */
    Widget sel = open_view->widget59;
    XmString views = nullptr;
    XtVaGetValues(sel, XmNlistLabelString, &views, NULL);
    char* text = (char*)XmStringUnparse(views, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, nullptr, 0,
                                        XmOUTPUT_ALL);
    EXPECT_STREQ(text, "Views");
    XtFree(text);
    XmStringFree(views);
    EXPECT_FALSE(XtIsManaged(XmSelectionBoxGetChild(sel, XmDIALOG_OK_BUTTON)));
    EXPECT_FALSE(XtIsManaged(XmSelectionBoxGetChild(sel, XmDIALOG_HELP_BUTTON)));
    EXPECT_TRUE(XtIsManaged(XmSelectionBoxGetChild(sel, XmDIALOG_APPLY_BUTTON)));
    EXPECT_TRUE(XtIsManaged(XmSelectionBoxGetChild(sel, XmDIALOG_CANCEL_BUTTON)));

    /* The link records name the message boxes; the open-view record none. */
    EXPECT_EQ(xd_link_records[XD_LINK_DEFAULT_PREFERENCES], default_preferences->dp_dialog);
    EXPECT_EQ(xd_link_records[XD_LINK_CREATE_OBJECT], create_object->co_dialog);
    EXPECT_EQ(xd_link_records[XD_LINK_OBJECT_CONFIGURATION], object_configuration->oc_dialog);
    EXPECT_EQ(xd_link_records[XD_LINK_ACTION_WINDOW], action_window->aw_dialog);
    EXPECT_EQ(xd_link_records[XD_LINK_SELECTION_WINDOW], selection_window->sw_dialog);
    EXPECT_EQ(xd_link_records[XD_LINK_OPEN_VIEW], nullptr);
}

TEST(Windows, InitialSensitivitiesAndState)
{
    REQUIRE_WINDOWS();
    EXPECT_TRUE(XtIsSensitive(main_window->mw_create_from_button));
    EXPECT_FALSE(XtIsSensitive(main_window->mw_get_button));
    EXPECT_FALSE(XtIsSensitive(main_window->mw_action));
    EXPECT_FALSE(XtIsSensitive(main_window->mw_select_button));
    EXPECT_FALSE(XtIsSensitive(main_window->mw_delete_button));
    EXPECT_TRUE(XtIsSensitive(main_window->mw_properties_button));
    EXPECT_FALSE(XtIsSensitive(object_configuration->oc_set_button));
    EXPECT_FALSE(XtIsSensitive(object_configuration->oc_update_button));
    EXPECT_TRUE(XtIsSensitive(object_configuration->oc_close_button));

    Boolean auto_close = True;
    XtVaGetValues(main_window->mw_navigator, XiNautoClose, &auto_close, NULL);
    EXPECT_FALSE(auto_close);
    /* The caption of the attribute form waits unmanaged for its first object. */
    EXPECT_FALSE(XtIsManaged(object_configuration->oc_attribute_caption));
    /* The main shell only is realized; no dialog is up. */
    EXPECT_TRUE(XtIsRealized(main_window->shell()));
    for (Widget box : all_dialogs()) EXPECT_FALSE(XtIsManaged(box)) << XtName(box);
    /* RDN labels are the default, and the preferences start from the start-up values. */
    EXPECT_TRUE(XmToggleButtonGadgetGetState(default_preferences->dp_rdn_tog));
    EXPECT_FALSE(XmToggleButtonGadgetGetState(default_preferences->dp_fdn_toggle));
    char* node = XmTextFieldGetString(default_preferences->dp_default_node);
    EXPECT_STREQ(node, default_root);
    XtFree(node);
}

TEST(Windows, MainWindowRowsFollowTheFormAndTheNavigatorTakesTheSpareHeight)
{
    REQUIRE_WINDOWS();
    Widget shell = main_window->shell();
    pump_for(0.2);
    auto geometry = [](Widget w, Position* x, Position* y, Dimension* wd, Dimension* ht) {
        XtVaGetValues(w, XmNx, x, XmNy, y, XmNwidth, wd, XmNheight, ht, NULL);
    };
    Position px, py, nx, ny, mx, my, lx, ly;
    Dimension pw, ph, nw, nh, mw, mh, lw, lh;
    geometry(main_window->mw_path, &px, &py, &pw, &ph);
    geometry(main_window->mw_navigator_window, &nx, &ny, &nw, &nh);
    geometry(main_window->mw_message_label, &mx, &my, &mw, &mh);
    geometry(main_window->mw_path_label, &lx, &ly, &lw, &lh);
    Dimension fw = 0, fh = 0;
    XtVaGetValues(main_window->mw_form, XmNwidth, &fw, XmNheight, &fh, NULL);

    EXPECT_EQ(lx, 10);
    EXPECT_EQ(px, lx + (Position)lw + 5);
    EXPECT_EQ(py, ly - 5);
    EXPECT_EQ(px + (Position)pw, (Position)fw - 25);
    EXPECT_EQ(ny, py + (Position)ph + 10);
    EXPECT_EQ(nx, 0);
    EXPECT_EQ(nw, fw);
    EXPECT_EQ(ny + (Position)nh, my);
    EXPECT_EQ(my + (Position)mh, (Position)fh);

    /* A taller, wider window gives the navigator the whole difference. */
    Dimension sw = 0, sh = 0;
    XtVaGetValues(shell, XmNwidth, &sw, XmNheight, &sh, NULL);
    XtVaSetValues(shell, XmNwidth, sw + 100, XmNheight, sh + 150, NULL);
    pump_for(0.3);
    Dimension nw2 = 0, nh2 = 0, pw2 = 0;
    XtVaGetValues(main_window->mw_navigator_window, XmNwidth, &nw2, XmNheight, &nh2, NULL);
    XtVaGetValues(main_window->mw_path, XmNwidth, &pw2, NULL);
    EXPECT_EQ(nh2, nh + 150);
    EXPECT_EQ(nw2, nw + 100);
    EXPECT_EQ(pw2, pw + 100);
    XtVaSetValues(shell, XmNwidth, sw, XmNheight, sh, NULL);
    pump_for(0.2);
}

TEST(Windows, ManageLinkShowsAndRaisesADialogThatIsAlreadyUp)
{
    REQUIRE_WINDOWS();
    hide_all_dialogs();
    Widget box = default_preferences->dp_dialog;
    Widget dshell = XtParent(box);

    press(main_window->mw_properties_button);
    ASSERT_TRUE(pump_until([&] { return viewable(dshell); }, 3.0));
    Window first = XtWindow(dshell);

    /* The main window comes to the front; Properties... again brings the
     * same dialog back on top, and makes no second one. */
    XRaiseWindow(display, XtWindow(main_window->shell()));
    pump_for(0.2);
    ASSERT_LT(stacking(dshell), stacking(main_window->shell()));
    press(main_window->mw_properties_button);
    pump_for(0.2);
    EXPECT_GT(stacking(dshell), stacking(main_window->shell()));
    EXPECT_EQ(XtWindow(dshell), first);
    int shells = 0;
    WidgetList popups = main_window->shell()->core.popup_list;
    for (Cardinal i = 0; i < main_window->shell()->core.num_popups; i++)
        if (std::string(XtName(popups[i])) == "default_preferences") shells++;
    EXPECT_EQ(shells, 1);

    XDunmanage_link(nullptr, xd_link(XD_LINK_DEFAULT_PREFERENCES), nullptr);
    EXPECT_TRUE(pump_until([&] { return !viewable(dshell); }, 3.0));

    /* A record that was never set, or none at all, is ignored. */
    XDmanage_link(nullptr, xd_link(XD_LINK_OPEN_VIEW), nullptr);
    XDmanage_link(nullptr, nullptr, nullptr);
    XDunmanage_link(nullptr, nullptr, nullptr);
    XDenable_link(nullptr, nullptr, nullptr);
    EXPECT_FALSE(XtIsManaged(open_view->ov_dialog));
}

TEST(Windows, ConfigurationWindowGivesTheAttributeAreaTheSpareHeight)
{
    REQUIRE_WINDOWS();
    hide_all_dialogs();
    ConfigWin* oc = object_configuration;
    Widget shell = oc->xd_rootwidget();
    oc->xd_show();
    ASSERT_TRUE(pump_until([&] { return viewable(shell); }, 3.0));
    pump_for(0.2);
    auto height = [](Widget w) {
        Dimension h = 0;
        XtVaGetValues(w, XmNheight, &h, NULL);
        return (int)h;
    };
    int top = height(oc->oc_loaded_objects_form), attrs = height(oc->oc_attribute_scrolled_window),
        bottom = height(oc->oc_format_form);
    Dimension sw = 0, sh = 0;
    XtVaGetValues(shell, XmNwidth, &sw, XmNheight, &sh, NULL);
    XtVaSetValues(shell, XmNheight, sh + 120, NULL);
    pump_for(0.3);
    EXPECT_EQ(height(oc->oc_attribute_scrolled_window), attrs + 120);
    EXPECT_EQ(height(oc->oc_loaded_objects_form), top);
    EXPECT_EQ(height(oc->oc_format_form), bottom);
    screenshot(shell, "_taller");
    oc->xd_hide();
    pump_for(0.1);
}

/* A preferences dialog that records, for each operation, whether the
 * dialog was still shown when the operation ran. */
struct RecordingDefaultWin : DefaultWin {
    std::vector<std::string> calls;
    void note(const char* what)
    {
        calls.push_back(std::string(what) + (XtIsManaged(dp_dialog) ? ":shown" : ":hidden"));
    }
    void default_ok_cb(Widget, void*) override { note("ok"); }
    void default_cancel_cb(Widget, void*) override { note("cancel"); }
    void reset_defaults() override { note("default"); }
};

struct RecordingConfigWin : ConfigWin {
    std::vector<std::string> calls;
    void close_window_cb(Widget, XtPointer) override
    {
        calls.push_back(XtIsManaged(oc_dialog) ? "close:shown" : "close:hidden");
    }
    void set_attributes_cb(Widget, XtPointer) override { calls.push_back("set"); }
    void update_image_cb(Widget, XtPointer) override { calls.push_back("update"); }
    void create_object() override { calls.push_back("new class"); }
};

/* Runs f with the link record `which` saved and restored around it, since
 * a second window of a kind takes over its kind's record. */
template <class F> void with_record_saved(int which, F f)
{
    Widget saved = xd_link_records[which];
    f();
    xd_link_records[which] = saved;
}

TEST(Windows, PreferencesButtonsHideBeforeTheirOperationRuns)
{
    REQUIRE_WINDOWS();
    with_record_saved(XD_LINK_DEFAULT_PREFERENCES, [] {
        RecordingDefaultWin win;
        win.create(main_window->shell(), "recording_preferences");
        auto show = [&] {
            XtManageChild(win.dp_dialog);
            pump_for(0.05);
        };
        show();
        press(win.dp_ok_button);
        show();
        press(win.dp_apply_button);
        EXPECT_TRUE(XtIsManaged(win.dp_dialog)); /* Apply leaves it up */
        press(win.dp_cancel_button);
        show();
        press(win.dp_default_button);
        EXPECT_EQ(win.calls, (std::vector<std::string>{"ok:hidden", "ok:shown", "cancel:hidden",
                                                       "default:shown"}));
        win.xd_destroy();
        pump_for(0.05);
    });
}

TEST(Windows, ConfigurationCloseHidesBeforeItsOperationAndTheFieldsReachTheirOperations)
{
    REQUIRE_WINDOWS();
    with_record_saved(XD_LINK_OBJECT_CONFIGURATION, [] {
        RecordingConfigWin win;
        win.create(main_window->shell(), "recording_configuration");
        XtManageChild(win.oc_dialog);
        pump_for(0.05);
        press(win.oc_close_button);
        EXPECT_FALSE(XtIsManaged(win.oc_dialog));
        XtSetSensitive(win.oc_set_button, True);
        XtSetSensitive(win.oc_update_button, True);
        press(win.oc_set_button);
        press(win.oc_update_button);
        XmAnyCallbackStruct cbs = {XmCR_ACTIVATE, nullptr};
        XtCallCallbacks(win.OBJCLASS, XmNactivateCallback, &cbs);
        /* The window manager's close is the Close button. */
        XtManageChild(win.oc_dialog);
        ASSERT_TRUE(pump_until([&] { return viewable(XtParent(win.oc_dialog)); }, 3.0));
        close_from_window_manager(XtParent(win.oc_dialog));
        EXPECT_TRUE(pump_until([&] { return win.calls.size() == 5; }, 3.0));
        EXPECT_EQ(win.calls, (std::vector<std::string>{"close:hidden", "set", "update", "new class",
                                                       "close:hidden"}));
        win.xd_destroy();
        pump_for(0.05);
    });
}

/* Shows each dialog in turn: it must come up with all of its own buttons
 * inside its message box, and Close or Cancel must take it down again. */
TEST(Windows, EveryDialogShowsWithItsButtonRowAndItsCloseButtonHidesIt)
{
    REQUIRE_WINDOWS();
    hide_all_dialogs();
    struct {
        xd_XmDialog_c* win;
        Widget box;
        std::vector<Widget> buttons;
        Widget close;
    } dialogs[] = {
        {action_window,
         action_window->aw_dialog,
         {action_window->aw_ok_button, action_window->aw_cancel_button,
          action_window->aw_help_button},
         action_window->aw_cancel_button},
        {create_object,
         create_object->co_dialog,
         {create_object->co_ok_button, create_object->co_cancel_button,
          create_object->co_help_button},
         create_object->co_cancel_button},
        {output_window,
         output_window->out_dialog,
         {output_window->out_close_button, output_window->out_help_button},
         output_window->out_close_button},
        {selection_window,
         selection_window->sw_dialog,
         {selection_window->sw_select_button, selection_window->sw_close_button,
          selection_window->sw_help_button},
         selection_window->sw_close_button},
        {default_preferences,
         default_preferences->dp_dialog,
         {default_preferences->dp_ok_button, default_preferences->dp_apply_button,
          default_preferences->dp_cancel_button, default_preferences->dp_default_button,
          default_preferences->dp_help_button},
         default_preferences->dp_cancel_button},
        {open_view, open_view->ov_dialog, {}, nullptr},
        {object_configuration,
         object_configuration->oc_dialog,
         {object_configuration->oc_set_button, object_configuration->oc_close_button,
          object_configuration->oc_help_button},
         object_configuration->oc_close_button},
    };
    for (auto& d : dialogs) {
        Widget shell = d.win->xd_rootwidget();
        SCOPED_TRACE(XtName(shell));
        d.win->xd_show();
        ASSERT_TRUE(pump_until([&] { return viewable(shell); }, 3.0));
        pump_for(0.2);
        Dimension bw = 0, bh = 0;
        XtVaGetValues(d.box, XmNwidth, &bw, XmNheight, &bh, NULL);
        Position prev_right = -1;
        for (Widget b : d.buttons) {
            Position x, y;
            Dimension w, h;
            XtVaGetValues(b, XmNx, &x, XmNy, &y, XmNwidth, &w, XmNheight, &h, NULL);
            EXPECT_GE(x, 0) << XtName(b);
            EXPECT_LE(x + (int)w, (int)bw) << XtName(b);
            EXPECT_LE(y + (int)h, (int)bh) << XtName(b);
            EXPECT_GT(x, prev_right) << XtName(b) << " overlaps the button before it";
            prev_right = x + (Position)w;
        }
        screenshot(shell);
        if (d.close) {
            press(d.close);
            EXPECT_TRUE(pump_until([&] { return !viewable(shell); }, 3.0));
        } else {
            d.win->xd_hide();
        }
    }
    hide_all_dialogs();
}

} // namespace
