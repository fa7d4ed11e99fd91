// libFuzzer target: filters, derivation strings and object names against the sample schema.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "filter.h"
#include "names.h"
#include "schema.h"

namespace {

const mis::Schema& schema()
{
    static std::unique_ptr<mis::Schema> s = [] {
        std::string err;
        auto p = mis::Schema::load(QX_SAMPLE_DIR "/schema.txt", err);
        if (!p) __builtin_trap();
        return p;
    }();
    return *s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const mis::Schema& s = schema();
    std::string text(reinterpret_cast<const char*>(data), size), why, base, filter, name;
    if (auto f = mis::parse_filter(s, text, why)) {
        // Match against an object of every class with its default values.
        for (auto& c : s.classes()) {
            std::vector<std::string> values;
            for (auto& ca : c->attrs) values.push_back(ca.def);
            f->matches(*c, values);
        }
    } else if (why.empty()) {
        __builtin_trap(); // a refusal always says why
    }
    if (mis::parse_derivation(s, text, base, filter, why)) {
        // The canonical base reads back as itself.
        std::string again;
        if (!mis::canonical_name(s, base, again, why) || again != base) __builtin_trap();
    }
    if (mis::canonical_name(s, text, name, why)) {
        std::string again;
        if (!mis::canonical_name(s, name, again, why) || again != name) __builtin_trap();
    }
    return 0;
}
