// The schema reader and value validation.
#include <gtest/gtest.h>

#include "sample_schema.h"
#include "schema.h"

using namespace mis;

namespace {

std::unique_ptr<Schema> parse(const std::string& text, std::string& err)
{
    const std::string base = "syntax ObjectClass classname\n"
                             "syntax Name string 1..10\n"
                             "attribute x:objectClass ObjectClass read-only\n"
                             "attribute x:name Name read-only\n"
                             "class root\n"
                             "class metadataRepository\n    naming x:name\n    attribute x:name\n  "
                             "  action getObjectClass builtin getObjectClass\n";
    return Schema::parse(base + text, "t.schema", "/opt/mib", err);
}

} // namespace

TEST(Schema, ValuesAreCheckedAndCanonicalisedBySyntax)
{
    struct {
        const char* attr;
        std::vector<std::pair<std::string, std::string>> taken; // text, canonical form
        std::vector<std::string> refused;
    } rows[] = {
        // integer ranges (negative bounds, blanks, leading zeros, overflow)
        {"boardTemperature",
         {{" -40 ", "-40"}, {"007", "7"}},
         {"-41", "126", "99999999999999999999999", "4x"}},
        // enumerations take any letter case and give the schema's spelling
        {"administrativeState", {{"SHUTTINGDOWN", "shuttingDown"}}, {"asleep"}},
        {"hotStandby", {{"Yes", "true"}, {"off", "false"}}, {"maybe"}},
        // sized strings: byte length and no control characters
        {"serialNumber", {{std::string(32, 'x'), std::string(32, 'x')}}, {std::string(33, 'x')}},
        {"userLabel", {}, {"tab\there"}},
        // object names are canonicalised; "/" is the root
        {"alarmedObject", {{" / systemId = a ", "/systemId=\"a\""}, {"/", "/"}}, {"/nosuch=1"}},
        // times with real calendar dates
        {"eventTime",
         {{"20240229120000Z", "20240229120000Z"}},
         {"20230229120000Z", "20241301120000Z", "20240101246000Z", "2024-01-01"}},
        {"objectClass", {{"shelf", "shelf"}}, {"cupboard"}},
    };
    for (auto& row : rows) {
        const AttributeDef* a = sample().attribute(row.attr);
        ASSERT_NE(a, nullptr) << row.attr;
        std::string canon, why;
        for (auto& [text, want] : row.taken) {
            EXPECT_TRUE(sample().validate(*a->syntax, text, canon, why)) << text << ": " << why;
            EXPECT_EQ(canon, want) << row.attr << " " << text;
        }
        for (auto& text : row.refused)
            EXPECT_FALSE(sample().validate(*a->syntax, text, canon, why))
                << row.attr << " " << text;
    }
}

TEST(Schema, MistakesAreReportedWithTheirLine)
{
    struct Case {
        const char* text;
        const char* expect;
    } cases[] = {
        {"attribute x:a Nope read-write\n", "t.schema:10: unknown syntax Nope"},
        {"attribute x:a Name read-write default \"much too long\"\n",
         "t.schema:10: default of x:a"},
        {"attribute x:a Name writable\n", "t.schema:10: access must be"},
        {"class b : a\n    naming x:name\nclass a\n",
         "t.schema:10: superclass a must be defined before b"},
        {"class c\n    naming x:nosuch\n", "unknown naming attribute"},
        {"class c\n    under nowhere\n    naming x:name\n    attribute x:name\n",
         "name binding under unknown class nowhere"},
        {"attribute x:actionsPending Name read-write\n", "reserved word"},
        {"class c\n    bogus line\n", "t.schema:11: unknown or malformed class line"},
        {"syntax S integer 5..1\n", "t.schema:10: unknown or malformed syntax rule"},
        {"syntax S boolean\n    colour \"red\"\n", "t.schema:11: unknown syntax line"},
    };
    for (auto& c : cases) {
        std::string err;
        EXPECT_EQ(parse(c.text, err), nullptr) << c.text;
        EXPECT_NE(err.find(c.expect), std::string::npos) << "got: " << err;
    }
    std::string err;
    EXPECT_EQ(Schema::parse("syntax S boolean\n", "t", ".", err), nullptr);
    EXPECT_NE(err.find("objectClass"), std::string::npos) << err;
}

TEST(Schema, InheritanceOverridesAndProgramPaths)
{
    std::string err;
    auto s = parse(
        "syntax Flag boolean\n"
        "attribute x:on Flag read-write default \"no\"\n"
        "class base\n    naming x:name\n    under root\n    attribute x:name\n    attribute x:on\n"
        "    action ping program bin/ping timeout 2\n"
        "class derived : base\n    attribute x:on default \"yes\"\n    action ping builtin "
        "selfTest\n",
        err);
    ASSERT_NE(s, nullptr) << err;
    const ClassDef& d = *s->cls("derived");
    ASSERT_EQ(d.attrs.size(), 3u); // objectClass, name, on -- inherited, in order
    EXPECT_EQ(d.attrs[0].attr->display, "objectClass");
    EXPECT_EQ(d.attrs[0].def, "derived");
    EXPECT_EQ(d.attrs[2].def, "true");
    EXPECT_EQ(s->cls("base")->attrs[2].def, "false");
    EXPECT_EQ(d.naming->name, "x:name");
    EXPECT_EQ(d.under, std::vector<std::string>{"root"});
    EXPECT_EQ(d.action("ping")->kind, ActionDef::SELF_TEST);
    EXPECT_EQ(s->cls("base")->action("ping")->program, "/opt/mib/bin/ping");
    EXPECT_TRUE(d.is_a("base"));
    EXPECT_FALSE(s->cls("base")->is_a("derived"));
}
