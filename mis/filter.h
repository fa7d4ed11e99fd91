// Public within qx_mis: CMIS filters in their LDAP string form -- parsing and matching.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace mis {

class Schema;
struct AttributeDef;
struct ClassDef;

struct Filter {
    enum Op { AND, OR, NOT, EQ, GE, LE, APPROX, PRESENT, SUBSTR };
    Op op = AND;
    std::vector<std::unique_ptr<Filter>> kids; // AND, OR, NOT
    const AttributeDef* attr = nullptr;
    std::string value;              // canonical value (EQ, GE, LE), folded value (APPROX)
    long long number = 0;           // GE, LE on integer syntaxes
    std::vector<std::string> parts; // SUBSTR: initial, middles..., final ("" where open)

    // Whether an object of class c with these attribute values (in c's order) passes.
    bool matches(const ClassDef& c, const std::vector<std::string>& values) const;
};

// Nesting deeper than this is refused, so that no input can exhaust the stack.
constexpr int MAX_FILTER_DEPTH = 64;

// Parses a filter such as "(&(a=1)(|(b>=2)(!(c=*))))"; a lone item may leave out its
// parentheses. Returns null and a message on error.
std::unique_ptr<Filter> parse_filter(const Schema& s, const std::string& text, std::string& why);

} // namespace mis
