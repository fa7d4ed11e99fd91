/*
 * derive.cpp - asks the server for an object's children (DataObject::derive)
 * and registers the album callbacks through which it later reports children
 * created and destroyed.  The children of an object opened in the navigator
 * are shown as their pages come, and Escape or Edit > Stop ends the
 * derivation there.
 */
#include <X11/keysym.h>
#include <Xm/PushB.h>
#include <Xm/Separator.h>
#include <Xm/Xm.h>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/catalog.h"
#include "kvl/album_pages.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "ui/busy_cursor.h"
#include "ui/dialogs.h"
#include "ui/window_util.h"
#include "ui/main_win.h"

/* The modal error dialog on the main window's form. */
static void derive_error(const std::string& text)
{
    if (main_window && main_window->mw_form)
        error_dialog(main_window->mw_form, bounded_label(text.c_str()).c_str());
    else
        printf("%s\n", text.c_str());
}

/* Sets ACTUAL_CLASS on album, reporting a refusal (a dialog: it waits). */
static void set_actual_class(Album& album, const char* objclass)
{
    if (!album.set_prop(ACTUAL_CLASS, DataUnit(objclass)))
        derive_error(std::string(qx_msg(210, "ActualClass set_prop_failed ")) + " " +
                     album.get_error_string());
}

/* A derivation of one object: its album, made and set up, and the way back
 * to the object after each wait. */
struct Derivation {
    ObjectRef ref;
    std::string shown; /* the derivation string, as the status line shows it */
    Album album;
    size_t at = 0; /* derive_together: the object's place in its list */
};

/* Sets up d's album for obj and marks obj's derivation as started.  The
 * class asked of the server and the error dialogs wait, and obj is found
 * again after each of them.  1: the album is unusable (obj still there);
 * 2: the tree was rebuilt or obj removed during a wait (obj is not touched
 * again); 0: ready to derive. */
static int derive_prepare(DataObject* obj, const char* filter, Derivation& d)
{
    MallocText derivation(derivation_string(obj->name, filter));
    MallocText nickname(album_nickname(obj->name, CurrentCookie));
    d.ref = ObjectRef(obj);
    d.shown = std::string(derivation.get()).substr(0, 200);
    const unsigned int cookie = CurrentCookie;

    Album local(DataUnit(nickname.get()), Platform::def_platform);
    if (local.get_error_type() != 0) return 1;
    local.set_prop(TRACKMODE, TRACK);

    if (user_object_class && *user_object_class && obj->name) {
        const char* uname = user_object_name ? user_object_name : "";
        const std::string& name = d.ref.name();
        if (name == uname) {
            set_actual_class(local, user_object_class);
        } else if (strstr(name.c_str(), uname)) {
            Image img(DataUnit(name.c_str()), DataUnit(), Platform::def_platform);
            DataUnit objclass = img.get_objclass(); /* waits */
            if (!d.ref.get()) return 2;
            if (img.get_error_type() != 0)
                derive_error(std::string(qx_msg(211, "ObjectClass error in ")) + " " + name + " " +
                             img.get_error_string());
            else
                set_actual_class(local, objclass.str());
        }
        obj = d.ref.get(); /* after a dialog, if one came */
        if (!obj) return 2;
    }

    void* client = (void*)(uintptr_t)cookie;
    local.when(OBJECT_DESTROYED, Callback(SchedContext::current(), object_excluded_cb, client));
    local.when(OBJECT_CREATED, Callback(SchedContext::current(), object_included_cb, client));

    if (!local.set_derivation(DataUnit(derivation.get()))) {
        derive_error(std::string(qx_msg(201, "SET_DERIVATION FAILED ")) + " " +
                     local.get_error_string());
        return d.ref.get() ? 1 : 2;
    }
    local.reset_error(); /* from here on an error is the derivation's */
    d.album = local;
    obj->derive_state = 1;
    return 0;
}

/* Takes the derived album into obj, d's object as found again after the
 * wait; a failure goes to the status line when report is set. */
static void derive_finish(Derivation& d, DataObject* obj, bool report = true)
{
    if (report && d.album.get_error_type() != 0) {
        std::string text = std::string(d.album.get_error_string()) + " FDN:" + d.shown;
        status_line(text.c_str(), d.shown.c_str());
    }
    obj->derive_state = 2;
    obj->set_album(d.album);
    obj->num_children = obj->album().num_images();
}

/* ------------------------------------------------------------ pages and stop */

/* Set by Escape and Edit > Stop while derivations run: each stops at its next
 * page.  Cleared when the outermost one ends. */
