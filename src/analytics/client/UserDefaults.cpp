#include "client/UserDefaults.h"

#include "client/DatabaseFile.h"
#include "client/Directories.h"
#include "client/Logger.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrace {

namespace {

// Another process may hold the file for the length of a transaction; wait well beyond that.
constexpr int busyTimeoutMs = 10000;

struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement(sqlite3* connection, const char* sql) {
        sqlite3_prepare_v2(connection, sql, -1, &handle, nullptr);
    }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
};

bool execute(sqlite3* connection, const char* sql) {
    return sqlite3_exec(connection, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Creates the file 0600 before SQLite sees it (SQLite gives its journal the database file's mode).
bool preparePrivateFile(const std::filesystem::path& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0 && info.st_uid == ::geteuid())
        ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

} // namespace

std::optional<std::filesystem::path> UserDefaults::pathForSuite(std::string_view suiteName) {
    auto config = Directories::configDirectory();
    if (!config || suiteName.empty() || suiteName.find('/') != std::string_view::npos ||
        suiteName.find('\0') != std::string_view::npos)
        return std::nullopt;
    return *config / "veltrace" / (std::string(suiteName) + ".sqlite");
}

namespace {

// Opens the suite's file and reads it once. Null, with the reason in error and the SQLite status (0
// when the file could not even be created) in status, when that fails.
sqlite3* connectSuite(const std::filesystem::path& path, std::string& error, int& status) {
    status = 0;
    if (!Directories::createPrivateDirectory(path.parent_path(), &error) || !preparePrivateFile(path, error))
        return nullptr;
    sqlite3* connection = nullptr;
    status =
        sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (status == SQLITE_OK) {
        sqlite3_busy_timeout(connection, busyTimeoutMs);
        // The suite is opened for every operation; a checkpoint (with its fsyncs) at each close would
        // dominate. Commits checkpoint on their own once the log has grown.
        sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        // The first read of the file, which is where a file that is not a database shows. Write-ahead
        // logging lets readers and a writer in other processes proceed together, and with it NORMAL
        // synchronisation stays durable across application crashes while sparing an fsync per commit.
        status = sqlite3_exec(
            connection,
            "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
            "CREATE TABLE IF NOT EXISTS defaults(key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;",
            nullptr, nullptr, nullptr);
    }
    if (status != SQLITE_OK) {
        error = connection ? sqlite3_errmsg(connection) : sqlite3_errstr(status);
        sqlite3_close_v2(connection);
        return nullptr;
    }
    return connection;
}

} // namespace

std::unique_ptr<UserDefaults> UserDefaults::open(std::string_view suiteName) {
    const auto path = pathForSuite(suiteName);
    if (!path) {
        Logger::error(
            [&] { return "No configuration folder for the user defaults suite " + std::string(suiteName); },
            "open(_:)");
        return nullptr;
    }
    std::string error;
    int status = 0;
    sqlite3* connection = connectSuite(*path, error, status);
    if (!connection && DatabaseFile::isDamaged(status)) {
        // Left in place, the damaged file would keep every later launch from storing the identity or
        // the opt-out choice.
        std::string moveError;
        if (DatabaseFile::moveAsideAndSay(*path, "User defaults suite", error, "open(_:)", moveError)) {
            connection = connectSuite(*path, error, status);
        } else {
            error += "; could not move it aside: " + moveError;
        }
    }
    if (!connection) {
        Logger::error(
            [&] {
                return "Unable to open user defaults suite at path: " + path->string() + ", error: " + error;
            },
            "open(_:)");
        return nullptr;
    }
    return std::unique_ptr<UserDefaults>(new UserDefaults(connection, *path));
}

UserDefaults::UserDefaults(sqlite3* connection, std::filesystem::path path)
    : connection_(connection), path_(std::move(path)) {}

UserDefaults::~UserDefaults() {
    synchronize();
    sqlite3_close_v2(connection_);
}

UserDefaults::Value UserDefaults::read(const std::string& key) const {
    if (auto found = pending_.find(key); found != pending_.end())
        return found->second;
    Statement select(connection_, "SELECT value FROM defaults WHERE key = ?;");
    if (!select.handle) {
        Logger::error(
            [&] {
                return "Unable to read user defaults at path: " + path_.string() +
                       ", error: " + sqlite3_errmsg(connection_);
            },
            "read(_:)");
        return {};
    }
    sqlite3_bind_text(select.handle, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    const int status = sqlite3_step(select.handle);
    if (status != SQLITE_ROW) {
        if (status != SQLITE_DONE)
            Logger::error(
                [&] {
                    return "Unable to read user defaults at path: " + path_.string() +
                           ", error: " + sqlite3_errmsg(connection_);
                },
                "read(_:)");
        return {};
    }
    const auto bytes = [&] {
        const auto* start = static_cast<const char*>(sqlite3_column_blob(select.handle, 0));
        return start ? std::string(start, static_cast<std::size_t>(sqlite3_column_bytes(select.handle, 0)))
                     : std::string();
    };
    // The storage class tells the kind: text is a string, an integer a boolean, a blob bytes.
    switch (sqlite3_column_type(select.handle, 0)) {
    case SQLITE_TEXT:
        return bytes();
    case SQLITE_INTEGER:
        return BoolValue{sqlite3_column_int64(select.handle, 0) != 0};
    case SQLITE_BLOB:
        return DataValue{bytes()};
    default:
        return {};
    }
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto value = read(key);
    if (auto* text = std::get_if<std::string>(&value))
        return std::move(*text);
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const {
    auto value = read(key);
    if (auto* flag = std::get_if<BoolValue>(&value))
        return flag->value;
    return std::nullopt;
}

std::optional<Bytes> UserDefaults::data(const std::string& key) const {
    auto value = read(key);
    if (auto* bytes = std::get_if<DataValue>(&value))
        return std::move(bytes->bytes);
    return std::nullopt;
}

bool UserDefaults::contains(const std::string& key) const {
    return !std::holds_alternative<std::monostate>(read(key));
}

void UserDefaults::setString(const std::string& key, std::string value) {
    pending_[key] = std::move(value);
}

void UserDefaults::setBool(const std::string& key, bool value) {
    pending_[key] = BoolValue{value};
}

void UserDefaults::setData(const std::string& key, Bytes value) {
    pending_[key] = DataValue{std::move(value)};
}

void UserDefaults::remove(const std::string& key) {
    pending_[key] = std::monostate{};
}

bool UserDefaults::synchronize() {
    if (pending_.empty())
        return true;
    const auto changes = std::exchange(pending_, {});
    const auto fail = [&](const char* what) {
        Logger::error(
            [&] {
                return std::string(what) + " user defaults at path: " + path_.string() +
                       ", error: " + sqlite3_errmsg(connection_);
            },
            "synchronize()");
        execute(connection_, "ROLLBACK;");
        return false;
    };
    // IMMEDIATE takes the write lock up front, so the busy time-out covers the whole transaction.
    if (!execute(connection_, "BEGIN IMMEDIATE;"))
        return fail("Unable to lock");
    Statement upsert(connection_, "INSERT OR REPLACE INTO defaults(key, value) VALUES(?, ?);");
    Statement erase(connection_, "DELETE FROM defaults WHERE key = ?;");
    if (!upsert.handle || !erase.handle)
        return fail("Unable to write");
    for (const auto& [key, value] : changes) {
        sqlite3_stmt* statement =
            std::holds_alternative<std::monostate>(value) ? erase.handle : upsert.handle;
        sqlite3_reset(statement);
        sqlite3_bind_text(statement, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        if (const auto* text = std::get_if<std::string>(&value))
            sqlite3_bind_text64(statement, 2, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        else if (const auto* flag = std::get_if<BoolValue>(&value))
            sqlite3_bind_int(statement, 2, flag->value ? 1 : 0);
        else if (const auto* bytes = std::get_if<DataValue>(&value))
            // zeroblob, because a blob bound from an empty buffer's null pointer would be stored as NULL.
            bytes->bytes.empty() ? sqlite3_bind_zeroblob(statement, 2, 0)
                                 : sqlite3_bind_blob64(statement, 2, bytes->bytes.data(), bytes->bytes.size(),
                                                       SQLITE_TRANSIENT);
        if (sqlite3_step(statement) != SQLITE_DONE)
            return fail("Unable to write");
    }
    if (!execute(connection_, "COMMIT;"))
        return fail("Unable to commit");
    return true;
}

} // namespace veltrace
