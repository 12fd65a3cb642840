// A persistent key–value suite (the client's user defaults): one SQLite file per suite,
// $XDG_CONFIG_HOME/veltrace/<suite>.sqlite, private to the user (folder 0700, files 0600). Values are
// strings, booleans or bytes; reading a key as another kind than it holds gives nothing. Changes are
// kept in the object until synchronize() (or destruction) writes them in one transaction, so a reader
// in another process sees all of them or none.
// Thread safety: one object belongs to one thread at a time; any number of objects, in any number of
// processes, may use the same suite at once.
#pragma once

#include "client/VeltraceType.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

struct sqlite3;

namespace veltrace {

class UserDefaults {
  public:
    // Opens the suite, creating its folder and file when missing. Nothing (after an error message)
    // when there is no configuration folder or the file cannot be used, for example because it is not
    // a database.
    static std::unique_ptr<UserDefaults> open(std::string_view suiteName);

    // Where the suite lives; nothing when there is no configuration folder.
    static std::optional<std::filesystem::path> pathForSuite(std::string_view suiteName);

    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::optional<std::string> string(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<Bytes> data(const std::string& key) const;
    bool contains(const std::string& key) const;

    void setString(const std::string& key, std::string value);
    void setBool(const std::string& key, bool value);
    void setData(const std::string& key, Bytes value);
    void remove(const std::string& key);

    // Writes the pending changes in one transaction. False (after an error message) when they could
    // not be written; they are then dropped.
    bool synchronize();

  private:
    struct BoolValue {
        bool value;
    };
    struct DataValue {
        Bytes bytes;
    };
    // An absent key (monostate) stands for a removal.
    using Value = std::variant<std::monostate, std::string, BoolValue, DataValue>;

    UserDefaults(sqlite3* connection, std::filesystem::path path);
    Value read(const std::string& key) const;

    sqlite3* connection_;
    std::filesystem::path path_;
    std::map<std::string, Value> pending_;
};

} // namespace veltrace
