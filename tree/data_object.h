/*
 * data_object.h - the in-memory object tree.  PUBLIC HEADER.
 *
 * Every managed object the editor has heard of (the root, the children found
 * by deriving a parent, objects the server reports as created) is one
 * DataObject: its FDN, its parent's FDN, the album of its direct children once
 * derived, and its row in the navigator.
 *
 * The navigator keeps the tree of shown objects itself (shown, shown_parent,
 * shown_children) and has widgets only for the rows in view, reused as the
 * view scrolls: an object's node is the widget that shows its row while the
 * row is in view, and null otherwise, also for a shown object.
 *
 * DataObject::object_list owns every DataObject of the tree and keeps them in
 * ascending strcmp order of their names (equal names stay in insertion
 * order); DataObject::selected_list refers to the selected ones in the order
 * they were selected.
 *
 * EVENT-LOOP RULE: derive() and get_attributes() wait for the server while the
 * Xt loop runs, so any callback may run inside them, the tree rebuild of the
 * default preferences included.  derive() finds its object again after each
 * wait, the blocking error dialogs included (ObjectRef, tree/object_ref.h),
 * and answers 2 when the tree was rebuilt or the object removed: the object
 * may be gone then, and the caller must touch nothing more.  display(),
 * outline_form() and the look-up functions never wait.
 */
#ifndef TREE_DATA_OBJECT_H
#define TREE_DATA_OBJECT_H

#include <X11/Intrinsic.h>
#include <cstddef>
#include <cstdlib>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "XiHierarchy.h"
#include "kvl/kvl.h"
#include "tree/object_ref.h"

class DataObject;

/* The registry: a vector of DataObject pointers sorted by name (objects
 * without a name, which creators never register, after all others).  Owns
 * them.  A container's children come by the hundred thousand: insert_all
 * takes them in one pass, where insert() for each would move the entries
 * behind it every time. */
class DataObjectList {
public:
    DataObjectList() { items_.reserve(64); }

    /* Inserts obj after every entry whose name is equal to or less than its own. */
    void insert(DataObject* obj);
    /* Inserts objs as insert() one by one would (equal names in the order of
     * objs, after equal entries), merging them in: each entry moves once. */
    void insert_all(const std::vector<DataObject*>& objs);
    /* Position of the first entry named like fdn, or -1 (also for a null fdn). */
    long find_first(const char* fdn) const;
    /* Takes obj itself out (its place closed later, with others'); nothing is
     * deleted.  True when obj was an entry.  find_first skips such places. */
    bool remove(DataObject* obj);
    size_t entries() const;                              /* closes the places remove() left first */
    DataObject* at(size_t i) const { return items_[i]; } /* null: a place left */
    size_t slots() const { return items_.size(); }       /* with the places left */
    void clear_and_destroy(); /* deletes every DataObject, empties the list */

private:
    /* Closes the places remove() left. */
    void close_holes() const;
    std::vector<DataObject*> items_;
};

/* The selection: DataObject pointers in the order of selection.  Owns none. */
class SelectedList {
public:
    void append(DataObject* obj) { items_.push_back(obj); }
    /* Takes the first occurrence of obj out; false when it was not there. */
    bool remove(DataObject* obj);
    bool is_empty() const { return items_.empty(); }
    size_t entries() const { return items_.size(); }
    DataObject* first() const { return items_.empty() ? nullptr : items_.front(); }
    DataObject* take_first();
    void clear() { items_.clear(); }
    const std::list<DataObject*>& items() const { return items_; }

private:
    std::list<DataObject*> items_;
};

class DataObject {
public:
    explicit DataObject(const char* name);
    ~DataObject();
    DataObject(const DataObject&) = delete;
    DataObject& operator=(const DataObject&) = delete;

    /* Equal: both names set and strcmp 0.  Less: both set and strcmp < 0.
     * An object without a name is neither equal to nor less than anything. */
    bool operator==(const DataObject& o) const;
    bool operator<(const DataObject& o) const;

    /* Derives this object's children into album and num_children; with depth
     * n > 0 also registers a DataObject for each child and derives it with
     * depth n - 1.  filter: CMIS filter text or null.  0: derived (a server
     * failure is reported in the status line), 1: nothing done (a derivation
     * of this object is under way, or the album is unusable), 2: the tree was
     * rebuilt, or this object removed, during a wait: stop at once, the
     * object may be gone.  Waits. */
    int derive(int depth, const char* filter);
    /* Boots this object into the configuration image `global` (tracked, with
     * ConfigWin::attr_changed_cb for ATTR_CHANGED), drops the pending edits
     * of Attribute::attr_list and returns its attribute names; empty when it
     * cannot be booted.  Waits. */
    DUArray get_attributes();

    /* Shows this object in the navigator and, for depth > 0, its derived
     * children that have a DataObject, to depth levels. */
    void display(int depth);
    /* Gives this object its row: closed for depth 0, open otherwise, under
     * its parent's row, among its siblings in sibling order. */
    void outline_form(int depth);
    void vertical_form(int depth);
    void horizontal_form(int depth);

    char* name;              /* FDN as the server writes it; owned; sort key */
    const char* parent_name; /* FDN of the parent, "" for the root; from
                              * intern_name, shared by the siblings */
    Widget node;             /* the navigator's row widget showing this object
                              * while its row is in view, else null; the
                              * navigator owns the widget and rebinds it */
    int num_children;        /* -1 never derived, else the known children */
    bool selected;           /* true exactly while in selected_list */

