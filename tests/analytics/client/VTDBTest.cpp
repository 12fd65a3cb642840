#include "client/VTDB.h"
#include "client/PrintLogging.h"
#include "client/UnicodeCategory.h"

#include "LogCapture.h"
#include "SmallFileSystem.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

using namespace veltrace;
namespace fs = std::filesystem;

namespace {

// A connection of the test's own, to look at (or get in the way of) the store's file.
class RawDatabase {
  public:
    explicit RawDatabase(const fs::path& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~RawDatabase() { sqlite3_close_v2(db_); }
    int exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> values;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK)
            while (sqlite3_step(statement) == SQLITE_ROW) {
                const auto* text = sqlite3_column_text(statement, 0);
                values.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
            }
        sqlite3_finalize(statement);
        return values;
    }

  private:
    sqlite3* db_ = nullptr;
};

class VTDBTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vtdb-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        caches_ = root_ / "cache"; // missing on purpose: the store creates it
        ::setenv("XDG_CACHE_HOME", caches_.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Insertion times come from the test, so the expected order is exact.
    VTDB::Options clockedOptions() {
        VTDB::Options options;
        options.now = [this] { return time_; };
        options.busyTimeout = std::chrono::milliseconds(50);
        return options;
    }
    static std::vector<std::string> events(const std::vector<RecordMap>& rows) {
        std::vector<std::string> names;
        for (const auto& row : rows)
            names.push_back(*row.at("event").string());
        return names;
    }
    static std::string record(const std::string& name) { return R"({"event":")" + name + R"("})"; }
    std::set<std::string> schema() {
        RawDatabase raw(caches_ / "abc1_VTDB.sqlite");
        const auto names = raw.column("SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%'");
        return {names.begin(), names.end()};
    }
    static bool said(const std::vector<LogMessage>& messages, const std::string& text) {
        return test::LogCapture::count(messages, text) > 0;
    }

    fs::path root_, caches_;
    double time_ = 1000;
    test::LogCapture log_;
};

const std::set<std::string> fullSchema = {"veltrace_abc1_events", "veltrace_abc1_people",
                                          "veltrace_abc1_groups", "idx_events_time",
                                          "idx_people_time",      "idx_groups_time"};

} // namespace

TEST_F(VTDBTest, TokenIsFilteredIntoTheFileTableAndIndexNames) {
    VTDB store("ab-c_1");
    EXPECT_EQ(store.apiToken(), "abc1");
    EXPECT_EQ(store.pathToDb(), caches_ / "abc1_VTDB.sqlite");
    EXPECT_EQ(store.tableName(PersistenceType::people), "veltrace_abc1_people");
    EXPECT_EQ(VTDB::indexName(PersistenceType::groups), "idx_groups_time");
    EXPECT_EQ(schema(), fullSchema);
    EXPECT_EQ(RawDatabase(*store.pathToDb()).column("PRAGMA journal_mode"), std::vector<std::string>{"wal"});
    const auto messages = log_.take();
    EXPECT_TRUE(said(messages, "SQLite journal mode set to wal"));
    EXPECT_TRUE(said(messages, "veltrace_abc1_groups table created"));
    EXPECT_TRUE(said(messages, "idx_events_time index created"));

    // Letters, marks and digits of every script stay; symbols, punctuation and broken bytes go.
    EXPECT_EQ(UnicodeCategory::keepLettersMarksAndNumbers("Ä-e\u0301_\u0661 \U0001F4A5x\xff\xc3"),
              "Äe\u0301\u0661x");
}

TEST_F(VTDBTest, QueueFilesAreReadableByTheUserOnly) {
    VTDB store("abc1");
    store.insertRow(PersistenceType::events, record("a"), false);
    EXPECT_EQ(fs::status(caches_).permissions() & fs::perms::all, fs::perms::owner_all);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const fs::path file = store.pathToDb()->string() + suffix;
        ASSERT_TRUE(fs::exists(file)) << file;
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << file;
    }
}

