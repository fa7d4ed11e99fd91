/*
 * test_name_order.cpp - the name functions that need no server or display:
 * the natural order of names and the ancestors of an FDN.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/go_to.h"
#include "tree/natural_order.h"

namespace {

int sign(int v)
{
    return (v > 0) - (v < 0);
}

TEST(NaturalOrder, Pairs)
{
    const std::string digits70(70, '9'), digits71 = "1" + std::string(70, '0');
    struct Case {
        std::string a, b;
        int want; /* sign of natural_compare(a, b) */
    } cases[] = {
        {"slot2", "slot10", -1},
        {"a007", "a7", -1},                   /* equal numbers: strcmp decides, so only */
        {"a00", "a0", 1},                     /* equal names compare equal */
        {"a007c", "a7b", 1},                  /* the rest of the name decides before the width */
        {"slot=1", "slot=02", -1},            /* the number before its width */
        {"x-10", "x-9", 1},                   /* number at the end */
        {"a" + digits70, "a" + digits71, -1}, /* runs past 64 bits */
        {"a" + digits71 + "1", "a" + digits71 + "2", -1},
        {"a" + digits70, "a" + digits70, 0},
        {"cTPId=\"p2\"", "cTPId=\"p10\"", -1}, /* inside quotes too */
        {"id=\"x\"", "id=x", -1},              /* '"' before 'x' */
        {u8"n\u00e92", u8"n\u00e910", -1},     /* UTF-8 before the digits */
        {"z", u8"\u00e9", -1},                 /* multibyte after ASCII */
        {"", "a", -1},
        {"", "", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.want, sign(natural_compare(c.a.c_str(), c.b.c_str()))) << c.a << " | " << c.b;
        EXPECT_EQ(-c.want, sign(natural_compare(c.b.c_str(), c.a.c_str()))) << c.b << " | " << c.a;
    }
    EXPECT_LT(natural_compare(nullptr, ""), 0);
    EXPECT_EQ(0, natural_compare(nullptr, nullptr));
}

TEST(GoTo, AncestorsOfAName)
{
    using V = std::vector<std::string>;
    struct Case {
        std::string fdn;
        V want;
    } cases[] = {
        {"/", {}},
        {"", {}},
        {"/a=1", {"/a=1"}},
        {"/a=1/b=2", {"/a=1", "/a=1/b=2"}},
        {"/a=\"x/y\"/b=2", {"/a=\"x/y\"", "/a=\"x/y\"/b=2"}},
        {"/a=\"q\\\"/\"/b=2", {"/a=\"q\\\"/\"", "/a=\"q\\\"/\"/b=2"}}, /* escaped quote */
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, fdn_prefixes(c.fdn)) << c.fdn;
}

} // namespace
