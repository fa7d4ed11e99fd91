/*
 * natural_order.cpp - numbers inside names compared as numbers, and the
 * navigator's siblings kept in that order.
 */
#include <algorithm>
#include <cstring>
#include <map>
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

DataObject* next_sibling_in_natural_order(const DataObject* obj)
{
    const char* parent = obj->parent_name ? obj->parent_name : "";
    DataObject* next = nullptr;
    for (size_t i = 0; i < DataObject::object_list.entries(); i++) {
        DataObject* other = DataObject::object_list.at(i);
        if (other == obj || !other->node || !other->parent_name ||
            strcmp(other->parent_name, parent) != 0)
            continue;
        if (natural_less(obj, other) && (!next || natural_less(other, next))) next = other;
    }
    return next;
}

void resort_siblings()
{
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
        /* From the last: each goes before the one that follows it. */
        for (size_t i = wanted.size(); i-- > 0;)
            XtVaSetValues(wanted[i]->node, XiNinsertBefore,
                          i + 1 < wanted.size() ? wanted[i + 1]->node : nullptr, NULL);
    }
    XtVaSetValues(outline, XiNrefigureMode, refigure, NULL);
}
