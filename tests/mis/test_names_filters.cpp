// Object names, derivation strings and filters, against the sample schema.
#include <gtest/gtest.h>

#include "filter.h"
#include "names.h"
#include "sample_schema.h"
#include "schema.h"

using namespace mis;

namespace {

std::string canon(const std::string& text)
{
    std::string out, why;
    return canonical_name(sample(), text, out, why) ? out : "ERROR: " + why;
}

} // namespace

TEST(Names, LooseFormsBecomeCanonicalAndMalformedOnesAreRefused)
{
    std::pair<const char*, const char*> rows[] = {
        {"/", "/"},
        {"", "/"},
        {"/systemId=\"leeds-core-1\"", "/systemId=\"leeds-core-1\""},
        {" / systemId = leeds-core-1 / ", "/systemId=\"leeds-core-1\""},
        {"systemId=a/equipmentId=r", "/systemId=\"a\"/equipmentId=\"r\""},
        // full attribute names become display names; integer values are bare and normalised
        {"/x721:systemId=\"a\"/equipmentId=\"r\"/shelfId=\"s\"/slotNumber=\"007\"",
         "/systemId=\"a\"/equipmentId=\"r\"/shelfId=\"s\"/slotNumber=7"},
        // a quoted value keeps '/', '=' and blanks; quotes and backslashes are escaped
        {"/systemId=\"a/b = c\"", "/systemId=\"a/b = c\""},
        {"/userLabel=\"say \\\"hi\\\" \\\\\"", "/userLabel=\"say \\\"hi\\\" \\\\\""},
    };
    for (auto& [text, want] : rows) EXPECT_EQ(canon(text), want);
    for (const char* bad :
         {"/systemId", "/=x", "/systemId=\"open", "/systemId=\"a\"x", "/systemId=a//equipmentId=b",
          "/nosuchAttr=1", "/slotNumber=seven", "/alarmedObject=\"/\""}) {
        std::string out, why;
        EXPECT_FALSE(canonical_name(sample(), bad, out, why)) << bad << " gave " << out;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(Names, DerivationStrings)
{
    struct Case {
        const char* text;
        const char* base;
        const char* filter;
    } cases[] = {
        {"/*", "/", ""},
        {"*", "/", ""},
        {"/systemId=a/*", "/systemId=\"a\"", ""},
        {"/systemId=\"a\"/ * ", "/systemId=\"a\"", ""},
        {"/*/CMISFilter((objectClass=log))", "/", "(objectClass=log)"},
        {"/systemId=\"a/*\"/*/CMISFilter((userLabel=*/*))", "/systemId=\"a/*\"", "(userLabel=*/*)"},
    };
    for (auto& c : cases) {
        std::string base, filter, why;
        ASSERT_TRUE(parse_derivation(sample(), c.text, base, filter, why)) << c.text << ": " << why;
        EXPECT_EQ(base, c.base) << c.text;
        EXPECT_EQ(filter, c.filter) << c.text;
    }
    for (const char* bad : {"/systemId=a", "", "/systemId=a/*/junk", "/*/CMISFilter(", "/*x"}) {
        std::string base, filter, why;
        EXPECT_FALSE(parse_derivation(sample(), bad, base, filter, why)) << bad;
    }
}

namespace {

// An object of class cls with some values set by display name.
std::vector<std::string> values_of(const ClassDef& c, std::map<std::string, std::string> set)
{
    std::vector<std::string> v;
    for (auto& ca : c.attrs) {
        auto it = set.find(ca.attr->display);
        v.push_back(it == set.end() ? ca.def : it->second);
    }
    return v;
}

bool match(const std::string& filter, const ClassDef& c, const std::vector<std::string>& v)
{
    std::string why;
    auto f = parse_filter(sample(), filter, why);
    if (!f) {
        ADD_FAILURE() << filter << ": " << why;
        return false;
    }
    return f->matches(c, v);
}

} // namespace

TEST(Filters, MatchingByKind)
{
    const ClassDef& pack = *sample().cls("circuitPack");
    auto v = values_of(pack, {{"operationalState", "enabled"},
                              {"boardTemperature", "41"},
                              {"userLabel", "STM-16 long reach"},
                              {"administrativeState", "unlocked"}});
    for (const char* f :
         {// equality, with the value canonicalised by its syntax (enumerations ignore case)
          "(operationalState=enabled)", "(x721:operationalState=ENABLED)",
          // integers order as numbers, not as text ("41" < "9" as text)
          "(boardTemperature>=9)", "(boardTemperature<=41)",
          // substrings, presence, approximate
          "(userLabel=STM*reach)", "(userLabel=*16*long*)", "(userLabel=*)",
          "(userLabel~=stm-16LONGreach)",
          // an attribute the class lacks never matches, and its negation does
          "(!(logId=alarmLog))",
          // objectClass matches the class and its superclasses
          "(objectClass=circuitPack)", "(objectClass=equipment)", "(objectClass=top)",
          // composition; a lone item may leave out its parentheses
          "(&(operationalState=enabled)(|(boardTemperature>=100)(!(administrativeState=locked))))",
          "operationalState=enabled"})
        EXPECT_TRUE(match(f, pack, v)) << f;
    for (const char* f :
         {"(operationalState=disabled)", "(boardTemperature>=42)", "(userLabel=*long*16*)",
          "(userLabel=STM-16 long reachX*)", "(logId=*)", "(objectClass=shelf)",
          "(&(operationalState=enabled)(boardTemperature>=100))"})
        EXPECT_FALSE(match(f, pack, v)) << f;
    // escapes stand for themselves
    auto w = values_of(pack, {{"userLabel", "a*(b)\\c"}});
    EXPECT_TRUE(match("(userLabel=a\\2a\\(b\\)\\\\c)", pack, w));
    EXPECT_TRUE(match("(userLabel=a\\**)", pack, w));
}

TEST(Filters, MalformedFiltersAreRefused)
{
    std::string deep;
    for (int i = 0; i < 200; ++i) deep += "(!";
    deep += "(userLabel=x)";
    for (int i = 0; i < 200; ++i) deep += ")";
    for (std::string bad : std::vector<std::string>{
             "", "(", "()", "(&)", "(!(a=1)(b=2))", "(nosuch=1)", "(operationalState=sleepy)",
             "(boardTemperature>=warm)", "(userLabel>=*x)", "(userLabel=x))", "(userLabel=x\\)",
             "(userLabel=x\\zz)", "(userLabel=(x)", "(userLabel)", "(&(userLabel=x)", deep}) {
        std::string why;
        EXPECT_EQ(parse_filter(sample(), bad, why), nullptr) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

// A filter is held in its reduced form, under its key: texts that say the same in other words
// share one key, different filters never do; a repeated term costs nothing, and a filter's
// anchor terms name a value of every object it accepts.
TEST(Filters, ReducedFormKeysCostsAndAnchors)
{
    auto parsed = [](const std::string& text) {
        std::string why;
        auto f = parse_filter(sample(), text, why);
        if (!f) ADD_FAILURE() << text << ": " << why;
        return f;
    };
    auto key = [&](const std::string& text) {
        auto f = parsed(text);
        return f ? filter_key(*f) : "ERROR";
    };
    std::pair<const char*, const char*> same[] = {
        {"(|(userLabel=a)(userLabel=a)(|(x721:userLabel=b)(userLabel=a)))",
         "(|(userLabel=a)(userLabel=b))"},
        {"(&(&(userLabel=a)))", "userLabel=a"},
        {"(!(!(boardTemperature>=007)))", "(boardTemperature>=7)"},
        {"(operationalState=ENABLED)", "(x721:operationalState=enabled)"},
    };
    for (auto& [a, b] : same) EXPECT_EQ(key(a), key(b)) << a << " / " << b;
    std::vector<std::string> apart = {
        "(userLabel=a)",   "(userLabel~=a)", "(userLabel=a*)",  "(userLabel=a\\2a)",
        "(userLabel=*a*)", "(userLabel=*)",  "(userLabel>=a)",  "(|(userLabel=a)(userLabel=b))",
        "(&(userLabel=a)(userLabel=b))",     "(!(userLabel=a))", "(userLabel=a\\29)"};
    for (size_t i = 0; i < apart.size(); ++i)
        for (size_t j = 0; j < i; ++j) EXPECT_NE(key(apart[i]), key(apart[j])) << apart[i];

    // 815 repetitions of one term cost what one does
    std::string repeated = "(|";
    for (int i = 0; i < 815; ++i) repeated += "(userLabel=abcdefgh)";
    auto big = parsed(repeated + "(userLabel=uc-1))");
    auto small = parsed("(|(userLabel=abcdefgh)(userLabel=uc-1))");
    EXPECT_EQ(filter_cost(*big).nodes, 3u);
    EXPECT_EQ(filter_cost(*big).bytes, filter_cost(*small).bytes);

    // anchors: every accepted object has the value of one of them; none when any value may pass
    std::pair<const char*, size_t> anchored[] = {
        {"(userLabel=a)", 1},
        {"(|(userLabel=a)(&(vendorName=v)(boardTemperature>=3)))", 2},
        {"(&(userLabel>=a)(|(userLabel=a)(userLabel=b))(vendorName=v))", 1},
        {"(|(userLabel=a)(userLabel>=b))", 0},
        {"(!(userLabel=a))", 0},
        {"(|(userLabel=a)(userLabel=b)(userLabel=c))", 0}, // more than the 2 allowed here
    };
    for (auto& [text, n] : anchored) EXPECT_EQ(anchor_terms(*parsed(text), 2).size(), n) << text;
}
