// held_values: what a booted image holds, for the suites that compare images read two ways,
// and the names an album holds, for the suites that derive against a real server.
#ifndef TESTS_KVL_HELD_VALUES_H
#define TESTS_KVL_HELD_VALUES_H

#include <string>
#include <vector>

#include "kvl/base64.h"
#include "kvl/kvl.h"

// What a booted image holds, read without the server: its class and each attribute with its
// value, the writable ones marked, and values of bytes as base64.
inline std::vector<std::string> held_values(Image& image)
{
    std::vector<std::string> out = {image.get_objclass().str()};
    DUArray all = image.get_attr_names(0), writable = image.get_attr_names(1);
    for (int i = 0; i < all.count(); i++) {
        bool rw = false;
        for (int j = 0; j < writable.count(); j++) rw = rw || writable[j] == all[i];
        out.push_back(std::string(all[i].str()) + (rw ? " (rw) = " : " = ") +
                      image.get_str(all[i]).str());
        DUArray bytes;
        if (image.get_bytes(all[i], bytes))
            for (int b = 0; b < bytes.count(); b++)
                out.back() += " " + kvl_base64(std::string(bytes[b].str(), bytes[b].length()));
    }
    return out;
}

// The names of an album's members, in its order.
inline std::vector<std::string> names_of(const Album& album)
{
    std::vector<std::string> names;
    for (AlbumImage ai = album.first_image(); ai; ai.next_image())
        names.push_back(ai.image().get_objname().str());
    return names;
}

#endif // TESTS_KVL_HELD_VALUES_H
