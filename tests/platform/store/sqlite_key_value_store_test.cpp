#include "platform/store/sqlite_key_value_store.hpp"

#include "platform/files/temp_directory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempDirectory;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string key(int i) {
    return "key." + std::to_string(i);
}

// Files in dir whose names start with prefix, sorted.
std::vector<std::string> named(const fs::path& dir, std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& name : TempDirectory::list(dir)) {
        if (name.starts_with(prefix)) {
            found.push_back(name);
        }
    }
    return found;
}

// The moved-aside copies of the database file itself, leaving out its -wal and -shm companions.
std::vector<std::string> movedAside(const fs::path& dir, std::string_view fileName) {
    std::vector<std::string> found;
    for (const auto& name : named(dir, std::string(fileName) + ".unreadable-")) {
        if (!name.ends_with("-wal") && !name.ends_with("-shm")) {
            found.push_back(name);
        }
    }
    return found;
}

// Runs SQL on the file through a connection of its own, as another program would.
void runSql(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

class SqliteKeyValueStoreTest : public ::testing::Test {
protected:
    TempDirectory temp;
    fs::path file = temp.path() / "standard.sqlite";
    MemoryLog log;
};

TEST_F(SqliteKeyValueStoreTest, ValuesSurviveClosingAndReopening) {
    {
        SqliteKeyValueStore store(file, log);
        EXPECT_FALSE(store.inMemory());
        store.setDouble("weight", 102.5);
        store.setBool("metric", true);
        store.setStringList("recent", {"Deadlift", "Row"});
        store.setData("token", Data{0, 1, 2, 254, 255});
        store.setDouble("removed", 1);
        store.removeObject("removed");
    }
    SqliteKeyValueStore store(file, log);
    EXPECT_EQ(store.doubleForKey("weight"), 102.5);
    EXPECT_EQ(store.boolForKey("metric"), true);
    EXPECT_EQ(store.stringListForKey("recent"), (std::vector<std::string>{"Deadlift", "Row"}));
    EXPECT_EQ(store.dataForKey("token"), (Data{0, 1, 2, 254, 255}));
    EXPECT_EQ(store.doubleForKey("removed"), std::nullopt);
    EXPECT_THAT(log.lines(), ElementsAre());
}

TEST_F(SqliteKeyValueStoreTest, WritesSurviveTheWriterBeingKilledRightAfterwards) {
    constexpr int count = 50;
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        MemoryLog childLog;
        SqliteKeyValueStore store(file, childLog);
        for (int i = 0; i < count; ++i) {
            store.setDouble(key(i), i);
        }
        store.setStringList("last", {"done"});
        ::kill(::getpid(), SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    SqliteKeyValueStore store(file, log);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(store.doubleForKey(key(i)), i) << key(i);
    }
    EXPECT_EQ(store.stringListForKey("last"), std::vector<std::string>{"done"});
    EXPECT_THAT(log.lines(), ElementsAre());
}

TEST_F(SqliteKeyValueStoreTest, EveryAcknowledgedWriteSurvivesAKillAtAnArbitraryMoment) {
    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::close(acks[0]);
        MemoryLog childLog;
        SqliteKeyValueStore store(file, childLog);
        for (int i = 0; i < 100000; ++i) {
            store.setData(key(i), Data(static_cast<std::size_t>(i % 300), 7));
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

    SqliteKeyValueStore store(file, log);
    for (int k = 0; k <= acknowledged; ++k) {
        EXPECT_EQ(store.dataForKey(key(k)), Data(static_cast<std::size_t>(k % 300), 7)) << key(k);
    }
    EXPECT_THAT(log.lines(), ElementsAre());
}

TEST_F(SqliteKeyValueStoreTest, MovesAFileThatIsNotADatabaseAsideAndStartsEmpty) {
    std::string garbage(10000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>(i * 7 + 3);
    }
    TempDirectory::writeText(file, garbage);
    TempDirectory::writeText(file.string() + "-wal", "stale log");

    SqliteKeyValueStore store(file, log);
    EXPECT_FALSE(store.inMemory());
    EXPECT_EQ(store.doubleForKey("anything"), std::nullopt);

    auto moved = movedAside(temp.path(), "standard.sqlite");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_THAT(moved[0], ::testing::MatchesRegex(
                              "standard\\.sqlite\\.unreadable-[0-9]{8}T[0-9]{6}Z(-[0-9]+)?"));
    EXPECT_EQ(TempDirectory::readText(temp.path() / moved[0]), garbage);
    EXPECT_EQ(TempDirectory::readText(temp.path() / (moved[0] + "-wal")), "stale log");
    for (const auto& name : named(temp.path(), "standard.sqlite.unreadable-")) {
        EXPECT_THAT(name, StartsWith(moved[0])) << "a companion under another name";
    }

    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "Unable to open key-value store " + file.string() +
                                  ": file is not a database; moved aside to " +
                                  (temp.path() / moved[0]).string());

    store.setDouble("fresh", 1);
    EXPECT_EQ(store.doubleForKey("fresh"), 1.0);
}

TEST_F(SqliteKeyValueStoreTest, TheFreshFileAfterMovingAsideIsDurable) {
    TempDirectory::writeText(file, "not a database, not even close");
    {
        SqliteKeyValueStore store(file, log);
        store.setBool("kept", true);
    }
    SqliteKeyValueStore store(file, log);
    EXPECT_EQ(store.boolForKey("kept"), true);
    EXPECT_EQ(log.lines().size(), 1u) << "only the first open found a bad file";
}

TEST_F(SqliteKeyValueStoreTest, EachBadFileGetsItsOwnName) {
    TempDirectory::writeText(file, "first bad file");
    { SqliteKeyValueStore store(file, log); }
    TempDirectory::writeText(file, "second bad file");
    { SqliteKeyValueStore store(file, log); }

    auto moved = movedAside(temp.path(), "standard.sqlite");
    ASSERT_EQ(moved.size(), 2u);
    std::vector<std::string> contents{TempDirectory::readText(temp.path() / moved[0]),
                                      TempDirectory::readText(temp.path() / moved[1])};
    EXPECT_THAT(contents, ::testing::UnorderedElementsAre("first bad file", "second bad file"));
}

TEST_F(SqliteKeyValueStoreTest, MovesAsideADatabaseWithSomeoneElsesTables) {
    runSql(file, "CREATE TABLE entries (x); INSERT INTO entries VALUES (42);");
    {
        SqliteKeyValueStore store(file, log);
        EXPECT_EQ(store.doubleForKey("x"), std::nullopt);
        store.setDouble("x", 1);
        EXPECT_EQ(store.doubleForKey("x"), 1.0);
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0], HasSubstr("unexpected schema; moved aside to"));

    fs::path other = temp.path() / "other.sqlite";
    runSql(other, "CREATE TABLE photos (id INTEGER PRIMARY KEY);");
    std::string foreign = TempDirectory::readText(other);
    SqliteKeyValueStore store(other, log);
    auto moved = movedAside(temp.path(), "other.sqlite");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(TempDirectory::readText(temp.path() / moved[0]), foreign) << "changed before moving";
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(SqliteKeyValueStoreTest, MovesAsideAStoreWithDamagedPages) {
    { SqliteKeyValueStore store(file, log); }
    runSql(file, "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1999)"
                 " INSERT INTO entries SELECT 'key.' || i, 'data', randomblob(100) FROM n;");
    ASSERT_FALSE(fs::exists(file.string() + "-wal")) << "closing should have checkpointed";
    auto size = fs::file_size(file);
    ASSERT_GT(size, 16u * 4096u);
    {
        std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size / 2));
        std::string noise(3 * 4096, '\x5A');
        out.write(noise.data(), static_cast<std::streamsize>(noise.size()));
    }
    std::string damaged = TempDirectory::readText(file);

    SqliteKeyValueStore store(file, log);
    EXPECT_FALSE(store.inMemory());
    EXPECT_EQ(store.dataForKey(key(0)), std::nullopt);
    auto moved = movedAside(temp.path(), "standard.sqlite");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(TempDirectory::readText(temp.path() / moved[0]), damaged);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0], StartsWith("Unable to open key-value store " + file.string()));
}

