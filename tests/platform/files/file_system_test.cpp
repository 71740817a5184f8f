#include "platform/files/file_system.hpp"

#include "platform/files/temp_directory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace platform {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempDirectory;
using ::testing::HasSubstr;

Data bytes(std::string_view text) {
    return Data(text.begin(), text.end());
}

struct Local {
    static std::unique_ptr<FileSystem> make(const fs::path& dataDirectory) {
        return std::make_unique<LocalFileSystem>(dataDirectory);
    }
};
struct Memory {
    static std::unique_ptr<FileSystem> make(const fs::path& dataDirectory) {
        return std::make_unique<MemoryFileSystem>(dataDirectory);
    }
};

template <class Kind> class FileSystemTest : public ::testing::Test {
protected:
    TempDirectory temp;
    fs::path dataDirectory = temp.path() / "data";
    std::unique_ptr<FileSystem> fileSystem = Kind::make(dataDirectory);
    fs::path dir = dataDirectory / "Application Support";
};

using Kinds = ::testing::Types<Local, Memory>;
TYPED_TEST_SUITE(FileSystemTest, Kinds);

TYPED_TEST(FileSystemTest, MakesApplicationSupportOnDemand) {
    auto& files = *this->fileSystem;
    EXPECT_EQ(files.applicationSupportDirectory(), this->dir);
    EXPECT_FALSE(files.exists(this->dir));
    std::string error;
    EXPECT_TRUE(files.createDirectories(this->dir, &error)) << error;
    EXPECT_TRUE(files.exists(this->dir));
    EXPECT_TRUE(files.createDirectories(this->dir / "nested" / "deeper", &error)) << error;
    EXPECT_TRUE(files.exists(this->dir / "nested" / "deeper"));
    EXPECT_TRUE(files.createDirectories(this->dir, &error)) << "already there: " << error;
}

TYPED_TEST(FileSystemTest, CreateDirectoriesRefusesAPathThroughAFile) {
    auto& files = *this->fileSystem;
    ASSERT_TRUE(files.createDirectories(this->dir));
    ASSERT_TRUE(files.writeAtomically(this->dir / "file", bytes("x")));

    std::string error;
    EXPECT_FALSE(files.createDirectories(this->dir / "file" / "sub", &error));
    EXPECT_THAT(error, HasSubstr((this->dir / "file").string()));
    error.clear();
    EXPECT_FALSE(files.createDirectories(this->dir / "file", &error));
    EXPECT_THAT(error, HasSubstr((this->dir / "file").string()));
    EXPECT_EQ(files.read(this->dir / "file"), bytes("x"));
}

TYPED_TEST(FileSystemTest, WriteReplacesTheWholeContent) {
    auto& files = *this->fileSystem;
    ASSERT_TRUE(files.createDirectories(this->dir));
    auto file = this->dir / "state.json";
    std::string error;
    ASSERT_TRUE(files.writeAtomically(file, bytes("a much longer first version"), &error)) << error;
    EXPECT_EQ(files.read(file), bytes("a much longer first version"));
    ASSERT_TRUE(files.writeAtomically(file, bytes("short"), &error)) << error;
    EXPECT_EQ(files.read(file), bytes("short"));
    ASSERT_TRUE(files.writeAtomically(file, Data{}, &error)) << error;
    EXPECT_EQ(files.read(file), Data{});

    Data all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_TRUE(files.writeAtomically(file, all, &error)) << error;
    EXPECT_EQ(files.read(file), all);
}

TYPED_TEST(FileSystemTest, WriteIntoAMissingDirectoryFailsAndCreatesNothing) {
    auto& files = *this->fileSystem;
    auto file = this->dir / "missing" / "state.json";
    std::string error;
    EXPECT_FALSE(files.writeAtomically(file, bytes("x"), &error));
    EXPECT_THAT(error, HasSubstr("No such file or directory"));
    EXPECT_THAT(error, HasSubstr((this->dir / "missing").string()));
    EXPECT_FALSE(files.exists(file));
    EXPECT_FALSE(files.exists(this->dir / "missing"));
}

TYPED_TEST(FileSystemTest, WriteOntoADirectoryFailsAndLeavesItAlone) {
    auto& files = *this->fileSystem;
    ASSERT_TRUE(files.createDirectories(this->dir / "taken"));
    std::string error;
    EXPECT_FALSE(files.writeAtomically(this->dir / "taken", bytes("x"), &error));
    EXPECT_THAT(error, HasSubstr((this->dir / "taken").string()));
    EXPECT_TRUE(files.exists(this->dir / "taken"));
    EXPECT_FALSE(files.read(this->dir / "taken").has_value());
}

TYPED_TEST(FileSystemTest, ReadingAMissingFileGivesNothingAndSaysWhy) {
    auto& files = *this->fileSystem;
    ASSERT_TRUE(files.createDirectories(this->dir));
    std::string error;
    EXPECT_EQ(files.read(this->dir / "absent", &error), std::nullopt);
    EXPECT_THAT(error, HasSubstr("No such file or directory"));
    EXPECT_THAT(error, HasSubstr((this->dir / "absent").string()));
    EXPECT_EQ(files.read(this->dir / "absent"), std::nullopt) << "without a place for the reason";
}