static bool stop_asked = false;
static int derivations_running = 0;

static void stop_derivation_cb(Widget, XtPointer, XtPointer)
{
    if (derivations_running > 0) stop_asked = true;
}

/* Edit > Stop, made the first time a derivation runs: sensitive while one
 * does. */
static Widget stop_button()
{
    static Widget button = nullptr;
    if (button || !main_window || !main_window->mw_edit_pulldown) return button;
    XtCreateManagedWidget("mw_stop_separator", xmSeparatorWidgetClass,
                          main_window->mw_edit_pulldown, nullptr, 0);
    button = labelled(xmPushButtonWidgetClass, main_window->mw_edit_pulldown, "mw_stop_button", 962,
                      "Stop", 't');
    /* Escape is watched by the derivation itself, wherever the focus is. */
    XmString key = XmStringCreateLocalized(const_cast<char*>(qx_msg(964, "Esc")));
    XtVaSetValues(button, XmNacceleratorText, key, XmNsensitive, False, NULL);
    XmStringFree(key);
    XtAddCallback(button, XmNactivateCallback, stop_derivation_cb, nullptr);
    return button;
}

/* Escape pressed anywhere in the editor, from construction to destruction,
 * asks the derivations to stop; the key goes to no widget then.  Edit > Stop
 * is sensitive as long. */
class DeriveStopWatch {
public:
    DeriveStopWatch()
    {
        if (derivations_running++ > 0 || !main_window || !main_window->mw_form) return;
        display_ = XtDisplay(main_window->mw_form);
        previous_ = XtSetEventDispatcher(display_, KeyPress, dispatch);
        if (Widget stop = stop_button()) XtSetSensitive(stop, True);
    }
    ~DeriveStopWatch()
    {
        if (--derivations_running > 0) return;
        stop_asked = false;
        if (!display_) return;
        XtSetEventDispatcher(display_, KeyPress, previous_);
        if (Widget stop = stop_button()) XtSetSensitive(stop, False);
    }
    DeriveStopWatch(const DeriveStopWatch&) = delete;
    DeriveStopWatch& operator=(const DeriveStopWatch&) = delete;

private:
    static Boolean dispatch(XEvent* event)
    {
        if (XLookupKeysym(&event->xkey, 0) == XK_Escape) {
            stop_asked = true;
            return True;
        }
        return previous_ ? previous_(event) : XtDispatchEvent(event);
    }

    Display* display_ = nullptr;
    static XtEventDispatchProc previous_;
};

XtEventDispatchProc DeriveStopWatch::previous_ = nullptr;

/* n with the catalogue's thousands separator: "1,000,000". */
static std::string group_digits(long n)
{
    std::string digits = std::to_string(n < 0 ? -n : n), out = n < 0 ? "-" : "";
    const char* sep = qx_msg(963, ",");
    for (size_t i = 0; i < digits.size(); i++) {
        out += digits[i];
        size_t left = digits.size() - i - 1;
        if (left > 0 && left % 3 == 0) out += sep;
    }
    return out;
}

/* printf into a string (the catalogue's formats). */
[[gnu::format(printf, 1, 2)]] static std::string text(const char* format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    std::string out(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0) vsnprintf(&out[0], out.size() + 1, format, again);
    va_end(again);
    return out;
}

/* "Deriving <fdn>: <received> of <of>" (without "of" when the server gave no
 * count), or that it stopped there. */
static std::string progress_text(bool stopped, const char* fdn, long received, long of)
{
    std::string got = group_digits(received), all = group_digits(of);
    if (stopped)
        return text(
            qx_msg(961, "Stopped deriving %s: %s of %s kept; open it again to derive the rest"),
            fdn, got.c_str(), all.c_str());
    if (of > 0) return text(qx_msg(960, "Deriving %s: %s of %s"), fdn, got.c_str(), all.c_str());
    return text(qx_msg(965, "Deriving %s: %s"), fdn, got.c_str());
}

/* What the page callback of a navigator's opening needs between pages. */
struct PageShow {
    ObjectRef ref; /* the object being derived */
    unsigned int cookie;
    Album album;                      /* its album: the set being filled */
    std::vector<DataObject*> waiting; /* made for new children, not yet registered */
    unsigned long removals = 0;       /* the album's removals when the first of them was made */
    std::chrono::steady_clock::time_point next_show;
    long received = 0, of = 0, pages = 0;
};

/* How often the rows and the status line follow the pages. */
static const std::chrono::milliseconds SHOW_PERIOD(250);

