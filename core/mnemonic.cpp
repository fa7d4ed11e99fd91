/* mnemonic.cpp - a mnemonic from a translated label. */
#include "core/mnemonic.h"

#include <cctype>

static char lower(char c)
{
    return (char)std::tolower((unsigned char)c);
}

static bool is_taken(char c, const std::string& taken)
{
    for (char t : taken)
        if (lower(t) == lower(c)) return true;
    return false;
}

/* The label's own letter c, in the label's case; 0 when it has none. */
static char in_label(const std::string& label, char c)
{
    for (char l : label)
        if (lower(l) == lower(c)) return l;
    return 0;
}

char choose_mnemonic(const std::string& label, char preferred, const std::string& taken)
{
    if (!preferred) return 0;
    char own = in_label(label, preferred);
    if (own && !is_taken(own, taken)) return own;
    for (char c : label)
        if ((unsigned char)c < 0x80 && std::isalnum((unsigned char)c) && !is_taken(c, taken))
            return c;
    return own ? own : preferred;
}
