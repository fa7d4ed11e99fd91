/* globals.cpp - the editor's application-wide state and GlobalVars. */
#include "core/globals.h"

#include <Xm/Xm.h>

#include "kvl/cut_text.h"

static char initial_root[] = "/";
static char initial_scope[] = "2";
static char initial_filter[] = "";
static char initial_user_class[] = "";
static char initial_user_name[] = "";

char* platform_host = nullptr;
char* default_root = initial_root;
int default_scope = 2;
char* default_scope_string = initial_scope;
char* default_filter = initial_filter;
char* current_filter = nullptr;
double DeriveTimeout = 300.0;
int file_desc = 0;

int display_format = 1;
int sort_on = 1;
bool fdn_name = false;
bool natural_order = false;
unsigned int CurrentCookie = 0;
char* user_object_class = initial_user_class;
char* user_object_name = initial_user_name;
int std_form = 65542;

Platform platform;
DataObject* root = nullptr;
GlobalVars global;

MainWin* main_window = nullptr;
ActionWin* action_window = nullptr;
CreateWin* create_object = nullptr;
SelectWin* selection_window = nullptr;
DefaultWin* default_preferences = nullptr;
OpenWin* open_view = nullptr;
ConfigWin* object_configuration = nullptr;
OutputWin* output_window = nullptr;

XtAppContext app_context = nullptr;
Display* display = nullptr;
Pixel fg = 0, bg = 0;
XtHelp* help = nullptr;

nl_catd catd = (nl_catd)-1;

GlobalVars::GlobalVars() : Image() {}

GlobalVars::~GlobalVars() {}

void GlobalVars::update_label(Widget w, const char* text)
{
    if (!w) return;
    std::string shown = bounded_label(text);
    XmString s = XmStringCreateLocalized(const_cast<char*>(shown.c_str()));
    XtVaSetValues(w, XmNlabelString, s, NULL);
    XmStringFree(s);
}

std::string bounded_label(const char* text)
{
    return kvl_cut_text(text ? text : "", MAX_LABEL_TEXT);
}
