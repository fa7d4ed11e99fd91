/*
 * data_object.cpp - DataObject, the registry sorted by FDN, the selection
 * list and the look-up functions.
 */
#include "tree/data_object.h"

#include <Xm/Xm.h>

#include <algorithm>
#include <unordered_map>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "core/globals.h"
#include "tree/sorted_merge.h"

DataObjectList DataObject::object_list;
SelectedList DataObject::selected_list;

/* ---------------------------------------------------------------- DataObject */

static unsigned long next_serial = 1;

DataObject::DataObject(const char* n)
    : name(n ? strdup(n) : nullptr), parent_name(nullptr), node(nullptr), num_children(-1),
      selected(false), node_state(XiAlwaysOpen), flags(0), derive_state(0), shown(false),
      shown_parent(nullptr), object_class(nullptr), serial(next_serial++)
{}

DataObject::~DataObject()
{
    free(name);
    destroy_node();
    /* album goes with the object */
}

const Album& DataObject::album() const
{
    static const Album none;
    return album_ ? *album_ : none;
}

void DataObject::set_album(const Album& children)
{
    if (album_)
        *album_ = children;
    else
        album_ = std::make_unique<Album>(children);
}

bool DataObject::operator==(const DataObject& o) const
{
    return name && o.name && strcmp(name, o.name) == 0;
}

bool DataObject::operator<(const DataObject& o) const
{
    return name && o.name && strcmp(name, o.name) < 0;
}

/* ------------------------------------------------------------ DataObjectList */

/* The registry's order: strcmp of the names, an unnamed object after
 * every named one. */
static bool entry_less(const DataObject* a, const DataObject* b)
{
    if (!a->name) return false;
    if (!b->name) return true;
    return strcmp(a->name, b->name) < 0;
}

/* Empty places kept before they are closed together.  Until then a look-up
 * that lands on a run of them steps over it, so the cap also bounds that
 * walk.  A burst of deletions of a large container's children then moves the
 * entries behind them once for thousands of removals, not once each. */
static const size_t MAX_HOLES = 4096;

/* The empty places of each list (in practice the one registry). */
static std::unordered_map<const DataObjectList*, size_t> holes_of;

void DataObjectList::close_holes() const
{
    auto it = holes_of.find(this);
    if (it == holes_of.end()) return;
    holes_of.erase(it);
    auto& items = const_cast<std::vector<DataObject*>&>(items_);
    items.erase(std::remove(items.begin(), items.end(), nullptr), items.end());
}

size_t DataObjectList::entries() const
{
    close_holes();
    return items_.size();
}

void DataObjectList::insert(DataObject* obj)
{
    close_holes();
    /* After every equal entry, so equal names keep their order of arrival. */
    items_.insert(std::upper_bound(items_.begin(), items_.end(), obj, entry_less), obj);
}

void DataObjectList::insert_all(const std::vector<DataObject*>& objs)
{
    close_holes();
    size_t old_size = items_.size();
    items_.insert(items_.end(), objs.begin(), objs.end());
    merge_sorted_tail(items_, old_size, entry_less);
}

long DataObjectList::find_first(const char* fdn) const
{
    if (!fdn) return -1;
    /* A binary search that steps over empty places: a probe looks at the
     * first entry at or after it. */
    size_t lo = 0, hi = items_.size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2, at = mid;
        while (at < hi && !items_[at]) at++;
        if (at < hi && items_[at]->name && strcmp(items_[at]->name, fdn) < 0)
            lo = at + 1;
        else
            hi = mid;
    }
    while (lo < items_.size() && !items_[lo]) lo++;
    if (lo == items_.size() || !items_[lo]->name || strcmp(items_[lo]->name, fdn) != 0) return -1;
    return (long)lo;
}

bool DataObjectList::remove(DataObject* obj)
{
    long pos = find_first(obj->name);
    if (pos < 0) return false;
    for (size_t i = (size_t)pos; i < items_.size(); i++) {
        DataObject* at = items_[i];
        if (!at) continue;
        if (strcmp(at->name, obj->name) != 0) break;
        if (at != obj) continue;
        items_[i] = nullptr;
        if (++holes_of[this] >= MAX_HOLES) close_holes();
        return true;
    }
    return false;
}

