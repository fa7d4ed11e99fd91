/* help_record.h - the records through which the help client (XtHelp) drives
 * the viewer (hyperhelp), shared by both programs.
 *
 * The root window's property named ATOM_NAME holds a list of fixed-size
 * records, one per client: the client's number, its viewer's window (0 until
 * the viewer has written it) and the last command text, NUL-padded.  Fields
 * are 32-bit in the host's order; client and viewer run on one display and
 * so on hosts that agree, as the X server's own properties assume.
 * Header only; it needs nothing but the C library. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace help_record {

constexpr const char* ATOM_NAME = "HyperHelpAtomV40";
constexpr size_t RECORD_SIZE = 1056;         /* bytes in one record */
constexpr size_t CLIENT_OFFSET = 0;    /* int32: the client's number */
constexpr size_t WINDOW_OFFSET = 8;    /* uint32: the viewer's window */
constexpr size_t COMMAND_OFFSET = 32;  /* the command text */
constexpr size_t COMMAND_SIZE = 1024;  /* room for it, its NUL included */

inline int32_t client(const unsigned char* r)
{
    int32_t id;
    memcpy(&id, r + CLIENT_OFFSET, 4);
    return id;
}

inline uint32_t window(const unsigned char* r)
{
    uint32_t w;
    memcpy(&w, r + WINDOW_OFFSET, 4);
    return w;
}

inline std::string command(const unsigned char* r)
{
    const char* t = (const char*)r + COMMAND_OFFSET;
    return std::string(t, strnlen(t, COMMAND_SIZE));
}

inline void set_client(unsigned char* r, int32_t id) { memcpy(r + CLIENT_OFFSET, &id, 4); }

inline void set_window(unsigned char* r, uint32_t w) { memcpy(r + WINDOW_OFFSET, &w, 4); }

/* Replaces the command; a text longer than the room is cut, leaving the NUL. */
inline void set_command(unsigned char* r, const char* text)
{
    char* t = (char*)r + COMMAND_OFFSET;
    memset(t, 0, COMMAND_SIZE);
    strncpy(t, text, COMMAND_SIZE - 1);
}

} // namespace help_record
