/*
 * natural_order.cpp - numbers inside names compared as numbers, and the
 * navigator's siblings kept in that order.
 */
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "XiHierarchy.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/natural_order.h"
#include "ui/main_win.h"

static bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

int natural_compare(const char* a, const char* b)
{
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    const unsigned char* p = (const unsigned char*)a;
    const unsigned char* q = (const unsigned char*)b;
    while (*p && *q) {
        if (is_digit(*p) && is_digit(*q)) {
            /* Leading zeros carry no value; then the longer run is the
             * larger number, and runs of one length compare digit by digit. */
            while (*p == '0' && is_digit(p[1])) p++;
            while (*q == '0' && is_digit(q[1])) q++;
            size_t lp = 0, lq = 0;
            while (is_digit(p[lp])) lp++;
            while (is_digit(q[lq])) lq++;
            if (lp != lq) return lp < lq ? -1 : 1;
            int c = memcmp(p, q, lp);
            if (c != 0) return c;
            p += lp;
            q += lq;
            continue;
        }
        if (*p != *q) return *p < *q ? -1 : 1;
        p++;
        q++;
    }
    if (*p || *q) return *p ? 1 : -1;
    return strcmp(a, b);
}

static bool natural_less(const DataObject* x, const DataObject* y)
{
    return natural_compare(x->name, y->name) < 0;
}

/* The names of the shown children of each parent, in natural order, so that
 * a new row finds its place without a walk through the whole registry (a
 * walk per row made opening 10,000 children twenty times slower).  Filled
 * from the registry when a parent is first asked about, and kept up as
 * rows are placed; a name whose object is gone, or no longer shown, is
 * dropped when met.  Emptied when the tree is rebuilt and when the order
 * is switched. */
struct NaturalLess {
    bool operator()(const std::string& x, const std::string& y) const
    {
        return natural_compare(x.c_str(), y.c_str()) < 0;
    }
};
static std::map<std::string, std::set<std::string, NaturalLess>> shown_children;
static unsigned int shown_children_cookie = 0;

static bool shown_under(const DataObject* obj, const std::string& parent)
{
    return obj && obj->node && obj->parent_name && parent == obj->parent_name;
}

DataObject* next_sibling_in_natural_order(const DataObject* obj)
{
    if (shown_children_cookie != CurrentCookie) {
        shown_children.clear();
        shown_children_cookie = CurrentCookie;
    }
    const std::string parent = obj->parent_name ? obj->parent_name : "";
    auto found = shown_children.find(parent);
    if (found == shown_children.end()) {
        found = shown_children.emplace(parent, std::set<std::string, NaturalLess>()).first;
        for (size_t i = 0; i < DataObject::object_list.entries(); i++) {
            DataObject* other = DataObject::object_list.at(i);
            if (other != obj && shown_under(other, parent)) found->second.insert(other->name);
        }
    }
    std::set<std::string, NaturalLess>& names = found->second;
    DataObject* next = nullptr;
    auto it = names.upper_bound(obj->name);
    while (it != names.end() && !next) {
        DataObject* other = find_album_object(it->c_str());
        if (other != obj && shown_under(other, parent))
            next = other;
        else
            it = names.erase(it);
    }
    /* The caller gives obj its row now. */
    names.insert(obj->name);
    return next;
}

/* Moves the rows of one family from the order current to the order wanted.
 * Every move costs the outline a pass over all its rows, so only the rows
 * off a longest run that already stands in the wanted order move: between
 * FDN and natural order that run holds most of them (all the numbers of
 * one width).  From the last: each moved row goes just before the row that
 * follows it in the wanted order, which is in place already. */
static void move_rows(const std::vector<DataObject*>& current,
                      const std::vector<DataObject*>& wanted)
{
    std::map<const DataObject*, size_t> rank;
    for (size_t i = 0; i < wanted.size(); i++) rank[wanted[i]] = i;
    /* Longest increasing run of wanted ranks along the current order
     * (patience sorting): tails[k] is the current index that ends the best
     * run of length k + 1, back[] links each index to its predecessor. */
    std::vector<size_t> tails, back(current.size(), SIZE_MAX);
    for (size_t i = 0; i < current.size(); i++) {
        size_t r = rank[current[i]];
        auto at = std::lower_bound(tails.begin(), tails.end(), r,
                                   [&](size_t t, size_t v) { return rank[current[t]] < v; });
        if (at != tails.begin()) back[i] = *(at - 1);
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> stays(wanted.size(), false);
    for (size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = back[i])
        stays[rank[current[i]]] = true;
    for (size_t i = wanted.size(); i-- > 0;)
        if (!stays[i])
            XtVaSetValues(wanted[i]->node, XiNinsertBefore,
                          i + 1 < wanted.size() ? wanted[i + 1]->node : nullptr, NULL);
}

void resort_siblings()
{
    shown_children.clear();
    Widget outline = main_window ? main_window->mw_navigator : nullptr;
    if (!outline) return;
    /* The shown children of each parent, in the registry's (FDN) order. */
    std::map<std::string, std::vector<DataObject*>> families;
    for (size_t i = 0; i < DataObject::object_list.entries(); i++) {
        DataObject* obj = DataObject::object_list.at(i);
        if (obj->node && obj->parent_name && *obj->parent_name)
            families[obj->parent_name].push_back(obj);
    }
    Boolean refigure = True;
    XtVaGetValues(outline, XiNrefigureMode, &refigure, NULL);
    XtVaSetValues(outline, XiNrefigureMode, False, NULL);
    for (auto& family : families) {
        const std::vector<DataObject*>& kids = family.second;
        std::vector<DataObject*> natural = kids;
        std::stable_sort(natural.begin(), natural.end(), natural_less);
        /* Where both orders agree the rows stand right whichever was asked
         * for; elsewhere they stand in the other order. */
        if (natural == kids) continue;
        const std::vector<DataObject*>& wanted = natural_order ? natural : kids;
        const std::vector<DataObject*>& current = natural_order ? kids : natural;
        move_rows(current, wanted);
    }
    XtVaSetValues(outline, XiNrefigureMode, refigure, NULL);
}
