// The schema reader and value validation.
#include <gtest/gtest.h>

#include "sample_schema.h"
#include "schema.h"

using namespace mis;

namespace {

std::string check(const char* syntax, const std::string& text)
{
    std::string canon, why;
    const AttributeDef* a = sample().attribute(syntax);
    if (!a) return "NO ATTRIBUTE";
    return sample().validate(*a->syntax, text, canon, why) ? canon : "REFUSED";
}

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
    // integer ranges (negative bounds, blanks, leading zeros, overflow)
    EXPECT_EQ(check("boardTemperature", " -40 "), "-40");
    EXPECT_EQ(check("boardTemperature", "007"), "7");
    EXPECT_EQ(check("boardTemperature", "-41"), "REFUSED");
    EXPECT_EQ(check("boardTemperature", "126"), "REFUSED");
    EXPECT_EQ(check("boardTemperature", "99999999999999999999999"), "REFUSED");
    EXPECT_EQ(check("boardTemperature", "4x"), "REFUSED");
    // enumerations take any letter case and give the schema's spelling
    EXPECT_EQ(check("administrativeState", "SHUTTINGDOWN"), "shuttingDown");
    EXPECT_EQ(check("administrativeState", "asleep"), "REFUSED");
    // booleans
    EXPECT_EQ(check("hotStandby", "Yes"), "true");
    EXPECT_EQ(check("hotStandby", "off"), "false");
    EXPECT_EQ(check("hotStandby", "maybe"), "REFUSED");
    // sized strings: byte length and no control characters
    EXPECT_EQ(check("serialNumber", std::string(32, 'x')), std::string(32, 'x'));
    EXPECT_EQ(check("serialNumber", std::string(33, 'x')), "REFUSED");
    EXPECT_EQ(check("userLabel", "tab\there"), "REFUSED");
    // object names are canonicalised; "/" is the root
    EXPECT_EQ(check("alarmedObject", " / systemId = a "), "/systemId=\"a\"");
    EXPECT_EQ(check("alarmedObject", "/"), "/");
    EXPECT_EQ(check("alarmedObject", "/nosuch=1"), "REFUSED");
    // times with real calendar dates
    EXPECT_EQ(check("eventTime", "20240229120000Z"), "20240229120000Z");
    EXPECT_EQ(check("eventTime", "20230229120000Z"), "REFUSED");
    EXPECT_EQ(check("eventTime", "20241301120000Z"), "REFUSED");
    EXPECT_EQ(check("eventTime", "20240101246000Z"), "REFUSED");
    EXPECT_EQ(check("eventTime", "2024-01-01"), "REFUSED");
    // class names
    EXPECT_EQ(check("objectClass", "shelf"), "shelf");
    EXPECT_EQ(check("objectClass", "cupboard"), "REFUSED");
    // a refusal names the value, the syntax and its rule
    std::string canon, why;
    const AttributeDef* a = sample().attribute("x721:administrativeState");
    ASSERT_FALSE(sample().validate(*a->syntax, "sleepy", canon, why));
    EXPECT_EQ(
        why,
        "value 'sleepy' refused by syntax AdministrativeState (locked | unlocked | shuttingDown)");
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
