#include "platform/files/temp_directory.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/store/sqlite_key_value_store.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

namespace platform {
namespace {

using namespace std::string_literals;
using platform::testing::TempDirectory;
using Strings = std::vector<std::string>;

// The fake stands in for the real one in the program's tests, so both must behave alike.
template <class Store> class KeyValueStoreTest : public ::testing::Test {};
using Kinds = ::testing::Types<MemoryKeyValueStore, SqliteKeyValueStore>;
TYPED_TEST_SUITE(KeyValueStoreTest, Kinds);

TYPED_TEST(KeyValueStoreTest, KeepsEachTypeExactlyAndReadsBoolsAndZeroOrOneAsEachOtherOnly) {
    TempDirectory temp;
    MemoryLog log;
    TypeParam store = [&] {
        if constexpr (std::is_same_v<TypeParam, SqliteKeyValueStore>) {
            return TypeParam(temp.path() / "store.sqlite", log);
        } else {
            return TypeParam();
        }
    }();
    for (double value : {-2.5, 5e-324, std::numeric_limits<double>::infinity(), -0.0}) {
        store.setDouble("weight", value);
        EXPECT_EQ(store.doubleForKey("weight"), value);
    }
    EXPECT_TRUE(std::signbit(store.doubleForKey("weight").value()));
    store.setDouble("weight", std::nan(""));
    EXPECT_TRUE(std::isnan(store.doubleForKey("weight").value()));
    for (const Strings& list : {Strings{}, Strings{""}, Strings{"quote\"", "]", "\\", "nul\0b"s}}) {
        store.setStringList("exercises", list);
        EXPECT_EQ(store.stringListForKey("exercises"), list);
    }
    store.setStringList("names", {"bad\xFF"});
    EXPECT_EQ(store.stringListForKey("names"), Strings{"bad\xEF\xBF\xBD"});
    store.setData("blob", Data{0, 255, 1});
    EXPECT_EQ(store.dataForKey("blob"), (Data{0, 255, 1}));
    EXPECT_EQ(store.doubleForKey("blob"), std::nullopt);
    store.removeObject("blob");
    EXPECT_EQ(store.dataForKey("blob"), std::nullopt);

    store.setBool("flag", true);
    EXPECT_EQ(store.doubleForKey("flag"), 1.0);
    EXPECT_EQ(store.stringListForKey("flag"), std::nullopt);
    store.setDouble("flag", 0.0);
    EXPECT_EQ(store.boolForKey("flag"), false);
    store.setDouble("flag", 0.5);
    EXPECT_EQ(store.boolForKey("flag"), std::nullopt);
    EXPECT_TRUE(log.lines().empty());
}

TEST(SqliteKeyValueStoreTest, EveryAcknowledgedWriteSurvivesAKillAtAnArbitraryMoment) {
    TempDirectory temp;
    const auto file = temp.path() / "standard.sqlite";
    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::close(acks[0]);
        MemoryLog childLog;
        SqliteKeyValueStore store(file, childLog);
        for (int i = 0; i < 100000; ++i) {
            store.setData("key." + std::to_string(i), Data(static_cast<std::size_t>(i % 300), 7));
            if (::write(acks[1], &i, sizeof i) != sizeof i) {
                ::_exit(2);
            }
        }
        ::_exit(0);
    }
    ::close(acks[1]);
    int acknowledged = -1;
    int i = 0;
    while (acknowledged < 30 && ::read(acks[0], &i, sizeof i) == sizeof i) {
        acknowledged = i;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(acks[0]);
    ASSERT_GE(acknowledged, 30) << "the writer stopped early, status " << status;

    MemoryLog log;
    SqliteKeyValueStore store(file, log);
    for (int k = 0; k <= acknowledged; ++k) {
        EXPECT_EQ(store.dataForKey("key." + std::to_string(k)),
                  Data(static_cast<std::size_t>(k % 300), 7))
            << k;
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST(SqliteKeyValueStoreTest, AStoreWithDamagedPagesIsMovedAsideAndTheFreshOneIsDurable) {
    TempDirectory temp;
    const auto file = temp.path() / "standard.sqlite";
    MemoryLog log;
    {
        SqliteKeyValueStore store(file, log);
        for (int i = 0; i < 40; ++i) {
            store.setData("key." + std::to_string(i), Data(5000, 1));
        }
    }
    {
        std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(std::filesystem::file_size(file) / 2));
        out << std::string(3 * 4096, '\x5A');
    }
    const auto damaged = TempDirectory::readText(file);
    {
        SqliteKeyValueStore store(file, log);
        EXPECT_EQ(store.dataForKey("key.0"), std::nullopt);
        store.setBool("kept", true);
    }
    const auto names = TempDirectory::list(temp.path());
    const auto moved = std::find_if(names.begin(), names.end(), [](const auto& name) {
        return name.starts_with("standard.sqlite.unreadable-");
    });
    ASSERT_NE(moved, names.end());
    EXPECT_EQ(TempDirectory::readText(temp.path() / *moved), damaged);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(SqliteKeyValueStore(file, log).boolForKey("kept"), true);
    EXPECT_EQ(log.lines().size(), 1u) << "only the first open found a bad file";
}

TEST(SqliteKeyValueStoreTest, AFileThatCannotBeMadeLeavesTheValuesInMemory) {
    TempDirectory temp;
    MemoryLog log;
    TempDirectory::writeText(temp.path() / "plain", "a file, not a directory");
    SqliteKeyValueStore store(temp.path() / "plain" / "standard.sqlite", log);
    store.setStringList("k", {"v"});
    EXPECT_EQ(store.stringListForKey("k"), Strings{"v"});
    EXPECT_EQ(log.lines().size(), 1u);
}

} // namespace
} // namespace platform
