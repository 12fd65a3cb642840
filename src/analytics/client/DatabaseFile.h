// What the client's SQLite files (the record queue, the user defaults suite) share: telling real damage
// from a passing failure, and keeping a damaged file aside. Stateless; thread-safe.
#pragma once

#include <filesystem>
#include <string>

namespace veltrace::DatabaseFile {

// A file that SQLite reads but cannot use as a database. A lock held by another process, a full disk
// or an I/O error is not.
bool isDamaged(int sqliteStatus);

// Another connection (another copy of the program) holds the database: nothing is wrong with the file.
bool isLockContention(int sqliteStatus);

// A failure that may pass with time and leaves the file sound: a lock held elsewhere, a full disk, an I/O
// error, a file that is read-only or cannot be opened, no memory.
bool mayPass(int sqliteStatus);

// Keeps the damaged file as <file>.corrupt (replacing an older one) so that a fresh database can take
// its place; its write-ahead log goes with it, and one left from an older damaged file goes. False, with
// the reason in `error`, when the file could not be moved.
bool moveAside(const std::filesystem::path& file, std::string& error);

// moveAside, and when it worked an error-level line from `function` that says so: "<what> at path: <file>
// is not usable (<reason>); kept it as <file>.corrupt and started a fresh one".
bool moveAsideAndSay(const std::filesystem::path& file, const std::string& what, const std::string& reason,
                     const char* function, std::string& error);

} // namespace veltrace::DatabaseFile
