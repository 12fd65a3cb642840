#include "client/DatabaseFile.h"

#include "client/Logger.h"

#include <sqlite3.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veltrace::DatabaseFile {

bool isDamaged(int sqliteStatus) {
    const int primary = sqliteStatus & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool isLockContention(int sqliteStatus) {
    const int primary = sqliteStatus & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool mayPass(int sqliteStatus) {
    switch (sqliteStatus & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_PROTOCOL:
        return true;
    default:
        return false;
    }
}

bool moveAside(const std::filesystem::path& file, std::string& error) {
    const auto kept = file.string() + ".corrupt";
    if (::rename(file.c_str(), kept.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        const auto sibling = file.string() + suffix;
        // An older log beside the kept file would be replayed into it when someone opens it.
        if (::rename(sibling.c_str(), (kept + suffix).c_str()) != 0) {
            ::unlink(errno == ENOENT ? (kept + suffix).c_str() : sibling.c_str());
        }
    }
    return true;
}

bool moveAsideAndSay(const std::filesystem::path& file, const std::string& what, const std::string& reason,
                     const char* function, std::string& error) {
    if (!moveAside(file, error))
        return false;
    Logger::error(
        [&] {
            return what + " at path: " + file.string() + " is not usable (" + reason + "); kept it as " +
                   file.string() + ".corrupt and started a fresh one";
        },
        function);
    return true;
}

} // namespace veltrace::DatabaseFile
