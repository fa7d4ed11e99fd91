/*
 * natural_order.cpp - numbers inside names compared as numbers.
 */
#include <cstring>

#include "tree/natural_order.h"

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