/* Registers and shows the children made for the pages so far: one merge
 * into the registry and one placing of the rows for many pages.  A child
 * deleted since its page came is dropped, one known meanwhile (a creation
 * report) is left to its own row. */
static void show_waiting(PageShow& ps, DataObject* obj)
{
    std::vector<DataObject*> fresh, to_show;
    fresh.reserve(ps.waiting.size());
    /* Each child is looked up in the set only when some member has left it since. */
    bool any_gone = album_removals(ps.album) != ps.removals;
    for (DataObject* child : ps.waiting) {
        DataObject* known = find_album_object(child->name);
        if (known || (any_gone && ps.album.member_class(DataUnit(child->name)).is_empty())) {
            if (known && !known->shown) to_show.push_back(known);
            delete child;
            continue;
        }
        fresh.push_back(child);
    }
    ps.waiting.clear();
    DataObject::object_list.insert_all(fresh);
    if (!obj->shown || obj->node_state != XiOpen) return;
    node_batch_begin();
    for (DataObject* child : fresh) child->display(0);
    for (DataObject* child : to_show) child->display(0);
    node_batch_end();
}

/* An Escape already in the display's queue: pages read in one gulp are shown
 * one after another without the event loop running between them, so the key
 * is taken from the queue here rather than left for the next dispatch. */
static Bool is_escape(Display*, XEvent* event, XPointer)
{
    return event->type == KeyPress && XLookupKeysym(&event->xkey, 0) == XK_Escape;
}

static bool escape_waiting()
{
    if (!main_window || !main_window->mw_form) return false;
    XEvent event;
    return XCheckIfEvent(XtDisplay(main_window->mw_form), &event, is_escape, nullptr);
}

/* The page callback: makes a DataObject for each new child, and shows them
 * with the progress in the status line on the first page and then a few
 * times a second.  Runs during derive()'s wait: the tree may have been
 * rebuilt or the object removed meanwhile, which stops the derivation. */
static bool show_page_cb(void* client, const AlbumPage& page)
{
    PageShow& ps = *static_cast<PageShow*>(client);
    DataObject* obj = CurrentCookie == ps.cookie ? ps.ref.get() : nullptr;
    if (!obj) return false;
    /* Rows only for an object open in the navigator; a derivation for its
     * count alone registers nothing. */
    bool rows = obj->shown && obj->node_state == XiOpen;
    const char* parent = intern_name(obj->name);
    if (ps.waiting.empty()) ps.removals = album_removals(ps.album);
    for (AlbumImage ai = rows ? page.first : AlbumImage(); ai; ai.next_image()) {
        DataUnit fdn = ai->get_objname();
        if (fdn.is_empty()) continue;
        DataObject* child = new DataObject(fdn.str());
        child->parent_name = parent;
        ps.waiting.push_back(child);
    }
    ps.received = page.received;
    ps.of = page.of;
    if (!stop_asked && !page.done && escape_waiting()) stop_asked = true;
    auto now = std::chrono::steady_clock::now();
    bool first = ps.pages++ == 0;
    if (first || now >= ps.next_show || page.done || stop_asked) {
        show_waiting(ps, obj);
        if (!page.done)
            status_line(progress_text(false, obj->name, ps.received, ps.of).c_str(), obj->name);
        ps.next_show = now + SHOW_PERIOD;
    }
    return !stop_asked;
}

/* The work of derive() once DERIVING is set.  After every wait obj is found
 * again through its ObjectRef; 2 when it is gone or the tree was rebuilt,
 * and obj is not touched again then. */