TEST_F(SqliteKeyValueStoreTest, MovesAsideADirectoryInTheFilesPlace) {
    fs::create_directories(file / "inside");
    SqliteKeyValueStore store(file, log);
    EXPECT_FALSE(store.inMemory());
    auto moved = movedAside(temp.path(), "standard.sqlite");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / moved[0] / "inside"));
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(SqliteKeyValueStoreTest, KeepsValuesInMemoryWhenNoFileCanBeMade) {
    TempDirectory::writeText(temp.path() / "plain", "a file, not a directory");
    fs::path impossible = temp.path() / "plain" / "standard.sqlite";
    SqliteKeyValueStore store(impossible, log);
    EXPECT_TRUE(store.inMemory());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0],
                StartsWith("Unable to open key-value store " + impossible.string() + ": "));
    EXPECT_THAT(log.lines()[0], ::testing::EndsWith("; keeping it in memory"));

    store.setStringList("k", {"v"});
    EXPECT_EQ(store.stringListForKey("k"), std::vector<std::string>{"v"});
    EXPECT_EQ(TempDirectory::readText(temp.path() / "plain"), "a file, not a directory");
}

TEST_F(SqliteKeyValueStoreTest, AFailedWriteIsLoggedAndKeepsTheOldValue) {
    SqliteKeyValueStore store(file, log, {.busyTimeout = std::chrono::milliseconds(0)});
    store.setDouble("k", 1);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_NO_THROW(store.setDouble("k", 2));
    EXPECT_NO_THROW(store.removeObject("k"));
    EXPECT_EQ(store.doubleForKey("k"), 1.0);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0],
              "Unable to write key-value store " + file.string() + ": database is locked");

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    store.setDouble("k", 3);
    EXPECT_EQ(store.doubleForKey("k"), 3.0);
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(SqliteKeyValueStoreTest, ARowOfAnUnknownTypeReadsAsNothingAndIsLogged) {
    { SqliteKeyValueStore store(file, log); }
    runSql(file, "INSERT INTO entries VALUES ('k', 'future-type', 1),"
                 " ('list', 'strings', '{not json');");
    SqliteKeyValueStore store(file, log);
    EXPECT_EQ(store.doubleForKey("k"), std::nullopt);
    EXPECT_EQ(store.stringListForKey("list"), std::nullopt);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_THAT(log.lines()[0], HasSubstr("future-type"));
}

