/*
 * reply_reader.cpp - reads a reply that lists objects (a derivation) straight
 * into an album's member set.
 *
 * A derivation of 100,000 children is a line of about 9 MB.  Parsed into a
 * JSON document it costs a tree node, a map and two strings per child, all
 * thrown away as soon as the names are copied out.  This reader walks the
 * line once: the names and classes go into the set's text as they are
 * decoded, and only the small rest of the reply becomes a document.  It is as
 * strict as the general parser about what it reads itself (string escapes,
 * UTF-8, structure); the small values go through the general parser.  When
 * the line has any other shape it gives up, and the caller parses the line
 * the general way, which decides what is wrong with it.
 */
#include "kvl/kvl_private.h"

#include <cstring>

namespace {

/* Bytes of the well-formed UTF-8 sequence at p, 0 when it is not one. */
size_t utf8_sequence(const unsigned char* p, const unsigned char* end)
{
    unsigned char c = p[0];
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF; /* range of the second byte */
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0; /* no overlong forms */
        if (c == 0xED) hi = 0x9F; /* no surrogates */
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F; /* nothing past U+10FFFF */
    } else
        return 0;
    if (static_cast<size_t>(end - p) < n) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < n; i++)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return n;
}

void append_utf8(std::string& out, unsigned long cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

/* Bytes that stand for themselves inside a string: not the quote, not the
 * backslash, no control character, nothing past ASCII (checked as UTF-8). */
struct PlainBytes {
    bool plain[256];
    PlainBytes()
    {
        for (int c = 0; c < 256; c++) plain[c] = c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    }
};
const PlainBytes PLAIN_BYTES;

/* A position in the line and what the reader does at it. */
struct Cursor {
    const unsigned char* p;
    const unsigned char* end;

    void blanks()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) p++;
    }
    /* Takes c after blanks; false (nothing taken) when c is not next. */
    bool take(char c)
    {
        blanks();
        if (p < end && *p == static_cast<unsigned char>(c)) {
            p++;
            return true;
        }
        return false;
    }

    bool hex4(unsigned long& v)
    {
        if (end - p < 4) return false;
        v = 0;
        for (int i = 0; i < 4; i++) {
            unsigned char c = *p++;
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v |= c - 'A' + 10;
            else
                return false;
        }
        return true;
    }

    /* A string, decoded and appended to out.  Plain runs are copied whole. */
    bool string(std::string& out)
    {
        if (!take('"')) return false;
        for (;;) {
            const unsigned char* run = p;
            while (p < end && PLAIN_BYTES.plain[*p]) p++;
            out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
            if (p >= end) return false;
            unsigned char c = *p;
            if (c == '"') {
                p++;
                return true;
            }
            if (c < 0x20) return false; /* control characters are escaped in JSON */
            if (c >= 0x80) {
                size_t n = utf8_sequence(p, end);
                if (n == 0) return false;
                out.append(reinterpret_cast<const char*>(p), n);
                p += n;
                continue;
            }
            if (++p >= end) return false; /* a backslash */
            switch (*p++) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned long cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return false; /* a low half alone */
                if (cp >= 0xD800 && cp <= 0xDBFF) {             /* needs its low half */
                    unsigned long low;
                    if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return false;
                    p += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                append_utf8(out, cp);
                break;
            }
            default: return false;
            }
        }
    }

    /* Moves past one value without checking more than its bounds: the
     * general parser checks the values taken this way.  Refuses values nested
     * deeper than kvl_max_depth, which the general parser would recurse into. */
    bool skip_value()
    {
        blanks();
        int depth = 0;
        std::string scratch;
        while (p < end) {
            unsigned char c = *p;
            if (c == '"') {
                scratch.clear();
                if (!string(scratch)) return false;
            } else if (c == '{' || c == '[') {
                if (++depth > kvl_max_depth) return false;
                p++;
            } else if (c == '}' || c == ']') {
                if (depth == 0) return true;
                depth--;
                p++;
            } else if (c == ',' && depth == 0) {
                return true;
            } else {
                p++;
            }
            if (depth == 0 && (c == '"' || c == '}' || c == ']')) {
                blanks();
                return true;
            }
        }
        return depth == 0;
    }

    /* The value here parsed the general way; discarded when it is not JSON. */
    json value()
    {
        blanks();
        const unsigned char* start = p;
        if (!skip_value()) return json(json::value_t::discarded);
        return json::parse(start, p, nullptr, false);
    }
};

/* The objects array: each element an object of strings, of which "name" and
 * "class" are kept. */
bool read_objects(Cursor& in, AlbumSnapshot& into)
{
    if (!in.take('[')) return false;
    if (in.take(']')) return true;
    std::string key, cls, other;
    do {
        if (!in.take('{')) return false;
        size_t name_at = into.text.size();
        bool have_name = false;
        cls.clear();
        if (!in.take('}')) {
            do {
                key.clear();
                if (!in.string(key) || !in.take(':')) return false;
                if (key == "name") {
                    into.text.resize(name_at); /* a repeated key: the last one counts */
                    if (!in.string(into.text)) return false;
                    have_name = true;
                } else if (key == "class") {
                    cls.clear();
                    if (!in.string(cls)) return false;
                } else {
                    other.clear();
                    if (!in.string(other)) return false;
                }
            } while (in.take(','));
            if (!in.take('}')) return false;
        }
        (void)have_name; /* an object without a name has the name "" */
        into.append(name_at, cls.data(), cls.size());
    } while (in.take(','));
    if (!in.take(']')) return false;
    into.index_all();
    return true;
}

/* The result object: "objects" read into the set, the rest kept as JSON. */
bool read_result(Cursor& in, json& rest, AlbumSnapshot& into)
{
    rest = json::object();
    if (!in.take('{')) return false;
    if (in.take('}')) return true;
    std::string key;
    do {
        key.clear();
        if (!in.string(key) || !in.take(':')) return false;
        if (key == "objects") {
            into.clear();
            if (!read_objects(in, into)) return false;
        } else {
            json v = in.value();
            if (v.is_discarded()) return false;
            rest[key] = std::move(v);
        }
    } while (in.take(','));
    return in.take('}');
}

} // namespace

bool kvl_read_member_reply(const char* text, size_t n, KvlMemberReply& out)
{
    Cursor in{reinterpret_cast<const unsigned char*>(text),
              reinterpret_cast<const unsigned char*>(text) + n};
    bool have_id = false, have_result = false;
    const unsigned char* result_at = nullptr; /* a result met before the id */
    if (!in.take('{')) return false;
    std::string key;
    do {
        key.clear();
        if (!in.string(key) || !in.take(':')) return false;
        if (key == "result") {
            in.blanks();
            if (have_id) { /* the usual order: read it in place */
                if (!out.wanted(out.id)) return false;
                if (!read_result(in, out.rest, out.members)) return false;
                result_at = nullptr;
            } else {
                result_at = in.p;
                if (!in.skip_value()) return false;
            }
            have_result = true;
        } else {
            json v = in.value();
            if (v.is_discarded()) return false;
            if (key == "id") {
                if (!v.is_number_integer()) return false;
                out.id = v.get<long>();
                have_id = true;
            } else if (key == "method" || key == "error") {
                return false; /* a notification or an error: the general way */
            }
        }
    } while (in.take(','));
    if (!in.take('}')) return false;
    in.blanks();
    if (in.p != in.end || !have_id || !have_result) return false;
    if (result_at) {
        if (!out.wanted(out.id)) return false;
        Cursor result{result_at, in.end};
        if (!read_result(result, out.rest, out.members)) return false;
    }
    return true;
}
