/*
 * test_class_info.cpp - class metadata: the parser on the odd texts it must
 * take as they are, and the class descriptions of a real qx_mis read through
 * the repository object.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/globals.h"
#include "meta/meta_api.h"
#include "mis_process.h"

namespace {

std::vector<std::string> names(const DUArray& a)
{
    std::vector<std::string> out;
    for (int i = 0; i < a.count(); i++) out.push_back(a[i].str());
    return out;
}

using Names = std::vector<std::string>;

TEST(ClassInfoParser, TakesTheTextAsItIs)
{
    const std::string long_word(70, 'a');
    struct Case {
        const char* what;
        std::string reply;
        Names actions, attributes;
    } cases[] = {
        {"no keywords", "labels { label \"a\" } label \"b\"", {}, {}},
        {"every label after the first actions counts, in a later section too",
         "actions label \"start\" label \"stop\" attributes labels { label \"reboot\" }",
         {"start", "stop", "reboot"},
         {"reboot"}},
        {"an entry with two labels is named by the first",
         "attributes labels { label \"x:one\" label \"x:two\" } labels { label \"x:three\" }",
         {},
         {"x:one", "x:three"}},
        {"a labels { without a label ends the scan", "attributes labels { labels {", {}, {}},
        {"a label longer than the limit is cut",
         "actions label \"" + long_word + "\"",
         {std::string(62, 'a')},
         {}},
        {"an empty text", "", {}, {}},
    };
    for (const Case& c : cases) {
        ClassInfo info{DataUnit()};
        info.parse_actions(DataUnit(c.reply.c_str()));
        info.parse_attributes(DataUnit(c.reply.c_str()));
        EXPECT_EQ(c.actions, names(info.get_actions())) << c.what;
        EXPECT_EQ(c.attributes, names(info.get_attributes())) << c.what;
    }
}

/* The repository of a real server, on the sample network. */
struct Repository : ::testing::Test {
    static void SetUpTestSuite()
    {
        dir = new qxtest::TempDir;
        mis = new qxtest::MisProcess(dir->path);
        host = "127.0.0.1:" + std::to_string(mis->port());
        platform_host = const_cast<char*>(host.c_str());
        ASSERT_TRUE(platform.connect(DataUnit(host.c_str()), DataUnit("meta_tests"), 10))
            << platform.get_error_string();
        ASSERT_EQ(1, ClassInfo::initialize());
    }
    static void TearDownTestSuite()
    {
        platform.disconnect();
        delete mis;
        delete dir;
    }
    static inline qxtest::TempDir* dir = nullptr;
    static inline qxtest::MisProcess* mis = nullptr;
    static inline std::string host;
};

/* Each object's class description names the attributes the object has, in
 * its order, and the actions of its class; an empty or unknown class or
 * object gives empty records (no class). */
TEST_F(Repository, DescriptionsOfTheSampleClassesReadBack)
{
    struct Case {
        const char* object;
        const char* cls;
        Names actions;
    } cases[] = {
        {"/systemId=\"leeds-core-1\"", "managedElement", {"selfTest", "reset"}},
        {"/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"",
         "equipmentRack",
         {"selfTest", "reset"}},
        {"/systemId=\"leeds-core-1\"/metaName=\"MDR\"",
         "metadataRepository",
         {"selfTest", "getObjectClass"}},
        {"/systemId=\"atlantis-1\"", nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        ClassInfo by_object(c.object);
        EXPECT_EQ(c.actions, names(by_object.get_actions()));
        if (!c.cls) {
            EXPECT_EQ(0, by_object.get_attributes().count());
            continue;
        }
        Image object(DataUnit(c.object), DataUnit(), Platform::def_platform);
        ASSERT_TRUE(object.boot(10)) << object.get_error_string();
        EXPECT_STREQ(c.cls, by_object.class_name.str());
        EXPECT_EQ(names(object.get_attr_names(0)), names(by_object.get_attributes()));
        ClassInfo by_class{DataUnit(c.cls)};
        EXPECT_EQ(names(by_object.get_attributes()), names(by_class.get_attributes()));
    }
    for (const char* cls : {"", "unicorn"}) {
        ClassInfo info{DataUnit(cls)};
        EXPECT_EQ(0, info.get_actions().count()) << cls;
        EXPECT_EQ(0, info.get_attributes().count()) << cls;
    }
    /* The repository image is usable again after a failed query. */
    ClassInfo rack{DataUnit("equipmentRack")};
    EXPECT_LT(0, rack.get_attributes().count());
}

} // namespace
