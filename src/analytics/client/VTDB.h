#pragma once

#include "client/PersistenceType.h"
#include "client/QueuedRecord.h"
#include "client/VeltraceType.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace veltrace {

// The durable record queue of one client instance: one SQLite database in the caches folder with a
// table per record kind. Failures are logged and swallowed. A write that fails because another
// connection holds the lock, or for want of resources (a full disk, an I/O error, a file that is
// read-only or cannot be opened), leaves the file alone: the write is kept in memory and made again,
// in order, before the next one. Only a damaged file is replaced: it is kept aside as <file>.corrupt,
// and the writes it refused go into a fresh database. Not thread-safe: one thread at a time (the
// instance's tracking queue).
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

    // Rows whose insert has not succeeded yet, kept for the next write. Past either bound the oldest
    // is dropped.
    size_t pendingRowCount() const;
    static constexpr size_t maxPendingRows = 1000;
    static constexpr size_t maxPendingBytes = 1 << 20;

  private:
    struct ConnectionCloser {
        void operator()(sqlite3* connection) const;
    };
    enum class WriteKind { insert, update, remove };
    // A write not made yet. Updates and deletions carry their statement; a deletion also what it removes,
    // which reads leave out meanwhile.
    struct PendingWrite {
        WriteKind kind;
        PersistenceType type;
        std::string sql;
        std::string data;
        bool flag = false;
        double time = 0;
        std::vector<std::int32_t> deletedIds;
        bool deletesAll = false;
    };
    // The words of a write's log lines: "UPDATE statement…", "Successfully updated…", "Failed to update…".
    struct WriteWords {
        const char* statement;
        const char* past;
        const char* verb;
        const char* operation;
    };
    static const WriteWords& wordsFor(WriteKind kind);

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
    // Queues the write behind those kept back and makes as many as the database takes, in order.
    void write(PendingWrite write);
    void writePending();
    // The SQLite result of one write; SQLITE_DONE when it was made (or refused for good).
    int attempt(const PendingWrite& write);
    void reportHeld(const char* reason);
    // The open transaction ended without storing anything: what it had written is to be made again.
    void takeBackTransaction();
    void dropOldestBeyondBounds();
    void replaceDamagedFile();
    bool connectWithPendingRowsWritten();
    bool isPendingDeletion(PersistenceType type, std::int32_t id) const;

    std::string apiToken_;
    Options options_;
    std::unique_ptr<sqlite3, ConnectionCloser> connection_;
    std::deque<PendingWrite> pendingWrites_;
    bool inTransaction_ = false;
    std::vector<PendingWrite> writtenInTransaction_;
    std::map<PersistenceType, std::int32_t> highestIdRead_;
};

} // namespace veltrace
