// Benchmark baseline: a bare sqlite3 database with the event store's pragmas, schema and index, and an
// insert done by hand the way the store does it (prepare, bind, step, finalize per row). Not thread-safe.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string_view>

namespace veltrace::bench {

class PlainStore {
  public:
    explicit PlainStore(const std::filesystem::path& file) {
        sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        sqlite3_busy_timeout(db_, 5000);
        sqlite3_exec(db_,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                     "CREATE TABLE IF NOT EXISTS t(id integer primary key autoincrement,data blob,time real,"
                     "flag integer);"
                     "CREATE INDEX IF NOT EXISTS idx_t_time ON t (time);",
                     nullptr, nullptr, nullptr);
    }
    ~PlainStore() { sqlite3_close_v2(db_); }
    PlainStore(const PlainStore&) = delete;
    PlainStore& operator=(const PlainStore&) = delete;

    // False when the row was not written.
    bool insert(std::string_view record) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, "INSERT INTO t (data, flag, time) VALUES(?, ?, ?);", -1, &statement, nullptr);
        sqlite3_bind_blob(statement, 1, record.data(), static_cast<int>(record.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(statement, 2, 0);
        sqlite3_bind_double(statement, 3, time_ += 0.001);
        const bool done = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_finalize(statement);
        return done;
    }

  private:
    sqlite3* db_ = nullptr;
    double time_ = 1.7e9;
};

} // namespace veltrace::bench
