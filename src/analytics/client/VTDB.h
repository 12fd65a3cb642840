#pragma once

#include "client/PersistenceType.h"
#include "client/QueuedRecord.h"
#include "client/VeltraceType.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace veltrace {

// The durable record queue of one client instance: one SQLite database in the caches folder with a
// table per record kind. Failures are logged and swallowed; a failed write deletes and rebuilds the
// database, except when another connection merely holds a lock. Not thread-safe: one thread at a time
// (the instance's tracking queue).
class VTDB {
  public:
    static constexpr std::string_view DB_FILE_NAME = "VTDB.sqlite";
    static constexpr std::int64_t noLimit = std::numeric_limits<std::int64_t>::max();

    struct Options {
        // How long a statement waits for another connection's lock before it gives up.
        std::chrono::milliseconds busyTimeout{5000};
        // Insertion time, seconds since 1970-01-01 UTC; the system clock when empty.
        std::function<double()> now;
    };

    explicit VTDB(std::string_view token);
    VTDB(std::string_view token, Options options);
    ~VTDB();
    VTDB(const VTDB&) = delete;
    VTDB& operator=(const VTDB&) = delete;

    // Opens or creates the database file and makes sure the three tables and their indexes exist.
    void open();
    void close();
    bool isOpen() const { return connection_ != nullptr; }

    void insertRow(PersistenceType type, std::string_view data, bool flag);

    // Groups the inserts made while it lives into one transaction, committed when it goes, so that a
    // burst of records costs one commit. Without the transaction (it could not be begun), each insert
    // commits on its own as usual.
    class InsertBatch {
      public:
        explicit InsertBatch(VTDB& db) : db_(db) { db_.beginInserts(); }
        ~InsertBatch() { db_.commitInserts(); }
        InsertBatch(const InsertBatch&) = delete;
        InsertBatch& operator=(const InsertBatch&) = delete;

      private:
        VTDB& db_;
    };
    // The oldest rows with the given flag, at most numRows (noLimit: all), each record with its row id
    // under "id". Rows whose data is not a JSON object are skipped, not deleted.
    std::vector<RecordMap> readRows(PersistenceType type, std::int64_t numRows, bool flag);
    // The same rows without decoding them: each stored record with its id spliced in, for sending as it
    // is. With excludeAutomaticEvents, records whose event name begins with "$ae_" are left out (and stay).
    std::vector<QueuedRecord> readQueuedRecords(PersistenceType type, std::int64_t numRows, bool flag,
                                                bool excludeAutomaticEvents);
    // Gives every row whose flag is !newFlag the flag newFlag.
    void updateRowsFlag(PersistenceType type, bool newFlag);
    // Deletes the rows with these ids, or every row of the table when isDeleteAll is set.
    void deleteRows(PersistenceType type, const std::vector<std::int32_t>& ids, bool isDeleteAll);
    // Closes the connection, deletes the database file, and opens a fresh, empty database.
    void recreate();

    // The token with everything but letters, marks and digits removed.
    const std::string& apiToken() const { return apiToken_; }
    // The database file: apiToken + "_" + DB_FILE_NAME in the caches folder; nothing without one.
    std::optional<std::filesystem::path> pathToDb() const;
    std::string tableName(PersistenceType type) const;
    static std::string indexName(PersistenceType type);

    // The statement texts.
    static std::string createTableStatement(std::string_view table);
    static std::string createIndexStatement(std::string_view index, std::string_view table);
    static std::string insertStatement(std::string_view table);
    static std::string selectStatement(std::string_view table, std::int64_t numRows, bool flag);
    static std::string updateFlagStatement(std::string_view table, bool newFlag);
    static std::string deleteStatement(std::string_view table, const std::vector<std::int32_t>& ids,
                                       bool isDeleteAll);

    // Inserts that failed only because another connection held the database, kept for the next write.
    size_t pendingRowCount() const { return pendingRows_.size(); }
    static constexpr size_t maxPendingRows = 1000;

  private:
    struct ConnectionCloser {
        void operator()(sqlite3* connection) const;
    };
    struct PendingRow {
        PersistenceType type;
        std::string data;
        bool flag;
        double time;
    };
    enum class WriteResult { done, failed, busy };
    // Steps the SELECT, handing each row to take (row statement, id); take answers whether the row could
    // be used. Rows that could not are deleted, with a warning, and the SELECT runs again, until it gives
    // only usable rows: left in place they would take a slot of every batch for ever.
    template <class Take, class Reset>
    void selectUsableRows(PersistenceType type, const std::string& sql, Take take, Reset reset);

    void beginInserts();
    void commitInserts();
    bool reconnect();
    void logSqlError(std::string_view message);
    void createTableFor(PersistenceType type);
    void createIndexFor(PersistenceType type);
    WriteResult insert(PersistenceType type, std::string_view data, bool flag, double time);
    void retryPendingRows();
    bool connectWithPendingRowsWritten();
    // The words of a write's log lines: "UPDATE statement…", "Successfully updated…", "Failed to update…".
    struct WriteWords {
        const char* statement;
        const char* past;
        const char* verb;
    };
    void executeWrite(const std::string& sql, const std::string& table, const WriteWords& words,
                      const char* operation);
    // Handles a failed write: a lock held elsewhere is only logged, anything else rebuilds the database.
    void writeFailed(int resultCode);

    std::string apiToken_;
    Options options_;
    std::unique_ptr<sqlite3, ConnectionCloser> connection_;
    std::vector<PendingRow> pendingRows_;
};

} // namespace veltrace
