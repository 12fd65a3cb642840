#include "client/VTDB.h"

#include "client/DatabaseFile.h"
#include "client/Directories.h"
#include "client/JSONHandler.h"
#include "client/Logger.h"
#include "client/UnicodeCategory.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <iterator>

namespace veltrace {

namespace {

// Owns one prepared statement; finalized when it goes out of scope, whatever happened.
class Statement {
  public:
    Statement(sqlite3* connection, const std::string& sql)
        : result_(sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement_, nullptr)) {}
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return result_ == SQLITE_OK && statement_ != nullptr; }
    int prepareResult() const { return result_ == SQLITE_OK ? SQLITE_ERROR : result_; }
    sqlite3_stmt* get() const { return statement_; }

  private:
    sqlite3_stmt* statement_ = nullptr;
    int result_;
};

double secondsSince1970() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The queue holds the user's usage records: its files are readable by the user only. SQLite gives the
// -wal and -shm files the mode of the database file, so that file is made (or narrowed) first.
void makePrivateDatabaseFile(const std::filesystem::path& file) {
    std::error_code error;
    const auto folder = file.parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, error))
        Directories::createPrivateDirectory(folder); // a failure surfaces when SQLite opens the file
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        struct stat info {};
        if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == ::geteuid())
            ::fchmod(fd, 0600);
        ::close(fd);
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        const auto sibling = file.string() + suffix;
        struct stat info {};
        if (::stat(sibling.c_str(), &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == ::geteuid())
            ::chmod(sibling.c_str(), 0600);
    }
}

} // namespace

void VTDB::ConnectionCloser::operator()(sqlite3* connection) const {
    sqlite3_close_v2(connection);
}

VTDB::VTDB(std::string_view token) : VTDB(token, Options{}) {}

VTDB::VTDB(std::string_view token, Options options)
    : apiToken_(UnicodeCategory::keepLettersMarksAndNumbers(token)), options_(std::move(options)) {
    if (!options_.now)
        options_.now = secondsSince1970;
    open();
}

VTDB::~VTDB() {
    close();
}

std::optional<std::filesystem::path> VTDB::pathToDb() const {
    auto caches = Directories::cachesDirectory();
    if (!caches)
        return std::nullopt;
    return *caches / (apiToken_ + "_" + std::string(DB_FILE_NAME));
}

std::string VTDB::tableName(PersistenceType type) const {
    return "veltrace_" + apiToken_ + "_" + std::string(rawValue(type));
}

std::string VTDB::indexName(PersistenceType type) {
    return "idx_" + std::string(rawValue(type)) + "_time";
}

std::string VTDB::createTableStatement(std::string_view table) {
    return "CREATE TABLE IF NOT EXISTS " + std::string(table) +
           "(id integer primary key autoincrement,data blob,time real,flag integer);";
}

std::string VTDB::createIndexStatement(std::string_view index, std::string_view table) {
    return "CREATE INDEX IF NOT EXISTS " + std::string(index) + " ON " + std::string(table) + " (time);";
}

std::string VTDB::insertStatement(std::string_view table) {
    return "INSERT INTO " + std::string(table) + " (data, flag, time) VALUES(?, ?, ?);";
}

std::string VTDB::selectStatement(std::string_view table, std::int64_t numRows, bool flag) {
    std::string sql = "SELECT id, data FROM " + std::string(table) + " WHERE flag = " + (flag ? "1" : "0") +
                      " ORDER BY time";
    if (numRows != noLimit)
        sql += " LIMIT " + std::to_string(numRows);
    return sql;
}

std::string VTDB::updateFlagStatement(std::string_view table, bool newFlag) {
    return "UPDATE " + std::string(table) + " SET flag = " + (newFlag ? "true" : "false") +
           " where flag = " + (newFlag ? "false" : "true");
}

std::string VTDB::deleteStatement(std::string_view table, const std::vector<std::int32_t>& ids,
                                  bool isDeleteAll) {
    std::string sql = "DELETE FROM " + std::string(table);
    if (isDeleteAll)
        return sql;
    sql += " WHERE id IN (";
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i > 0)
            sql += ',';
        sql += std::to_string(ids[i]);
    }
    sql += ')';
    return sql;
}

