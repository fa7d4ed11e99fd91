/* base64.cpp - base64 with the standard alphabet. */
#include "kvl/base64.h"

#include <cstring>

namespace {

const char B64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string kvl_base64(const std::string& bytes)
{
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned n = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                     (unsigned char)bytes[i + 2];
        out += B64[n >> 18];
        out += B64[n >> 12 & 63];
        out += B64[n >> 6 & 63];
        out += B64[n & 63];
    }
    if (i < bytes.size()) {
        bool two = i + 1 < bytes.size();
        unsigned n = (unsigned char)bytes[i] << 16 | (two ? (unsigned char)bytes[i + 1] << 8 : 0);
        out += B64[n >> 18];
        out += B64[n >> 12 & 63];
        out += two ? B64[n >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

bool kvl_unbase64(const std::string& text, std::string& bytes)
{
    bytes.clear();
    unsigned n = 0;
    int bits = 0, pad = 0;
    for (char c : text) {
        if (c == ' ') continue;
        if (c == '=') {
            pad++;
            continue;
        }
        const char* p = c ? std::strchr(B64, c) : nullptr;
        if (!p || pad) return false; /* a stray byte, or data after the padding */
        n = n << 6 | (unsigned)(p - B64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += (char)(n >> bits & 255);
        }
    }
    /* Left over: nothing, or the 4 or 2 zero bits of a last group of two or
     * three characters, with its padding ("==", "=") or without it. */
    bool whole = (bits == 0 && pad == 0) || (bits == 4 && (pad == 2 || pad == 0)) ||
                 (bits == 2 && (pad == 1 || pad == 0));
    return whole && (n & ((1u << bits) - 1)) == 0;
}
