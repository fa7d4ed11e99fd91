/* base64.h - base64 (RFC 4648, the standard alphabet): how bytes that are not
 * text travel in the library's JSON and in LDIF files. */
#ifndef KVL_BASE64_H
#define KVL_BASE64_H

#include <string>

/* bytes as base64, padded with '='. */
std::string kvl_base64(const std::string& bytes);
/* The bytes text encodes; spaces are skipped and the padding may be left
 * out.  False (bytes undefined) for a byte outside the alphabet, data after
 * the padding, or a last group that leaves bits over. */
bool kvl_unbase64(const std::string& text, std::string& bytes);

#endif
