// Public within qx_mis: CMIS filters in their LDAP string form -- parsing and matching, and
// what a parsed filter costs the server to hold and to evaluate.
#pragma once
#include <cstddef>
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
    size_t hash = 0;                // of the whole sub-filter: equal sub-filters hash alike

    // Whether an object of class c with these attribute values (in c's order) passes.
    bool matches(const ClassDef& c, const std::vector<std::string>& values) const;
};

// Nesting deeper than this is refused, so that no input can exhaust the stack.
constexpr int MAX_FILTER_DEPTH = 64;

// Parses a filter such as "(&(a=1)(|(b>=2)(!(c=*))))"; a lone item may leave out its
// parentheses. Returns null and a message on error. The filter comes back in its reduced form,
// which accepts exactly what the text does: an '&' or '|' inside one of its own kind is merged
// into it, a sub-filter repeated among the members of one '&' or '|' is kept once, an '&' or
// '|' of one member is that member, and '!' of '!' is what it negates. So each sub-filter of
// the result is evaluated once however often the text repeats it.
std::unique_ptr<Filter> parse_filter(const Schema& s, const std::string& text, std::string& why);

// The reduced filter written out with full attribute names and canonical values: two parsed
// filters have the same key exactly when they are the same filter.
std::string filter_key(const Filter& f);

// What a parsed filter costs: its nodes, and the bytes its parsed form takes (the nodes, their
// vectors and strings, with the allocator's overhead on each block). Matching an object visits
// each node at most once and compares at most each node's own bytes, so the bytes bound both
// the memory the filter holds and the work of evaluating it.
struct FilterCost {
    size_t nodes = 0;
    size_t bytes = 0;
};
FilterCost filter_cost(const Filter& f);

// Equality terms (EQ nodes) such that every object f accepts has the value of at least one of
// them (for objectClass: the name of its class or of a superclass): an object none of them
// names cannot pass f. Empty when f has no such set of at most
// `at_most` terms (a '!', an ordering, a substring or a presence term may accept any value).
std::vector<const Filter*> anchor_terms(const Filter& f, size_t at_most);

// The attributes f names, each once, in no particular order: a change of no other attribute
// can change what f says of an object.
std::vector<const AttributeDef*> filter_attributes(const Filter& f);

} // namespace mis
