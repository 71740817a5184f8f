#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

namespace platform {
namespace {

using platform::testing::TempDirectory;

Data bytes(std::string_view text) {
    return Data(text.begin(), text.end());
}

// The fake stands in for the real one in the program's tests, so both must behave alike.
template <class Files> class FileSystemTest : public ::testing::Test {
protected:
    TempDirectory temp;
    Files subject{temp.path()};
    std::filesystem::path dir = subject.applicationSupportDirectory();
};

using Kinds = ::testing::Types<LocalFileSystem, MemoryFileSystem>;
TYPED_TEST_SUITE(FileSystemTest, Kinds);

TYPED_TEST(FileSystemTest, WritesWholeFilesOnlyIntoDirectoriesThatExist) {
    auto& files = this->subject;
    const auto file = this->dir / "nested" / "state.json";
    std::string error;
    EXPECT_FALSE(files.writeAtomically(file, bytes("x"), &error));
    EXPECT_NE(error.find((this->dir / "nested").string()), std::string::npos) << error;
    EXPECT_FALSE(files.exists(this->dir));
    EXPECT_EQ(files.read(file, &error), std::nullopt);
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

    ASSERT_TRUE(files.createDirectories(file.parent_path()));
    ASSERT_TRUE(files.writeAtomically(file, bytes("a much longer first version")));
    ASSERT_TRUE(files.writeAtomically(file, bytes("short")));
    EXPECT_EQ(files.read(file), bytes("short"));
    EXPECT_FALSE(files.createDirectories(file / "sub"));
    EXPECT_FALSE(files.writeAtomically(this->dir / "nested", bytes("x")));
    EXPECT_TRUE(files.remove(file));
    EXPECT_FALSE(files.remove(file));
    EXPECT_FALSE(files.exists(file));
}

TEST(LocalFileSystem, LeavesNoTemporaryFileAndWhatItWroteOnlyTheOwnerCanRead) {
    TempDirectory temp;
    const auto dir = temp.path() / "data";
    {
        LocalFileSystem files(temp.path());
        ASSERT_TRUE(files.createDirectories(dir / "taken"));
        ASSERT_TRUE(files.writeAtomically(dir / "state.json", bytes("1")));
        EXPECT_FALSE(files.writeAtomically(dir / "taken", bytes("x")));
    }
    EXPECT_EQ(LocalFileSystem(temp.path()).read(dir / "state.json"), bytes("1"));
    EXPECT_EQ(TempDirectory::list(dir), (std::vector<std::string>{"state.json", "taken"}));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "state.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

} // namespace
} // namespace platform
