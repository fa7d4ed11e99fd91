// Public: how deeply a line of JSON nests, read before any parser sees it. The server and the
// client library both refuse a line nested deeper than their limit, because a recursive parser
// would otherwise follow any depth a peer sends. Header only; it includes nothing but <cstddef>.
#pragma once

#include <cstddef>

namespace protocol {

// Whether text[0..n) nests arrays and objects deeper than limit, read byte by byte without
// building anything: brackets inside strings do not count, and an escaped character cannot end a
// string. Up to the first syntax error a parser sees the same brackets, and it stops there, so it
// never goes deeper than this count.
inline bool nested_deeper(const char* text, size_t n, int limit)
{
    int depth = 0;
    bool in_string = false;
    for (size_t i = 0; i < n; ++i) {
        char ch = text[i];
        if (in_string) {
            if (ch == '\\')
                ++i;
            else if (ch == '"')
                in_string = false;
        } else if (ch == '"') {
            in_string = true;
        } else if (ch == '[' || ch == '{') {
            if (++depth > limit) return true;
        } else if (ch == ']' || ch == '}') {
            --depth;
        }
    }
    return false;
}

} // namespace protocol
