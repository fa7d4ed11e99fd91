/*
 * bench_registry.cpp - the object registry and the sibling order alone, at
 * sizes the server cannot answer in one reply: no server, no display.
 *
 * For each size N it registers N children of one container, behind which
 * 1,000 other objects are registered already (the rest of a network), and
 * times:
 *   one by one  DataObjectList::insert for each child (skipped when it
 *               would move more than 2e10 entries: the figure it would
 *               take is printed instead);
 *   together    DataObjectList::insert_all, as opening the container does;
 * both for children in FDN order (as qx_mis sends them) and in a shuffled
 * order (as a directory may); then showing the children in natural order
 * (numbers as numbers, so FDN order is out of order) until the rows are
 * listed; bursts of 2,000 creations and of 2,000 deletions, 100 to a
 * batch, under the open container; and the heap per child of the registry
 * and the shown rows (DataObject, its names, the registry and row entries;
 * not the library's album).  Asserts nothing.
 *
 *     bench_registry [N ...]      (100000 and 1000000 by default)
 */
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

#include "../bench_network.h"
#include "core/globals.h"
#include "tree/data_object.h"

using namespace qxbench;

static const std::string box = log_fdn("big");

static std::string child_name(int i)
{
    return box + "/logRecordId=" + std::to_string(i);
}

static DataObject* make(const std::string& name, const std::string& parent)
{
    auto* obj = new DataObject(name.c_str());
    obj->parent_name = intern_name(parent.c_str());
    return obj;
}

/* A fresh registry: the container, shown and open, and the 1,000 objects
 * that sort after it and its children. */
static DataObject* fresh_registry()
{
    DataObject::object_list.clear_and_destroy();
    DataObject* container = make(box, "");
    DataObject::object_list.insert(container);
    std::vector<DataObject*> rest;
    for (int i = 0; i < 1000; i++) rest.push_back(make(log_fdn("other" + std::to_string(i)), ""));
    DataObject::object_list.insert_all(rest);
    container->display(1);
    return container;
}

static std::vector<DataObject*> children(int n, bool shuffled)
{
    std::vector<DataObject*> out;
    out.reserve((size_t)n);
    for (int i = 1; i <= n; i++) out.push_back(make(child_name(i), box));
    /* Server order is FDN order: "1", "10", "100", ... */
    std::sort(out.begin(), out.end(),
              [](const DataObject* a, const DataObject* b) { return strcmp(a->name, b->name) < 0; });
    if (shuffled) std::shuffle(out.begin(), out.end(), std::mt19937(42));
    return out;
}

static void registering(int n)
{
    for (int shuffled = 0; shuffled < 2; shuffled++) {
        const char* order = shuffled ? "shuffled order" : "FDN order";
        /* Entries one insert moves: those behind its place. */
        double moves = shuffled ? (double)n * n / 4 + 1000.0 * n : 1000.0 * n;
        fresh_registry();
        std::vector<DataObject*> objs = children(n, shuffled);
        if (moves <= 2e10) {
            auto t = Clock::now();
            for (DataObject* obj : objs) DataObject::object_list.insert(obj);
            printf("  register %d children in %s one by one: %.1f ms\n", n, order, ms_since(t));
            fresh_registry();
            objs = children(n, shuffled);
        } else {
            printf("  register %d children in %s one by one: not run (%.1e entries moved)\n", n,
                   order, moves);
        }
        auto t = Clock::now();
        DataObject::object_list.insert_all(objs);
        printf("  register %d children in %s together: %.1f ms\n", n, order, ms_since(t));
    }
}

/* The container's children shown as opening it shows them, in FDN order,
 * with natural order on; then bursts of creations and deletions. */
static void showing(int n)
{
    DataObject* container = fresh_registry();
    std::vector<DataObject*> objs = children(n, false);
    std::vector<DataObject*> in_fdn_order = objs;
    malloc_trim(0);
    size_t heap0 = mallinfo2().uordblks;
    natural_order = true;
    auto t = Clock::now();
    DataObject::object_list.insert_all(objs);
    node_batch_begin();
    for (DataObject* obj : in_fdn_order) obj->display(0);
    node_batch_end();
    size_t rows = row_count();
    double ms = ms_since(t);
    long heap = ((long)mallinfo2().uordblks - (long)heap0) / n;
    printf("  show %d children in natural order: %.1f ms (%zu rows); heap %ld bytes per child\n", n,
           ms, rows, heap);

    const int count = 2000, batch = 100;
    t = Clock::now();
    for (int i = 0; i < count; i += batch) {
        std::vector<DataObject*> made;
        for (int k = 0; k < batch; k++) made.push_back(make(child_name(900000 + i + k), box));
        std::vector<DataObject*> shown = made;
        DataObject::object_list.insert_all(made);
        node_batch_begin();
        for (DataObject* obj : shown) obj->display(0);
        node_batch_end();
        row_count();
    }
    ms = ms_since(t);
    printf("  %d creations, %d to a batch: %.1f ms (%.0f per second)\n", count, batch, ms,
           count / (ms / 1000));
    t = Clock::now();
    for (int i = 0; i < count; i += batch) {
        node_batch_begin();
        for (int k = 0; k < batch; k++) {
            DataObject* obj = find_album_object(child_name(900000 + i + k).c_str());
            obj->destroy_node();
            DataObject::object_list.remove(obj);
            delete obj;
        }
        node_batch_end();
        row_count();
    }
    ms = ms_since(t);
    printf("  %d deletions, %d to a batch: %.1f ms (%.0f per second); %zu children shown\n", count,
           batch, ms, count / (ms / 1000), container->shown_count());
    natural_order = false;
}

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; i++) {
        if (atoi(argv[i]) <= 0) {
            fprintf(stderr, "usage: bench_registry [N ...]\n");
            return 2;
        }
        sizes.push_back(atoi(argv[i]));
    }
    if (sizes.empty()) sizes = {100000, 1000000};
    for (int n : sizes) {
        printf("%d children:\n", n);
        registering(n);
        showing(n);
    }
    DataObject::object_list.clear_and_destroy();
    return 0;
}
