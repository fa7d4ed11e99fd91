// Public within qx_mis: object names (FDNs), their canonical form, and derivation strings.
#pragma once
#include <string>
#include <vector>

namespace mis {

class Schema;

struct Rdn {
    std::string attr;  // display name of the naming attribute
    std::string value; // canonical value text (unquoted)
};

// Reads a name in any of the loose forms a person types ("/ a = x /b=\"y\"/", "a=x")
// into RDNs with canonical attribute names and values. "" and "/" are the root (no RDNs).
bool parse_name(const Schema& s, const std::string& text, std::vector<Rdn>& rdns, std::string& why);

// The canonical text of a parsed name: "/a=\"x\"/n=3", or "/" for the root.
std::string format_name(const Schema& s, const std::vector<Rdn>& rdns);

// parse_name + format_name.
bool canonical_name(const Schema& s, const std::string& text, std::string& out, std::string& why);

// Splits "<FDN>/*" or "<FDN>/*/CMISFilter(<filter>)" into the canonical base name and the
// filter text ("" when none).
bool parse_derivation(const Schema& s, const std::string& text, std::string& base,
                      std::string& filter, std::string& why);

} // namespace mis