    XiHierarchyNodeState node_state; /* 0 none recorded, 1 open, 2 closed */
    unsigned int flags;              /* DERIVING while derive() runs */
    int derive_state;                /* 0 never, 1 started, 2 returned */
    bool shown;                      /* has a row in the navigator, in view or not */
    DataObject* shown_parent;        /* the shown parent it is shown under, or null */
    const char* object_class;        /* its class once known ("" when the server
                                      * could not tell), else null; from
                                      * intern_class, not owned */
    /* The shown children, in sibling order; a null is the place of a row
     * taken out, closed once the rows are next listed. */
    std::vector<DataObject*> shown_children;
    /* Different for every DataObject made in the run: tells an object from
     * a later one of the same name at the same address (ObjectRef). */
    const unsigned long serial;

    enum { DERIVING = 1 };

    /* The direct children of the last derivation; an empty album before
     * the first.  A container's leaves are never derived and carry none. */
    const Album& album() const;
    void set_album(const Album& children);

    /* Takes this object's row, and the rows of its shown descendants, out of
     * the navigator; clears node. */
    void destroy_node();
    /* Its shown children: shown_children less the places of rows taken out. */
    size_t shown_count() const;
    /* destroyCallback of a row widget (client: the row's DataObject):
     * clears node of its object. */
    static void node_destroyed_cb(Widget w, XtPointer client, XtPointer call_data);

    static DataObjectList object_list;
    static SelectedList selected_list;

private:
    std::unique_ptr<Album> album_; /* null until derived */
};

/* One copy of each class name for all objects of the class: a container
 * may hold 100,000 children of one class.  Never null. */
const char* intern_class(const char* name);
/* One copy of each parent's FDN for all its children (null: ""); kept
 * for the run, as the parents are few.  Never null. */
const char* intern_name(const char* fdn);

/* The class of obj: kept, or taken from its parent's album, which received
 * each member's class with the derivation or the creation report; null
 * when neither knows it.  Never waits. */
const char* known_class(DataObject* obj);
/* The same, asking the server once when neither knows it.  Waits; null
 * when the tree was rebuilt or obj removed meanwhile (obj is not touched
 * then). */
const char* fetch_class(DataObject* obj);

/* The first registered object named fdn; null for a null fdn or none. */
DataObject* find_album_object(const char* fdn);
/* The registered object whose row node shows now; or null. */
DataObject* find_object(Widget node);
/* The first selected object, from the head, named fdn; or null. */
DataObject* find_selected_object(const char* fdn);

/* derive(0, filter) of every object of objs with one wait: their requests
 * go to the server together.  An object already being derived is left to
 * that derivation.  After the wait the entries of objects removed meanwhile
 * are null; 2 when the tree was rebuilt (objs may all be gone), else 0.  A
 * failure shows in the status line once for all.  Waits. */
int derive_together(std::vector<DataObject*>& objs, const char* filter);

/* The texts of a derivation: fdn, "/" and a star (only the star when fdn
 * ends with '/'),
 * then "/CMISFilter(<filter>)" for a non-empty filter; and the album
 * nickname "<fdn>.XXNICKYY.<cookie>". */
char* derivation_string(const char* fdn, const char* filter);
char* album_nickname(const char* fdn, unsigned int cookie);
/* Cuts a nickname at its first ".XXNICKYY.": the parent's FDN.  Caller frees. */
char* nickname_parent(const char* nickname);

/* Between these two, the rows that come and go are shown together, in one
 * placing of the rows in view, when the outermost batch ends.  Batches nest. */
void node_batch_begin();
void node_batch_end();
/* Opens a batch that closes by itself a moment later (or does nothing when
 * such a batch is open already): the server's reports come in bursts, and
 * the rows one burst adds or removes are shown together. */
void node_batch_briefly();

/* The navigator's rows: every shown object, depth first, the children of
 * open objects after them.  Never waits. */
size_t row_count();
/* The shown object on row `row`, or null past the last row. */
DataObject* row_object(size_t row);
/* The row of a shown object, or -1. */
long object_row(DataObject* obj);
/* Scrolls the navigator so that a shown object's row is in view. */
void show_object_row(DataObject* obj);
/* The rows changed (an object shown, hidden, opened or closed): they are
 * shown again now, or when the open batch ends. */
void rows_changed();
/* The object a row widget of the navigator shows now, or null. */
DataObject* bound_object(Widget node);
/* Takes every row out of the navigator at once (before the tree is
 * dropped). */
void forget_all_rows();

/* Owners of text from malloc (strdup and the texts above) and from Xt
 * (XtMalloc, XtNewString, XmStringUnparse). */
struct FreeText {
    void operator()(char* p) const { free(p); }
};
struct XtFreeText {
    void operator()(char* p) const { XtFree(p); }
};
using MallocText = std::unique_ptr<char, FreeText>;
using XtText = std::unique_ptr<char, XtFreeText>;

/* The label of a node for fdn: the whole FDN with FDN labels, else the text
 * after its last '/' (the whole FDN when it has no '/' or ends with one).
 * Points into fdn. */
const char* node_label(const char* fdn, bool by_fdn);

#endif /* TREE_DATA_OBJECT_H */