TEST_F(VTDBTest, StatementTexts) {
    EXPECT_EQ(VTDB::createTableStatement("T"), "CREATE TABLE IF NOT EXISTS T(id integer primary key "
                                               "autoincrement,data blob,time real,flag integer);");
    EXPECT_EQ(VTDB::createIndexStatement("X", "T"), "CREATE INDEX IF NOT EXISTS X ON T (time);");
    EXPECT_EQ(VTDB::insertStatement("T"), "INSERT INTO T (data, flag, time) VALUES(?, ?, ?);");
    EXPECT_EQ(VTDB::selectStatement("T", VTDB::noLimit, true),
              "SELECT id, data FROM T WHERE flag = 1 ORDER BY time");
    EXPECT_EQ(VTDB::selectStatement("T", 50, false),
              "SELECT id, data FROM T WHERE flag = 0 ORDER BY time LIMIT 50");
    EXPECT_EQ(VTDB::updateFlagStatement("T", true), "UPDATE T SET flag = true where flag = false");
    EXPECT_EQ(VTDB::updateFlagStatement("T", false), "UPDATE T SET flag = false where flag = true");
    EXPECT_EQ(VTDB::deleteStatement("T", {3, 4, 9}, false), "DELETE FROM T WHERE id IN (3,4,9)");
    EXPECT_EQ(VTDB::deleteStatement("T", {3, 4, 9}, true), "DELETE FROM T");
}