TEST(SqliteKeyValueStores, PutEachStoreInItsOwnFileUnderDefaults) {
    TempDirectory temp;
    MemoryLog log;
    auto dir = temp.path() / "defaults";
    {
        SqliteKeyValueStores stores(temp.path(), log);
        EXPECT_EQ(stores.directory(), dir);
        EXPECT_EQ(stores.standardFile(), dir / "standard.sqlite");
        EXPECT_EQ(stores.suiteFile("group.lifts"), dir / "suite.group.lifts.sqlite");
        EXPECT_EQ(stores.suiteFile("a/b c"), dir / "suite.a%2Fb%20c.sqlite");
        EXPECT_EQ(stores.suiteFile("../up"), dir / "suite...%2Fup.sqlite");

        stores.standard().setDouble("k", 1);
        stores.suite("group.lifts").setDouble("k", 2);
        stores.suite("a/b c").setDouble("k", 3);
    }
    EXPECT_TRUE(fs::exists(dir / "standard.sqlite"));
    EXPECT_TRUE(fs::exists(dir / "suite.group.lifts.sqlite"));
    EXPECT_TRUE(fs::exists(dir / "suite.a%2Fb%20c.sqlite"));

    SqliteKeyValueStores again(temp.path(), log);
    EXPECT_EQ(again.standard().doubleForKey("k"), 1.0);
    EXPECT_EQ(again.suite("group.lifts").doubleForKey("k"), 2.0);
    EXPECT_EQ(again.suite("a/b c").doubleForKey("k"), 3.0);
    EXPECT_THAT(log.lines(), ElementsAre());
}

TEST(SqliteKeyValueStores, ShortenLongSuiteNamesWithoutMixingThemUp) {
    TempDirectory temp;
    MemoryLog log;
    SqliteKeyValueStores stores(temp.path(), log);
    std::string base(1000, 'x');
    auto first = stores.suiteFile(base + "1");
    auto second = stores.suiteFile(base + "2");
    EXPECT_NE(first, second);
    EXPECT_LE(first.filename().string().size(), 255u);
    EXPECT_EQ(first.parent_path(), stores.directory());

    stores.suite(base + "1").setDouble("k", 1);
    stores.suite(base + "2").setDouble("k", 2);
    EXPECT_EQ(stores.suite(base + "1").doubleForKey("k"), 1.0);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_THAT(log.lines(), ElementsAre());
}

TEST(SqliteKeyValueStores, FallBackToMemoryWhenTheDirectoryCannotBeMade) {
    TempDirectory temp;
    MemoryLog log;
    auto notADirectory = temp.path() / "file";
    TempDirectory::writeText(notADirectory, "x");
    SqliteKeyValueStores stores(notADirectory, log);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0], StartsWith("Unable to create key-value store directory " +
                                           (notADirectory / "defaults").string()));

    stores.standard().setBool("k", true);
    EXPECT_EQ(stores.standard().boolForKey("k"), true);
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_THAT(log.lines()[1], ::testing::EndsWith("keeping it in memory"));
}

} // namespace
} // namespace platform
