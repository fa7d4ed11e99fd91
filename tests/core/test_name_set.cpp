/* The grow-only set of names: every name added is found again after the
 * table has grown many times and the names have filled several blocks, and
 * a name is not mistaken for another that begins or ends like it. */
#include <gtest/gtest.h>

#include <string>

#include "core/name_set.h"

namespace {

TEST(NameSet, FindsEveryNameAddedAndNoOther)
{
    NameSet set;
    EXPECT_FALSE(set.contains("/a"));
    const std::string long_name(3 << 20, 'x'); /* longer than a block */
    set.insert("");
    set.insert(long_name);
    for (int i = 0; i < 200000; i++) set.insert("/dc=org/ou=bulk/cn=e" + std::to_string(i));
    set.insert("/dc=org/ou=bulk/cn=e7"); /* again: no second copy */
    EXPECT_EQ(200002u, set.size());
    for (int i = 0; i < 200000; i += 997)
        EXPECT_TRUE(set.contains("/dc=org/ou=bulk/cn=e" + std::to_string(i))) << i;
    EXPECT_TRUE(set.contains(""));
    EXPECT_TRUE(set.contains(long_name));
    for (const char* other :
         {"/dc=org/ou=bulk", "/dc=org/ou=bulk/cn=e", "/dc=org/ou=bulk/cn=e200000",
          "dc=org/ou=bulk/cn=e1", "/dc=org/ou=bulk/cn=e1/x"})
        EXPECT_FALSE(set.contains(other)) << other;
    EXPECT_FALSE(set.contains(long_name.substr(1)));
}

} // namespace