TYPED_TEST(FileSystemTest, RemoveDeletesOnlyWhatIsThere) {
    auto& files = *this->fileSystem;
    ASSERT_TRUE(files.createDirectories(this->dir));
    ASSERT_TRUE(files.writeAtomically(this->dir / "a", bytes("1")));
    ASSERT_TRUE(files.writeAtomically(this->dir / "b", bytes("2")));
    EXPECT_TRUE(files.remove(this->dir / "a"));
    EXPECT_FALSE(files.exists(this->dir / "a"));
    EXPECT_EQ(files.read(this->dir / "a"), std::nullopt);
    EXPECT_FALSE(files.remove(this->dir / "a"));
    EXPECT_EQ(files.read(this->dir / "b"), bytes("2"));
}

TEST(LocalFileSystem, LeavesNoTemporaryFileBehind) {
    TempDirectory temp;
    LocalFileSystem files(temp.path());
    auto dir = files.applicationSupportDirectory();
    ASSERT_TRUE(files.createDirectories(dir));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(files.writeAtomically(dir / "state.json", bytes(std::to_string(i))));
    }
    ASSERT_TRUE(files.createDirectories(dir / "taken"));
    EXPECT_FALSE(files.writeAtomically(dir / "taken", bytes("x")));
    EXPECT_EQ(TempDirectory::list(dir), (std::vector<std::string>{"state.json", "taken"}));
    EXPECT_EQ(TempDirectory::readText(dir / "state.json"), "4");
}

TEST(LocalFileSystem, WritesFilesOnlyTheOwnerCanRead) {
    TempDirectory temp;
    LocalFileSystem files(temp.path());
    ASSERT_TRUE(files.writeAtomically(temp.path() / "private", bytes("x")));
    struct stat info {};
    ASSERT_EQ(::stat((temp.path() / "private").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(MemoryFileSystem, WriteFailureSwitchFailsWritesWithItsTextAndChangesNothing) {
    MemoryFileSystem files("/data");
    auto dir = files.applicationSupportDirectory();
    ASSERT_TRUE(files.createDirectories(dir));
    ASSERT_TRUE(files.writeAtomically(dir / "state.json", bytes("old")));

    files.failWrites("No space left on device");
    std::string error;
    EXPECT_FALSE(files.writeAtomically(dir / "state.json", bytes("new"), &error));
    EXPECT_THAT(error, HasSubstr("No space left on device"));
    EXPECT_THAT(error, HasSubstr((dir / "state.json").string()));
    EXPECT_FALSE(files.writeAtomically(dir / "other.json", bytes("new")));
    error.clear();
    EXPECT_FALSE(files.createDirectories(dir / "sub", &error));
    EXPECT_THAT(error, HasSubstr("No space left on device"));
    EXPECT_EQ(files.read(dir / "state.json"), bytes("old"));
    EXPECT_FALSE(files.exists(dir / "other.json"));
    EXPECT_FALSE(files.exists(dir / "sub"));

    files.clearFailures();
    EXPECT_TRUE(files.writeAtomically(dir / "state.json", bytes("new")));
    EXPECT_EQ(files.read(dir / "state.json"), bytes("new"));
}

TEST(MemoryFileSystem, ReadFailureSwitchFailsReadsWithItsText) {
    MemoryFileSystem files("/data");
    ASSERT_TRUE(files.createDirectories("/data"));
    ASSERT_TRUE(files.writeAtomically("/data/f", bytes("x")));
    files.failReads("Input/output error");
    std::string error;
    EXPECT_EQ(files.read("/data/f", &error), std::nullopt);
    EXPECT_THAT(error, HasSubstr("Input/output error"));
    files.clearFailures();
    EXPECT_EQ(files.read("/data/f"), bytes("x"));
}

TEST(MemoryFileSystem, TreatsSpellingsOfOnePathAsOneFile) {
    MemoryFileSystem files("/data");
    ASSERT_TRUE(files.createDirectories("/data/a"));
    ASSERT_TRUE(files.writeAtomically("/data/a/./f", bytes("1")));
    ASSERT_TRUE(files.writeAtomically("/data//a/../a/f", bytes("2")));
    EXPECT_EQ(files.files(), (std::map<fs::path, Data>{{"/data/a/f", bytes("2")}}));
}

// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DefaultDataDirectory, FollowsXdgDataHomeElseHome) {
    ScopedEnvironment home("HOME", "/home/lifter");
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(defaultDataDirectory("wristside"), fs::path("/srv/data/wristside"));
    }
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(defaultDataDirectory("wristside"),
                  fs::path("/home/lifter/.local/share/wristside"));
    }
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", "");
        EXPECT_EQ(defaultDataDirectory("wristside"),
                  fs::path("/home/lifter/.local/share/wristside"));
    }
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(defaultDataDirectory("other"), fs::path("/home/lifter/.local/share/other"));
    }
}

} // namespace
} // namespace platform
