#include "widget/defaults_suite.hpp"

#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

namespace {

using glanceside::DefaultsSuite;
using nlohmann::json;
using platform::testing::TempDirectory;

TEST(DefaultsSuite, WritesOneObjectPerFileThatTheNextOpenReads) {
    TempDirectory dir;
    auto suite = DefaultsSuite::open(dir.path(), "group.test");
    ASSERT_TRUE(suite);
    EXPECT_FALSE(suite->value("nextWorkout"));

    ASSERT_TRUE(suite->set("nextWorkout", "{\"title\":\"T\"}"));
    ASSERT_TRUE(DefaultsSuite::write(dir.path(), "group.test", "count", 3));
    EXPECT_EQ(suite->value("nextWorkout"), json("{\"title\":\"T\"}"));

    EXPECT_EQ(json::parse(TempDirectory::readText(dir.path() / "group.test.json")),
              (json{{"nextWorkout", "{\"title\":\"T\"}"}, {"count", 3}}));
    // Only the suite file: no temporary file is left behind.
    EXPECT_EQ(TempDirectory::list(dir.path()), std::vector<std::string>{"group.test.json"});
}

TEST(DefaultsSuite, CannotBeOpenedWithoutItsDirectoryAValidNameOrAReadableObject) {
    TempDirectory dir;
    TempDirectory::writeText(dir.path() / "broken.json", "{\"a\":");
    TempDirectory::writeText(dir.path() / "list.json", "[1]");
    const struct {
        std::filesystem::path directory;
        const char* name;
    } cases[] = {
        {dir.path() / "absent", "group.test"},
        {dir.path(), "../group"},
        {dir.path(), ".hidden"},
        {dir.path(), ""},
        {dir.path(), "broken"},
        {dir.path(), "list"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(DefaultsSuite::open(c.directory, c.name, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
    // A writer replaces a damaged file rather than being stuck behind it.
    ASSERT_TRUE(DefaultsSuite::write(dir.path(), "broken", "a", "b"));
    EXPECT_EQ(DefaultsSuite::open(dir.path(), "broken")->value("a"), json("b"));
}

TEST(DefaultsSuite, ReportsAFileItCanNeitherReadNorReplace) {
    TempDirectory dir;
    std::filesystem::create_directory(dir.path() / "group.test.json");
    std::string error;
    EXPECT_FALSE(DefaultsSuite::open(dir.path(), "group.test", &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    EXPECT_FALSE(DefaultsSuite::write(dir.path(), "group.test", "a", 1, &error));
    EXPECT_NE(error.find("cannot replace"), std::string::npos) << error;
    // The failed write cleans up after itself.
    EXPECT_EQ(TempDirectory::list(dir.path()), std::vector<std::string>{"group.test.json"});
}

} // namespace