TEST_F(VTDBTest, ReadsOldestFirstWithIdsFlagsAndLimits) {
    VTDB store("abc1", clockedOptions());
    for (auto [name, at, flag] : {std::tuple{"third", 30.0, false},
                                  {"first", 10.0, false},
                                  {"flagged", 5.0, true},
                                  {"second", 20.0, false}}) {
        time_ = at;
        store.insertRow(PersistenceType::events, record(name), flag);
    }
    store.insertRow(PersistenceType::people, record("elsewhere"), false);

    const auto all = store.readRows(PersistenceType::events, VTDB::noLimit, false);
    EXPECT_EQ(events(all), (std::vector<std::string>{"first", "second", "third"}));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(all[0].at("id").valueEquals(VeltraceType(2))); // ids follow insertion, order follows time
    EXPECT_TRUE(all[2].at("id").valueEquals(VeltraceType(1)));
    EXPECT_EQ(events(store.readRows(PersistenceType::events, 2, false)),
              (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(events(store.readRows(PersistenceType::events, VTDB::noLimit, true)),
              std::vector<std::string>{"flagged"});
    EXPECT_TRUE(said(log_.take(), "Successfully read 3 from table veltrace_abc1_events"));

    // Rows that are not JSON objects can never be sent: they are deleted, and the batch is filled with
    // records instead.
    RawDatabase raw(*store.pathToDb());
    ASSERT_EQ(
        raw.exec(
            "INSERT INTO veltrace_abc1_events (data, flag, time) VALUES (CAST('not json' AS BLOB), 0, 1),"
            " (CAST('[1,2]' AS BLOB), 0, 2), (NULL, 0, 3)"),
        SQLITE_OK);
    log_.take();
    EXPECT_EQ(events(store.readRows(PersistenceType::events, 2, false)),
              (std::vector<std::string>{"first", "second"}));
    const auto messages = log_.take();
    EXPECT_TRUE(said(messages, "No blob found in data column for row in veltrace_abc1_events"));
    EXPECT_TRUE(said(messages, "Deleting 2 rows of table veltrace_abc1_events that cannot be decoded"));
    EXPECT_TRUE(said(messages, "Deleting 1 rows of table veltrace_abc1_events that cannot be decoded"));
    EXPECT_EQ(raw.column("SELECT count(*) FROM veltrace_abc1_events"), std::vector<std::string>{"4"});
    EXPECT_FALSE(said(messages, "Connection to database closed."));
}

TEST_F(VTDBTest, UpdatesFlagsAndDeletesRows) {
    VTDB store("abc1", clockedOptions());
    for (int i = 1; i <= 9; ++i) {
        time_ = i;
        store.insertRow(PersistenceType::people, record("p" + std::to_string(i)), i % 2 == 1);
    }
    store.updateRowsFlag(PersistenceType::people, false);
    EXPECT_TRUE(store.readRows(PersistenceType::people, VTDB::noLimit, true).empty());
    EXPECT_EQ(store.readRows(PersistenceType::people, VTDB::noLimit, false).size(), 9u);
    store.updateRowsFlag(PersistenceType::people, true);
    EXPECT_EQ(store.readRows(PersistenceType::people, VTDB::noLimit, true).size(), 9u);
    EXPECT_TRUE(said(log_.take(), "Successfully updated rows from table veltrace_abc1_people"));

    store.deleteRows(PersistenceType::people, {3, 4, 9}, false);
    EXPECT_EQ(events(store.readRows(PersistenceType::people, VTDB::noLimit, true)),
              (std::vector<std::string>{"p1", "p2", "p5", "p6", "p7", "p8"}));
    store.deleteRows(PersistenceType::people, {}, false); // nothing to delete, and nothing is wiped
    EXPECT_EQ(store.readRows(PersistenceType::people, VTDB::noLimit, true).size(), 6u);
    store.deleteRows(PersistenceType::people, {1}, true);
    EXPECT_TRUE(store.readRows(PersistenceType::people, VTDB::noLimit, true).empty());
    EXPECT_TRUE(said(log_.take(), "Successfully deleted rows from table veltrace_abc1_people"));
}

TEST_F(VTDBTest, RowsOfAnEarlierRunStayQueued) {
    {
        VTDB store("abc1");
        store.insertRow(PersistenceType::groups, record("kept"), false);
    }
    VTDB store("abc1");
    EXPECT_EQ(events(store.readRows(PersistenceType::groups, VTDB::noLimit, false)),
              std::vector<std::string>{"kept"});
}

TEST_F(VTDBTest, ATableThatWentMissingIsMadeAgainAndTheOtherTablesKeepTheirRows) {
    VTDB store("abc1");
    store.insertRow(PersistenceType::people, record("kept"), false);
    RawDatabase(*store.pathToDb()).exec("DROP TABLE veltrace_abc1_events");
    log_.take();

    store.insertRow(PersistenceType::events, record("stored"), false);
    const auto messages = log_.take();
    EXPECT_TRUE(said(messages, "Failed to insert row into table veltrace_abc1_events"));
    EXPECT_TRUE(said(messages, "no such table: veltrace_abc1_events"));
    EXPECT_FALSE(test::LogCapture::containsPrefix(messages, "Deleted database file"));
    EXPECT_EQ(schema(), fullSchema);
    EXPECT_EQ(events(store.readRows(PersistenceType::events, VTDB::noLimit, false)),
              std::vector<std::string>{"stored"});
    EXPECT_EQ(events(store.readRows(PersistenceType::people, VTDB::noLimit, false)),
              std::vector<std::string>{"kept"});
}

// A damaged queue is kept aside as <file>.corrupt (only the newest), and nothing written after the
// damage is lost: the write that met it goes into the fresh database.
TEST_F(VTDBTest, DamagedDatabaseFileIsKeptAsideAndTheWriteThatMetTheDamageIsMadeAgain) {
    const auto file = caches_ / "abc1_VTDB.sqlite";
    const auto kept = fs::path(file.string() + ".corrupt");
    const auto randomBytes = [&] {
        std::mt19937 random(42);
        std::ofstream garbage(file, std::ios::binary);
        for (int i = 0; i < 8192; ++i)
            garbage.put(static_cast<char>(random()));
    };
    const auto cutInHalf = [&] {
        {
            VTDB full("abc1");
            for (int i = 0; i < 200; ++i)
                full.insertRow(PersistenceType::events, record(std::string(200, 'x')), false);
        } // closing checkpoints the log into the file
        fs::resize_file(file, fs::file_size(file) / 2);
    };
    const struct {
        const char* damage;
        std::function<void()> make;
        bool olderCopyKept;
    } cases[] = {{"random bytes", randomBytes, false},
                 {"cut to half its size", cutInHalf, false},
                 {"random bytes, an older copy kept", randomBytes, true}};
    for (const auto& damage : cases) {
        SCOPED_TRACE(damage.damage);
        fs::remove_all(caches_);
        fs::create_directories(caches_);
        if (damage.olderCopyKept)
            std::ofstream(kept) << "older";
        damage.make();
        const auto damagedSize = fs::file_size(file);
        log_.take();

        VTDB store("abc1", clockedOptions());
        time_ = 1;
        store.insertRow(PersistenceType::events, record("met the damage"), false);
        time_ = 2;
        store.insertRow(PersistenceType::events, record("stored"), false);
        EXPECT_EQ(events(store.readRows(PersistenceType::events, 50, false)),
                  (std::vector<std::string>{"met the damage", "stored"}));
        EXPECT_EQ(schema(), fullSchema);
        ASSERT_TRUE(fs::exists(kept));
        EXPECT_EQ(fs::file_size(kept), damagedSize) << "the newest damaged file is the one kept";
        EXPECT_TRUE(test::LogCapture::containsPrefix(log_.take(), "Queue database at path: " + file.string() +
                                                                      " is not usable ("));
    }
}

TEST_F(VTDBTest, DatabaseLockedByAnotherConnectionIsNeitherWipedNorLosesRows) {
    VTDB store("abc1", clockedOptions());
    time_ = 1;
    store.insertRow(PersistenceType::events, record("before"), false);
    RawDatabase other(*store.pathToDb());
    ASSERT_EQ(other.exec("BEGIN IMMEDIATE"), SQLITE_OK); // holds the write lock
    log_.take();

    time_ = 2;
    store.insertRow(PersistenceType::events, record("while locked"), false);
    store.updateRowsFlag(PersistenceType::events, true);
    EXPECT_EQ(store.pendingRowCount(), 1u);
    // Readers are not blocked in write-ahead-log mode.
    EXPECT_EQ(events(store.readRows(PersistenceType::events, 50, false)), std::vector<std::string>{"before"});
    const auto messages = log_.take();
    EXPECT_TRUE(said(messages, "database is locked"));
    EXPECT_FALSE(test::LogCapture::containsPrefix(messages, "Deleted database file"));

    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
    time_ = 3;
    store.insertRow(PersistenceType::events, record("after"), false);
    EXPECT_EQ(store.pendingRowCount(), 0u);
    // The flag change held back with the row is made after it, and before the row that came later.
    EXPECT_EQ(events(store.readRows(PersistenceType::events, 50, true)),
              (std::vector<std::string>{"before", "while locked"}));
    EXPECT_EQ(events(store.readRows(PersistenceType::events, 50, false)), std::vector<std::string>{"after"});
}

TEST_F(VTDBTest, AFullDiskKeepsTheQueueFileAndEveryRowIsStoredOnceThereIsRoomAgain) {
    test::SmallFileSystem disk(1 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    ::setenv("XDG_CACHE_HOME", (disk.path() / "cache").c_str(), 1);
    const auto inode = [](const fs::path& file) {
        struct stat info {};
        return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    VTDB store("abc1", clockedOptions());
    for (int i = 1; i <= 3; ++i) {
        time_ = i;
        store.insertRow(PersistenceType::events, record("before" + std::to_string(i)), false);
    }
    const auto file = *store.pathToDb();
    const auto queueFile = inode(file);
    const auto delivered = store.readRows(PersistenceType::events, 1, false);
    ASSERT_EQ(events(delivered), std::vector<std::string>{"before1"});

    disk.fill();
    log_.take();
    time_ = 4;
    store.insertRow(PersistenceType::events, record("during1"), false);
    {
        VTDB::InsertBatch batch(store);
        time_ = 5;
        store.insertRow(PersistenceType::events, record("during2"), false);
        time_ = 6;
        store.insertRow(PersistenceType::events, record("during3"), false);
    }
    const auto deliveredId = static_cast<std::int32_t>(*delivered[0].at("id").get<std::int64_t>());
    store.deleteRows(PersistenceType::events, {deliveredId}, false);
    EXPECT_EQ(store.pendingRowCount(), 3u);
    EXPECT_EQ(events(store.readRows(PersistenceType::events, VTDB::noLimit, false)),
              (std::vector<std::string>{"before2", "before3"}))
        << "a delivered row must not be read again, its deletion written or not";
    EXPECT_TRUE(said(log_.take(), "database or disk is full"));

    disk.empty();
    time_ = 7;
    store.insertRow(PersistenceType::events, record("after"), false);
    EXPECT_EQ(store.pendingRowCount(), 0u);
    EXPECT_EQ(events(store.readRows(PersistenceType::events, VTDB::noLimit, false)),
              (std::vector<std::string>{"before2", "before3", "during1", "during2", "during3", "after"}));
    EXPECT_EQ(inode(file), queueFile) << "the queue file was replaced";
    EXPECT_FALSE(fs::exists(file.string() + ".corrupt"));

    // A first start on a full disk: the new file cannot even get its tables yet.
    disk.fill();
    VTDB fresh("def2", clockedOptions());
    time_ = 8;
    fresh.insertRow(PersistenceType::events, record("first"), false);
    EXPECT_EQ(fresh.pendingRowCount(), 1u);
    disk.empty();
    time_ = 9;
    fresh.insertRow(PersistenceType::events, record("second"), false);
    EXPECT_EQ(events(fresh.readRows(PersistenceType::events, VTDB::noLimit, false)),
              (std::vector<std::string>{"first", "second"}));
}

TEST_F(VTDBTest, RowsKeptInMemoryAreBoundedByCountAndSizeAndTheOldestGoFirst) {
    const struct {
        size_t rows;
        size_t bytes;
        size_t kept;
    } cases[] = {{VTDB::maxPendingRows + 2, 10, VTDB::maxPendingRows}, {5, VTDB::maxPendingBytes / 3, 2}};
    for (const auto& bound : cases) {
        SCOPED_TRACE(bound.rows);
        fs::remove_all(caches_);
        auto options = clockedOptions();
        options.busyTimeout = std::chrono::milliseconds(0);
        VTDB store("abc1", options);
        RawDatabase other(*store.pathToDb());
        ASSERT_EQ(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
        for (size_t i = 0; i < bound.rows; ++i) {
            time_ = static_cast<double>(i);
            store.insertRow(PersistenceType::events,
                            R"({"event":")" + std::to_string(i) + R"(","pad":")" +
                                std::string(bound.bytes, 'p') + R"("})",
                            false);
        }
        EXPECT_EQ(store.pendingRowCount(), bound.kept);
        ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
        const auto stored = events(store.readRows(PersistenceType::events, VTDB::noLimit, false));
        ASSERT_EQ(stored.size(), bound.kept);
        EXPECT_EQ(stored.front(), std::to_string(bound.rows - bound.kept));
        EXPECT_EQ(stored.back(), std::to_string(bound.rows - 1));
    }
}

TEST_F(VTDBTest, RowsHeldBackByALockTakePartInLaterFlagChangesAndDeleteAll) {
    VTDB store("abc1", clockedOptions());
    {
        RawDatabase other(*store.pathToDb());
        ASSERT_EQ(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
        store.insertRow(PersistenceType::people, record("unidentified"), true);
        store.insertRow(PersistenceType::groups, record("reset"), false);
        ASSERT_EQ(store.pendingRowCount(), 2u);
        ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
    }
    // Identifying the user must also cover the record queued while the lock was held ...
    store.updateRowsFlag(PersistenceType::people, false);
    EXPECT_EQ(events(store.readRows(PersistenceType::people, VTDB::noLimit, false)),
              std::vector<std::string>{"unidentified"});
    // ... and a reset must not let such a record come back afterwards.
    store.deleteRows(PersistenceType::groups, {}, true);
    EXPECT_EQ(store.pendingRowCount(), 0u);
    EXPECT_TRUE(store.readRows(PersistenceType::groups, VTDB::noLimit, false).empty());
}

TEST_F(VTDBTest, OperationAfterReconnectIsCarriedOut) {
    VTDB store("abc1");
    store.close();
    log_.take();
    store.insertRow(PersistenceType::events, record("kept"), false);
    const auto messages = log_.take();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front().text, "No database connection found. Calling VTDB.open()");
    EXPECT_EQ(messages.front().function, "reconnect()");
    EXPECT_EQ(events(store.readRows(PersistenceType::events, 50, false)), std::vector<std::string>{"kept"});
}

TEST_F(VTDBTest, EmptyTokenMakesEveryOperationLogAndDoNothing) {
    VTDB store("-_- !");
    auto messages = log_.take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(
        PrintLogging::format(messages[0]),
        "[Veltrace - VTDB.cpp - func open()] (error) - Project token must not be empty. Database cannot be "
        "opened.");

    store.insertRow(PersistenceType::events, record("x"), false);
    EXPECT_TRUE(store.readRows(PersistenceType::events, 50, false).empty());
    messages = log_.take();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].text, "No database connection found. Calling VTDB.open()");
    EXPECT_EQ(messages[1].text, "Project token must not be empty. Database cannot be opened.");
    EXPECT_EQ(messages[2].text, messages[0].text);
    EXPECT_FALSE(fs::exists(caches_));
}