void VTDB::open() {
    if (apiToken_.empty()) {
        Logger::error("Project token must not be empty. Database cannot be opened.", "open()");
        return;
    }
    const auto path = pathToDb();
    if (!path)
        return;
    connection_.reset();
    makePrivateDatabaseFile(*path);

    sqlite3* opened = nullptr;
    if (sqlite3_open_v2(path->c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        Logger::error([&] { return "Error opening or creating database at path: " + path->string(); },
                      "open()");
        if (opened) {
            Logger::error([&] { return std::string(sqlite3_errmsg(opened)); }, "open()");
            sqlite3_close_v2(opened);
        }
        Logger::info("Connection to database closed.", "open()");
        return;
    }
    connection_.reset(opened);
    sqlite3_busy_timeout(opened,
                         static_cast<int>(std::min<std::int64_t>(options_.busyTimeout.count(), INT_MAX)));
    Logger::info([&] { return "Successfully opened connection to database at path: " + path->string(); },
                 "open()");

    {
        Statement journalMode(opened, "PRAGMA journal_mode=WAL;");
        if (!journalMode.prepared()) {
            logSqlError("PRAGMA journal_mode=WAL statement could not be prepared");
        } else if (sqlite3_step(journalMode.get()) == SQLITE_ROW) {
            Logger::info(
                [&] {
                    const auto* mode = sqlite3_column_text(journalMode.get(), 0);
                    return "SQLite journal mode set to " +
                           std::string(mode ? reinterpret_cast<const char*>(mode) : "");
                },
                "open()");
        } else {
            logSqlError("Failed to enable journal_mode=WAL");
        }
    }
    // With write-ahead logging, NORMAL keeps every committed row across a crash of the program (only a
    // power cut can take the last ones) and spares the fsync per event that FULL costs.
    if (sqlite3_exec(opened, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr) != SQLITE_OK)
        logSqlError("Failed to set synchronous=NORMAL");
    for (const auto type : allPersistenceTypes) {
        createTableFor(type);
        createIndexFor(type);
    }
}

void VTDB::close() {
    connection_.reset();
    Logger::info("Connection to database closed.", "close()");
}

bool VTDB::reconnect() {
    if (connection_)
        return true;
    Logger::warning("No database connection found. Calling VTDB.open()", "reconnect()");
    open();
    // Reopened: the operation that found the connection missing goes ahead instead of being dropped.
    return connection_ != nullptr;
}

void VTDB::logSqlError(std::string_view message) {
    if (!reconnect())
        return;
    if (!message.empty())
        Logger::error(message, "logSqlError(message:)");
    Logger::error([&] { return std::string(sqlite3_errmsg(connection_.get())); }, "logSqlError(message:)");
}

void VTDB::createTableFor(PersistenceType type) {
    if (!reconnect())
        return;
    const auto table = tableName(type);
    Statement create(connection_.get(), createTableStatement(table));
    if (!create.prepared()) {
        logSqlError("CREATE statement for table " + table + " could not be prepared");
    } else if (sqlite3_step(create.get()) == SQLITE_DONE) {
        Logger::info([&] { return table + " table created"; }, "createTableFor(_:)");
    } else {
        logSqlError(table + " table create failed");
    }
}

void VTDB::createIndexFor(PersistenceType type) {
    if (!reconnect())
        return;
    const auto index = indexName(type);
    Statement create(connection_.get(), createIndexStatement(index, tableName(type)));
    if (!create.prepared()) {
        logSqlError("CREATE statement for index " + index + " could not be prepared");
    } else if (sqlite3_step(create.get()) == SQLITE_DONE) {
        Logger::info([&] { return index + " index created"; }, "createIndexFor(_:)");
    } else {
        logSqlError(index + " index creation failed");
    }
}

int VTDB::attempt(const PendingWrite& write) {
    const auto table = tableName(write.type);
    const auto& words = wordsFor(write.kind);
    Statement statement(connection_.get(),
                        write.kind == WriteKind::insert ? insertStatement(table) : write.sql);
    if (!statement.prepared()) {
        logSqlError(std::string(words.statement) + " statement for table " + table +
                    " could not be prepared");
        return statement.prepareResult();
    }
    if (write.kind == WriteKind::insert) {
        if (write.data.size() > static_cast<size_t>(INT_MAX)) {
            // Not the database's fault: the record is refused, the queue stays.
            Logger::error([&] { return "Record too large for table " + table; }, words.operation);
            return SQLITE_DONE;
        }
        sqlite3_bind_blob(statement.get(), 1, write.data.data(), static_cast<int>(write.data.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_int(statement.get(), 2, write.flag ? 1 : 0);
        sqlite3_bind_double(statement.get(), 3, write.time);
    }
    const int resultCode = sqlite3_step(statement.get());
    if (resultCode == SQLITE_DONE)
        Logger::info([&] { return "Successfully " + std::string(words.past) + " " + table; },
                     words.operation);
    else
        logSqlError("Failed to " + std::string(words.verb) + " " + table);
    return resultCode;
}

const VTDB::WriteWords& VTDB::wordsFor(WriteKind kind) {
    static constexpr WriteWords insert{"INSERT", "inserted row into table", "insert row into table",
                                       "insertRow(_:data:flag:)"};
    static constexpr WriteWords update{"UPDATE", "updated rows from table", "update rows from table",
                                       "updateRowsFlag(_:newFlag:)"};
    static constexpr WriteWords remove{"DELETE", "deleted rows from table", "delete rows from table",
                                       "deleteRows(_:ids:isDeleteAll:)"};
    return kind == WriteKind::insert ? insert : kind == WriteKind::update ? update : remove;
}

void VTDB::write(PendingWrite write) {
    pendingWrites_.push_back(std::move(write));
    writePending();
    dropOldestBeyondBounds();
}

void VTDB::writePending() {
    bool replaced = false;
    bool repaired = false;
    while (!pendingWrites_.empty()) {
        if (!reconnect()) {
            if (apiToken_.empty() || !pathToDb())
                pendingWrites_.clear(); // there will never be a database to write them to
            else
                reportHeld("the database cannot be opened");
            return;
        }
        const int resultCode = attempt(pendingWrites_.front());
        if (resultCode == SQLITE_DONE) {
            if (inTransaction_)
                writtenInTransaction_.push_back(std::move(pendingWrites_.front()));
            pendingWrites_.pop_front();
            continue;
        }
        if (inTransaction_ && sqlite3_get_autocommit(connection_.get()) != 0)
            takeBackTransaction(); // the failure rolled the whole transaction back
        if (DatabaseFile::isDamaged(resultCode) && !replaced) {
            replaced = true; // once: a file that cannot be moved aside must not keep us here
            replaceDamagedFile();
            continue;
        }
        if ((resultCode & 0xff) == SQLITE_ERROR && !repaired) {
            repaired = true; // a table that went missing comes back, with the rows of the others kept
            for (const auto type : allPersistenceTypes) {
                createTableFor(type);
                createIndexFor(type);
            }
            continue;
        }
        // A table that cannot be made again yet (on a full disk) may be made later.
        if (DatabaseFile::mayPass(resultCode) || (resultCode & 0xff) == SQLITE_ERROR) {
            reportHeld(DatabaseFile::isLockContention(resultCode)
                           ? "the database is locked by another connection"
                           : sqlite3_errstr(resultCode));
            return;
        }
        // Kept, a write that can never be made would hold up every later one.
        Logger::error(
            [&] {
                return std::string("Write to table ") + tableName(pendingWrites_.front().type) +
                       " dropped: " + sqlite3_errstr(resultCode);
            },
            "writePending()");
        pendingWrites_.pop_front();
    }
}

void VTDB::reportHeld(const char* reason) {
    Logger::warning(
        [&] {
            const auto held = std::to_string(pendingWrites_.size());
            return held + " writes kept in memory until the database can be written again (" + reason + ")";
        },
        "writePending()");
}

void VTDB::takeBackTransaction() {
    pendingWrites_.insert(pendingWrites_.begin(), std::make_move_iterator(writtenInTransaction_.begin()),
                          std::make_move_iterator(writtenInTransaction_.end()));
    writtenInTransaction_.clear();
    inTransaction_ = false;
}

void VTDB::dropOldestBeyondBounds() {
    size_t rows = 0;
    size_t bytes = 0;
    for (const auto& write : pendingWrites_) {
        rows += write.kind == WriteKind::insert ? 1 : 0;
        bytes += write.data.size();
    }
    // Flag changes and deletions stay: without them rows already delivered would go out again.
    for (auto it = pendingWrites_.begin();
         it != pendingWrites_.end() && (rows > maxPendingRows || bytes > maxPendingBytes);) {
        if (it->kind != WriteKind::insert) {
            ++it;
            continue;
        }
        Logger::warning(
            [&] {
                return "Oldest row kept for table " + tableName(it->type) + " dropped: too many rows waiting";
            },
            "insertRow(_:data:flag:)");
        --rows;
        bytes -= it->data.size();
        it = pendingWrites_.erase(it);
    }
}

void VTDB::insertRow(PersistenceType type, std::string_view data, bool flag) {
    write({WriteKind::insert, type, {}, std::string(data), flag, options_.now(), {}, false});
}

void VTDB::beginInserts() {
    if (!reconnect() || inTransaction_ || sqlite3_get_autocommit(connection_.get()) == 0)
        return;
    if (sqlite3_exec(connection_.get(), "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK)
        inTransaction_ = true;
    else
        logSqlError("Failed to begin a transaction");
}

void VTDB::commitInserts() {
    if (!inTransaction_)
        return;
    if (sqlite3_exec(connection_.get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        writtenInTransaction_.clear();
        inTransaction_ = false;
        return;
    }
    logSqlError("Failed to commit a transaction");
    if (sqlite3_get_autocommit(connection_.get()) == 0)
        sqlite3_exec(connection_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    // Nothing of the transaction was stored: its writes are made again, one by one.
    takeBackTransaction();
    writePending();
}

void VTDB::replaceDamagedFile() {
    const auto path = pathToDb();
    const std::string reason = sqlite3_errmsg(connection_.get());
    if (inTransaction_)
        takeBackTransaction();
    // Deletions by id name rows of the damaged file; in the fresh one those ids will be other rows'.
    std::erase_if(pendingWrites_, [](const PendingWrite& write) {
        return write.kind == WriteKind::remove && !write.deletesAll;
    });
    close();
    if (!path)
        return;
    std::string error;
    if (!DatabaseFile::moveAsideAndSay(*path, "Queue database", reason, "replaceDamagedFile()", error)) {
        Logger::error(
            [&] {
                return "Unable to move the damaged queue database at path: " + path->string() +
                       " aside, error: " + error + "; deleting it";
            },
            "replaceDamagedFile()");
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(path->string() + suffix, ignored);
    }
    if (!reconnect())
        return;
    // Rows read from the damaged file may still be out with a flush, and their deletion will follow:
    // the fresh file's ids start above every id handed out, so that it cannot hit a row of its own.
    for (const auto& [type, id] : highestIdRead_) {
        const auto sql = "INSERT INTO sqlite_sequence(name, seq) VALUES('" + tableName(type) + "', " +
                         std::to_string(id) + ")";
        if (sqlite3_exec(connection_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            logSqlError("Failed to carry the row ids over to the fresh database");
    }
}

template <class Take, class Reset>
void VTDB::selectUsableRows(PersistenceType type, const std::string& sql, Take take, Reset reset) {
    const auto table = tableName(type);
    for (;;) {
        reset();
        std::vector<std::int32_t> unusable;
        int resultCode = SQLITE_DONE;
        {
            Statement select(connection_.get(), sql);
            if (!select.prepared()) {
                logSqlError("SELECT statement for table " + table + " could not be prepared");
                return;
            }
            std::int64_t read = 0;
            while ((resultCode = sqlite3_step(select.get())) == SQLITE_ROW) {
                const std::int32_t id = sqlite3_column_int(select.get(), 0);
                auto& highest = highestIdRead_[type];
                highest = std::max(highest, id);
                if (isPendingDeletion(type, id))
                    continue;
                if (!sqlite3_column_blob(select.get(), 1)) {
                    logSqlError("No blob found in data column for row in " + table);
                    unusable.push_back(id);
                    continue;
                }
                ++read;
                if (!take(select.get(), id))
                    unusable.push_back(id);
            }
            if (resultCode != SQLITE_DONE)
                logSqlError("Failed to read rows from table " + table);
            if (read > 0)
                Logger::info(
                    [&] { return "Successfully read " + std::to_string(read) + " from table " + table; },
                    "readRows(_:numRows:flag:)");
        }
        if (unusable.empty() || resultCode != SQLITE_DONE)
            return;
        Logger::warning(
            [&] {
                return "Deleting " + std::to_string(unusable.size()) + " rows of table " + table +
                       " that cannot be decoded";
            },
            "readRows(_:numRows:flag:)");
        deleteRows(type, unusable, false);
        if (!connection_) { // the delete failed and rebuilt the database
            reset();
            return;
        }
    }
}

namespace {

std::string_view columnBytes(sqlite3_stmt* row, int column) {
    return {static_cast<const char*>(sqlite3_column_blob(row, column)),
            static_cast<size_t>(sqlite3_column_bytes(row, column))};
}

// The stored object with "id" added before its closing brace.
std::string withId(std::string_view object, std::int32_t id) {
    const auto close = object.find_last_of('}');
    const auto open = object.find_first_of('{');
    const bool empty = object.find_first_not_of(" \t\r\n", open + 1) == close;
    std::string json(object.substr(0, close));
    json += empty ? "\"id\":" : ",\"id\":";
    json += std::to_string(id);
    json += object.substr(close);
    return json;
}

} // namespace

std::vector<RecordMap> VTDB::readRows(PersistenceType type, std::int64_t numRows, bool flag) {
    std::vector<RecordMap> rows;
    if (!connectWithPendingRowsWritten())
        return rows;
    selectUsableRows(
        type, selectStatement(tableName(type), numRows, flag),
        [&](sqlite3_stmt* row, std::int32_t id) {
            auto value = JSONHandler::deserializeData(columnBytes(row, 1));
            auto* record = value ? value->dictionary() : nullptr;
            if (!record)
                return false;
            (*record)["id"] = VeltraceType(id);
            rows.push_back(std::move(*record));
            return true;
        },
        [&] { rows.clear(); });
    return rows;
}

std::vector<QueuedRecord> VTDB::readQueuedRecords(PersistenceType type, std::int64_t numRows, bool flag,
                                                  bool excludeAutomaticEvents) {
    std::vector<QueuedRecord> rows;
    if (!connectWithPendingRowsWritten())
        return rows;
    // SQLite checks the JSON (much faster than decoding it here); CASE keeps the JSON functions away
    // from rows that are not JSON, where they would fail the whole statement.
    constexpr const char* text = "CAST(data AS TEXT)";
    std::string sql = std::string("SELECT id, data, CASE WHEN json_valid(") + text + ") THEN json_type(" +
                      text + ") = 'object' ELSE 0 END FROM " + tableName(type) +
                      " WHERE flag = " + (flag ? "1" : "0");
    if (excludeAutomaticEvents)
        sql += std::string(" AND NOT CASE WHEN json_valid(") + text + ") THEN substr(coalesce(json_extract(" +
               text + ", '$.event'), ''), 1, 4) = '$ae_' ELSE 0 END";
    sql += " ORDER BY time";
    if (numRows != noLimit)
        sql += " LIMIT " + std::to_string(numRows);
    selectUsableRows(
        type, sql,
        [&](sqlite3_stmt* row, std::int32_t id) {
            if (sqlite3_column_int(row, 2) != 1)
                return false;
            rows.push_back({id, withId(columnBytes(row, 1), id)});
            return true;
        },
        [&] { rows.clear(); });
    return rows;
}

void VTDB::updateRowsFlag(PersistenceType type, bool newFlag) {
    write({WriteKind::update, type, updateFlagStatement(tableName(type), newFlag), {}, false, 0, {}, false});
}

void VTDB::deleteRows(PersistenceType type, const std::vector<std::int32_t>& ids, bool isDeleteAll) {
    if (!isDeleteAll && ids.empty())
        return; // "IN ()" would not even parse; there is nothing to delete
    write({WriteKind::remove,
           type,
           deleteStatement(tableName(type), ids, isDeleteAll),
           {},
           false,
           0,
           ids,
           isDeleteAll});
}

// Writes held back were made before whatever comes now, so reads must see them.
bool VTDB::connectWithPendingRowsWritten() {
    if (!reconnect())
        return false;
    writePending();
    return connection_ != nullptr;
}

// A deletion still held back hides its rows: delivered once, they must not go out again.
bool VTDB::isPendingDeletion(PersistenceType type, std::int32_t id) const {
    return std::any_of(pendingWrites_.begin(), pendingWrites_.end(), [&](const PendingWrite& write) {
        return write.kind == WriteKind::remove && write.type == type &&
               (write.deletesAll ||
                std::find(write.deletedIds.begin(), write.deletedIds.end(), id) != write.deletedIds.end());
    });
}

size_t VTDB::pendingRowCount() const {
    return static_cast<size_t>(
        std::count_if(pendingWrites_.begin(), pendingWrites_.end(),
                      [](const PendingWrite& write) { return write.kind == WriteKind::insert; }));
}

} // namespace veltrace
