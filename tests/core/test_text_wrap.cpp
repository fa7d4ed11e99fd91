/* Breaking messages into lines: where they break, measured in characters;
 * only newlines are ever added. */
#include <gtest/gtest.h>

#include "core/text_wrap.h"

namespace {

int characters(const std::string& s)
{
    int n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) n++;
    return n;
}

TEST(WrapText, BreaksAtBlanksCommasAndSlashes)
{
    struct Case {
        const char* text;
        int width;
        const char* wrapped;
    } cases[] = {
        {"fits as it is  ", 20, "fits as it is  "},
        {"delete the object now", 10, "delete the \nobject now"},
        {"/systemId=\"h\"/rack=1/shelf=2", 16, "/systemId=\"h\"\n/rack=1/shelf=2"},
        {"cn=a,ou=people,dc=org", 10, "cn=a,\nou=people,\ndc=org"},
        {"one two\nthree four five", 10, "one two\nthree four \nfive"},
        {"abcdefghijklmnop", 6, "abcdef\nghijkl\nmnop"},
        {"ab äöüäöüäö", 4, "ab \näöüä\nöüäö"},
        {"a       b", 3, "a       \nb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wrap_text(c.text, c.width, characters), c.wrapped) << c.text;
}

} // namespace
