/*
 * cut_text.h - public, header only: cuts a text to a number of bytes without
 * splitting a UTF-8 character.  The library cuts the server's messages with
 * it, the editor the texts it puts into labels.
 */
#ifndef KVL_CUT_TEXT_H
#define KVL_CUT_TEXT_H

#include <cstddef>
#include <string>

/* text itself when it holds at most max_bytes bytes (max_bytes 3 or more);
 * else as much of its start as fits before "..." in max_bytes, ending at a
 * character boundary, and "...". */
inline std::string kvl_cut_text(std::string text, size_t max_bytes)
{
    if (text.size() <= max_bytes) return text;
    size_t end = max_bytes - 3;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        end--; /* not inside a UTF-8 sequence */
    text.resize(end);
    return text + "...";
}

#endif /* KVL_CUT_TEXT_H */
