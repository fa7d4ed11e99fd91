/*
 * data_object.cpp - DataObject, the registry sorted by FDN, the selection
 * list and the look-up functions.
 */
#include "tree/data_object.h"

#include <Xm/Xm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "core/globals.h"

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
    free(parent_name);
    destroy_node();
    /* album goes with the object */
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

/* One comparison per probe: the sign of strcmp, with a null name on
 * either side counting as "after" so that it never equals anything, as
 * with the operators. */
static int compare_names(const char* key, const char* item)
{
    if (!key || !item) return 1;
    return strcmp(key, item);
}

size_t DataObjectList::search(const DataObject& key, bool& found) const
{
    found = false;
    if (items_.empty()) return 0;
    long low = 0;
    long high = (long)items_.size() - 1;
    while (low < high) {
        long probe = (low + high) / 2;
        int c = compare_names(key.name, items_[probe]->name);
        if (c == 0) {
            found = true;
            return (size_t)probe;
        }
        if (c < 0) {
            high = probe - 1;
            if (high < 0) high = 0;
        } else {
            low = probe + 1;
        }
    }
    found = *items_[low] == key;
    return (size_t)low;
}

void DataObjectList::insert(DataObject* obj)
{
    bool found;
    size_t pos = search(*obj, found);
    /* After every equal entry, so equal names keep their order of arrival;
     * otherwise past the entries that sort before the new one. */
    if (found) {
        while (pos < items_.size() && *items_[pos] == *obj) pos++;
    } else {
        while (pos < items_.size() && *items_[pos] < *obj) pos++;
    }
    items_.insert(items_.begin() + (long)pos, obj);
}

long DataObjectList::find_first(const char* fdn) const
{
    if (!fdn) return -1;
    DataObject key(fdn);
    bool found;
    size_t pos = search(key, found);
    if (!found) return -1;
    while (pos > 0 && *items_[pos - 1] == key) pos--;
    return (long)pos;
}

bool DataObjectList::remove(DataObject* obj)
{
    long pos = find_first(obj->name);
    if (pos < 0) return false;
    items_.erase(items_.begin() + pos);
    return true;
}

void DataObjectList::clear_and_destroy()
{
    std::vector<DataObject*> doomed;
    doomed.swap(items_);
    items_.reserve(64);
    /* The rows go all at once, not one object at a time. */
    forget_all_rows();
    for (DataObject* obj : doomed) delete obj;
}

/* -------------------------------------------------------------- SelectedList */

void SelectedList::remove(DataObject* obj)
{
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (*it == obj) {
            items_.erase(it);
            return;
        }
    }
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

const char* known_class(DataObject* obj)
{
    if (!obj || obj->object_class) return obj ? obj->object_class : nullptr;
    DataObject* parent = find_album_object(obj->parent_name);
    if (!parent || !obj->name) return nullptr;
    DataUnit cls = parent->album.member_class(DataUnit(obj->name));
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