static int derive_locked(DataObject* obj, int depth, const char* filter)
{
    Derivation d;
    int ready = derive_prepare(obj, filter, d);
    if (ready != 0) return ready;
    const std::string own_name = d.ref.name();
    const unsigned int cookie = CurrentCookie;
    if (depth < 1) {
        /* The rows follow the pages; Escape and Stop end it with the rows
         * that came, and the object counts as not derived then, so that
         * opening it again derives it again. */
        PageShow ps{d.ref, cookie, d.album, {}, 0, {}};
        {
            DeriveStopWatch watch;
            BusyCursor busy(main_window ? main_window->shell() : nullptr);
            set_page_callback(d.album, show_page_cb, &ps);
            d.album.derive(DeriveTimeout); /* waits */
            set_page_callback(d.album, nullptr, nullptr);
        }
        obj = CurrentCookie == cookie ? d.ref.get() : nullptr;
        for (DataObject* child : ps.waiting) /* the pages after the last showing */
            if (!obj) delete child;
        if (!obj) return 2;
        if (d.album.get_error_type() == KVL_ERR_STOPPED) {
            show_waiting(ps, obj);
            derive_finish(d, obj, false);
            obj->derive_state = 0;
            status_line(progress_text(true, obj->name, ps.received, ps.of).c_str(), obj->name);
            return 0;
        }
        derive_finish(d, obj);
        show_waiting(ps, obj);
        return 0;
    }
    d.album.derive(DeriveTimeout); /* waits */
    obj = d.ref.get();
    if (!obj) return 2;
    derive_finish(d, obj);
    Album local = d.album;

    /* The children are registered together (this walk does not wait),
     * then derived in the album's order.  Those walks do not touch obj: a
     * child's derivation waits, and obj may be removed meanwhile. */
    std::vector<DataObject*> children;
    for (AlbumImage ai = local.first_image(); ai; ai.next_image()) {
        DataUnit fdn = ai->get_objname();
        if (fdn.is_empty()) continue;
        DataObject* child = new DataObject(fdn.str());
        child->parent_name = intern_name(own_name.c_str());
        children.push_back(child);
    }
    DataObject::object_list.insert_all(children);
    if (depth < 2) return 0;
    /* A child may go during a sibling's wait: each is found again. */
    std::vector<ObjectRef> refs(children.begin(), children.end());
    for (const ObjectRef& ref : refs) {
        if (CurrentCookie != cookie) {
            printf("DEBUG : DataObject::derive()11 : Invalid stack\n");
            return 2;
        }
        DataObject* child = ref.get();
        if (!child) continue;
        int result = child->derive(depth - 1, filter);
        if (CurrentCookie != cookie) {
            if (result != 2)
                printf("DEBUG : DataObject::derive() : Invalid stack %s\n", own_name.c_str());
            return 2;
        }
        /* 2 in the same generation: the child was removed while it
         * waited; its siblings go on. */
    }
    /* The children's waits may have seen obj itself removed. */
    if (depth > 1 && !d.ref.get()) return 2;
    return 0;
}

int DataObject::derive(int depth, const char* filter)
{
    if (flags & DERIVING) return 1;
    flags |= DERIVING;
    int result = derive_locked(this, depth, filter);
    /* With 2 this object may be gone: a rebuild or its removal.  0 and 1
     * come only from an object derive_locked found again after its last
     * wait. */
    if (result != 2) flags &= ~DERIVING;
    fflush(stdout);
    return result;
}

int derive_together(std::vector<DataObject*>& objs, const char* filter)
{
    const unsigned int cookie = CurrentCookie;
    std::vector<ObjectRef> refs;
    refs.reserve(objs.size());
    for (DataObject* obj : objs) refs.emplace_back(obj);
    std::vector<Derivation> started;
    for (size_t i = 0; i < objs.size(); i++) {
        /* A wait for an earlier object's class, or a dialog, may have seen
         * this one go. */
        DataObject* obj = refs[i].get();
        if (CurrentCookie != cookie) return 2;
        if (!obj) {
            objs[i] = nullptr;
            continue;
        }
        if (obj->flags & DataObject::DERIVING) continue; /* derived elsewhere now */
        obj->flags |= DataObject::DERIVING;
        Derivation d;
        int ready = derive_prepare(obj, filter, d);
        if (CurrentCookie != cookie) return 2;
        if (ready == 2) continue; /* obj removed during a wait of its own */
        if (ready == 1) {
            obj->flags &= ~DataObject::DERIVING; /* 1: obj is still there */
            continue;
        }
        d.at = i;
        started.push_back(std::move(d));
    }
    std::vector<Album*> albums;
    albums.reserve(started.size());
    for (Derivation& d : started) albums.push_back(&d.album);
    Album::derive_all(albums.data(), albums.size(), DeriveTimeout); /* waits */
    if (CurrentCookie != cookie) return 2;
    /* Any of them, derived here or not, may have been removed meanwhile. */
    for (size_t i = 0; i < objs.size(); i++)
        if (objs[i]) objs[i] = refs[i].get();
    std::string failure, failed_at;
    for (Derivation& d : started) {
        DataObject* obj = objs[d.at];
        if (!obj) continue;
        bool failed = d.album.get_error_type() != 0;
        if (failed && failure.empty()) {
            failure = std::string(d.album.get_error_string()) + " FDN:" + d.shown;
            failed_at = d.shown;
        }
        derive_finish(d, obj, false); /* one status line for the lot, below */
        obj->flags &= ~DataObject::DERIVING;
    }
    if (!failure.empty()) status_line(failure.c_str(), failed_at.c_str());
    fflush(stdout);
    return 0;
}
