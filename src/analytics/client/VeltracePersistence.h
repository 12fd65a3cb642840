// Everything a client instance keeps between runs: its record queues (through its VTDB) and its small
// state (identity, opt-out flag, super properties, timed events) in the user-defaults suite "Veltrace"
// under keys "veltrace-<instance>-…". Also imports, once, the archive files an earlier generation of
// the client left in the caches folder.
// Thread safety: no lock of its own. Queue operations belong to the instance's tracking queue (the
// store is single-threaded); the static state operations may run on any thread, since every call
// opens the suite anew.
#pragma once

#include "client/PersistenceType.h"
#include "client/VTDB.h"
#include "client/VeltraceIdentity.h"
#include "client/VeltraceType.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrace {

class VeltracePersistence {
  public:
    static constexpr std::string_view suiteName = "Veltrace";
    static constexpr std::int64_t allEntities = std::numeric_limits<std::int64_t>::max();

    explicit VeltracePersistence(std::string instanceName, VTDB::Options storeOptions = {});
    VeltracePersistence(const VeltracePersistence&) = delete;
    VeltracePersistence& operator=(const VeltracePersistence&) = delete;

    const std::string& instanceName() const { return instanceName_; }
    VTDB& vtdb() { return vtdb_; }

    // Queue operations.

    // Stores each record as compact JSON; a record that cannot be encoded is skipped.
    void saveEntities(PersistenceType type, const std::vector<RecordMap>& entities, bool flag = false);
    // Oldest first, each with its row id under "id". With excludeAutomaticEvents, events named "$ae_…"
    // are left out (and stay queued). People records carry the current distinct id under "$distinct_id".
    std::vector<RecordMap> loadEntitiesInBatch(PersistenceType type, std::int64_t batchSize = allEntities,
                                               bool flag = false, bool excludeAutomaticEvents = false);
    // The same records ready to send: as stored, each with its id, people records with the current
    // distinct id; without decoding events and groups.
    std::vector<QueuedRecord> loadQueuedRecords(PersistenceType type, std::int64_t batchSize,
                                                bool excludeAutomaticEvents = false);
    void removeEntitiesInBatch(PersistenceType type, const std::vector<std::int32_t>& ids);
    // Marks the people records queued while the user was unidentified as ready to send.
    void identifyPeople();
    // Empties the events, people and groups queues.
    void resetEntities();

    // State operations. A save that cannot reach the suite does nothing; a load then gives its default.

    static void saveIdentity(const std::string& instanceName, const VeltraceIdentity& identity);
    static VeltraceIdentity loadIdentity(const std::string& instanceName);
    // False when the choice did not reach the suite (the caller may have to tell the user).
    static bool saveOptOutStatusFlag(const std::string& instanceName, bool value);
    static std::optional<bool> loadOptOutStatusFlag(const std::string& instanceName);
    static void saveSuperProperties(const RecordMap& superProperties, const std::string& instanceName);
    static RecordMap loadSuperProperties(const std::string& instanceName);
    static void saveTimedEvents(const RecordMap& timedEvents, const std::string& instanceName);
    static RecordMap loadTimedEvents(const std::string& instanceName);
    static void deleteVTUserDefaultsData(const std::string& instanceName);

    // Imports the legacy archive files, if any, into the queues and the suite, and deletes them. Run
    // once by the instance right after construction.
    void migrate();

    // The legacy archive file of a kind ("events", "people", "groups", "optOutStatus", "properties");
    // nothing without a caches folder or for an instance name that cannot be part of a file name.
    std::optional<std::filesystem::path> legacyFilePath(std::string_view kind) const;

  private:
    bool needMigration() const;
    std::optional<VeltraceType> unarchiveWithType(std::string_view kind) const;
    std::optional<VeltraceType> unarchiveWithFilePath(const std::filesystem::path& path) const;
    static void removeArchivedFile(const std::filesystem::path& path);
    void removeLegacyFiles() const;
    bool anyLegacyFileExists() const;

    std::string instanceName_;
    VTDB vtdb_;
};

} // namespace veltrace