void DataObjectList::clear_and_destroy()
{
    std::vector<DataObject*> doomed;
    doomed.swap(items_);
    holes_of.erase(this);
    items_.reserve(64);
    /* The rows go all at once, not one object at a time. */
    forget_all_rows();
    for (DataObject* obj : doomed) delete obj;
}

/* -------------------------------------------------------------- SelectedList */

bool SelectedList::remove(DataObject* obj)
{
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (*it == obj) {
            items_.erase(it);
            return true;
        }
    }
    return false;
}

DataObject* SelectedList::take_first()
{
    if (items_.empty()) return nullptr;
    DataObject* obj = items_.front();
    items_.pop_front();
    return obj;
}

/* ----------------------------------------------------------------- Look-ups */

const char* intern_class(const char* name)
{
    static std::set<std::string> names;
    return names.insert(name ? name : "").first->c_str();
}

const char* intern_name(const char* fdn)
{
    static std::set<std::string> names;
    return names.insert(fdn ? fdn : "").first->c_str();
}

const char* known_class(DataObject* obj)
{
    if (!obj || obj->object_class) return obj ? obj->object_class : nullptr;
    DataObject* parent = find_album_object(obj->parent_name);
    if (!parent || !obj->name) return nullptr;
    DataUnit cls = parent->album().member_class(DataUnit(obj->name));
    if (cls.is_empty()) return nullptr;
    obj->object_class = intern_class(cls.str());
    return obj->object_class;
}

const char* fetch_class(DataObject* obj)
{
    if (const char* cls = known_class(obj)) return cls;
    if (!obj || !obj->name) return nullptr;
    ObjectRef ref(obj);
    Image image(DataUnit(obj->name), DataUnit(), Platform::def_platform);
    DataUnit cls = image.get_objclass(); /* waits */
    DataObject* live = ref.get();
    if (!live) return nullptr;
    /* Once: a class the server cannot tell is not asked for again. */
    live->object_class = intern_class(cls.str());
    return live->object_class;
}

DataObject* find_album_object(const char* fdn)
{
    if (!fdn) return nullptr;
    long pos = DataObject::object_list.find_first(fdn);
    return pos < 0 ? nullptr : DataObject::object_list.at((size_t)pos);
}

DataObject* find_object(Widget node)
{
    if (!node) return nullptr;
    /* A row widget knows the object it shows. */
    if (DataObject* obj = bound_object(node)) return obj;
    DataObjectList& list = DataObject::object_list;
    for (size_t i = 0; i < list.entries(); i++)
        if (list.at(i)->node == node) return list.at(i);
    return nullptr;
}

DataObject* find_selected_object(const char* fdn)
{
    if (!fdn) return nullptr;
    for (DataObject* obj : DataObject::selected_list.items())
        if (obj->name && strcmp(obj->name, fdn) == 0) return obj;
    return nullptr;
}

/* -------------------------------------------------------------------- Texts */

char* derivation_string(const char* fdn, const char* filter)
{
    if (!fdn) fdn = "";
    size_t len = strlen(fdn);
    std::string text = fdn;
    /* "/" and any FDN written with a trailing slash take the star directly. */
    text += (len > 0 && fdn[len - 1] == '/') ? "*" : "/*";
    if (filter && *filter) {
        text += "/CMISFilter(";
        text += filter;
        text += ")";
    }
    return strdup(text.c_str());
}

char* album_nickname(const char* fdn, unsigned int cookie)
{
    std::string text = fdn ? fdn : "";
    text += ".XXNICKYY.";
    text += std::to_string(cookie);
    return strdup(text.c_str());
}

char* nickname_parent(const char* nickname)
{
    char* copy = strdup(nickname ? nickname : "");
    char* cut = strstr(copy, ".XXNICKYY.");
    if (cut) *cut = '\0';
    return copy;
}

const char* node_label(const char* fdn, bool by_fdn)
{
    if (by_fdn) return fdn;
    const char* slash = strrchr(fdn, '/');
    if (!slash || slash[1] == '\0') return fdn;
    return slash + 1;
}
