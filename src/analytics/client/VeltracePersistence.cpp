#include "client/VeltracePersistence.h"

#include "client/Directories.h"
#include "client/JSONHandler.h"
#include "client/Logger.h"
#include "client/UserDefaults.h"
#include "client/ValueArchiver.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace veltrace {

namespace {

constexpr std::string_view legacyKinds[] = {"events", "people", "groups", "properties", "optOutStatus"};

// A legacy file larger than this is not one the client wrote; it is treated as unreadable.
constexpr std::uintmax_t maxLegacyFileSize = 256u << 20;

std::string key(const std::string& instanceName, std::string_view name) {
    return "veltrace-" + instanceName + "-" + std::string(name);
}

// Set only when imported legacy files could not be deleted, so that they are not imported again.
constexpr std::string_view legacyImportedKey = "legacyArchivesImported";

std::vector<RecordMap> recordList(const std::optional<VeltraceType>& value) {
    std::vector<RecordMap> records;
    const auto* elements = value ? value->array() : nullptr;
    if (!elements)
        return records;
    for (const auto& element : *elements) {
        const auto* record = element.dictionary();
        if (!record)
            return {}; // not a list of records as a whole
        records.push_back(*record);
    }
    return records;
}

const VeltraceType* member(const PropertyMap* map, const char* name) {
    if (!map)
        return nullptr;
    auto found = map->find(name);
    return found == map->end() ? nullptr : &found->second;
}

std::optional<std::string> stringMember(const PropertyMap* map, const char* name) {
    const auto* value = member(map, name);
    if (value && value->string())
        return *value->string();
    return std::nullopt;
}

void saveMap(const RecordMap& map, const std::string& instanceName, std::string_view name,
             const char* failure, std::string_view function) {
    auto bytes = ValueArchiver::archive(map);
    if (!bytes) {
        Logger::warning(failure, function);
        return;
    }
    if (auto defaults = UserDefaults::open(VeltracePersistence::suiteName)) {
        defaults->setData(key(instanceName, name), std::move(*bytes));
        defaults->synchronize();
    }
}

RecordMap loadMap(const std::string& instanceName, std::string_view name, const char* failure,
                  std::string_view function) {
    auto defaults = UserDefaults::open(VeltracePersistence::suiteName);
    if (!defaults)
        return {};
    const auto bytes = defaults->data(key(instanceName, name));
    if (!bytes)
        return {};
    auto value = ValueArchiver::unarchive(*bytes);
    if (!value) {
        Logger::warning(failure, function);
        return {};
    }
    if (auto* map = value->dictionary())
        return std::move(*map);
    return {};
}

} // namespace

VeltracePersistence::VeltracePersistence(std::string instanceName, VTDB::Options storeOptions)
    : instanceName_(std::move(instanceName)), vtdb_(instanceName_, std::move(storeOptions)) {}

void VeltracePersistence::saveEntities(PersistenceType type, const std::vector<RecordMap>& entities,
                                       bool flag) {
    for (const auto& entity : entities) {
        // JSONHandler has logged why a record cannot be encoded.
        if (auto bytes = JSONHandler::serializeJSONObject(entity))
            vtdb_.insertRow(type, *bytes, flag);
    }
}

std::vector<RecordMap> VeltracePersistence::loadEntitiesInBatch(PersistenceType type, std::int64_t batchSize,
                                                                bool flag, bool excludeAutomaticEvents) {
    auto records = vtdb_.readRows(type, batchSize, flag);
    if (excludeAutomaticEvents && type == PersistenceType::events) {
        std::erase_if(records, [](const RecordMap& record) {
            const auto* name = member(&record, "event");
            return name && name->string() && name->string()->starts_with("$ae_");
        });
    }
    if (type == PersistenceType::people) {
        const auto distinctId = loadIdentity(instanceName_).distinctID;
        for (auto& record : records)
            record["$distinct_id"] = distinctId;
    }
    return records;
}

std::vector<QueuedRecord> VeltracePersistence::loadQueuedRecords(PersistenceType type, std::int64_t batchSize,
                                                                 bool excludeAutomaticEvents) {
    if (type != PersistenceType::people)
        return vtdb_.readQueuedRecords(type, batchSize, false, excludeAutomaticEvents);
    // People records carry the distinct id of when they are sent, so they are decoded and written anew.
    std::vector<QueuedRecord> queued;
    for (const auto& record : loadEntitiesInBatch(type, batchSize, false, false)) {
        const auto id = record.find("id");
        const auto* number = id == record.end() ? nullptr : id->second.get<std::int64_t>();
        if (auto bytes = JSONHandler::serializeJSONObject(record))
            queued.push_back({number ? static_cast<std::int32_t>(*number) : 0, std::move(*bytes)});
    }
    return queued;
}

void VeltracePersistence::removeEntitiesInBatch(PersistenceType type, const std::vector<std::int32_t>& ids) {
    vtdb_.deleteRows(type, ids, false);
}

void VeltracePersistence::identifyPeople() {
    vtdb_.updateRowsFlag(PersistenceType::people, false);
}

void VeltracePersistence::resetEntities() {
    for (auto type : {PersistenceType::events, PersistenceType::people, PersistenceType::groups})
        vtdb_.deleteRows(type, {}, true);
}

void VeltracePersistence::saveIdentity(const std::string& instanceName, const VeltraceIdentity& identity) {
    auto defaults = UserDefaults::open(suiteName);
    if (!defaults)
        return;
    const auto write = [&](const char* name, const std::optional<std::string>& value) {
        if (value)
            defaults->setString(key(instanceName, name), *value);
        else
            defaults->remove(key(instanceName, name));
    };
    write("VTDistinctID", identity.distinctID);
    write("VTPeopleDistinctID", identity.peopleDistinctID);
    write("VTAnonymousId", identity.anonymousId);
    write("VTUserId", identity.userId);
    write("VTAlias", identity.alias);
    if (identity.hadPersistedDistinctId)
        defaults->setBool(key(instanceName, "VTHadPersistedDistinctId"), *identity.hadPersistedDistinctId);
    else
        defaults->remove(key(instanceName, "VTHadPersistedDistinctId"));
    defaults->synchronize();
}

VeltraceIdentity VeltracePersistence::loadIdentity(const std::string& instanceName) {
    VeltraceIdentity identity;
    auto defaults = UserDefaults::open(suiteName);
    if (!defaults)
        return identity;
    identity.distinctID = defaults->string(key(instanceName, "VTDistinctID")).value_or("");
    identity.peopleDistinctID = defaults->string(key(instanceName, "VTPeopleDistinctID"));
    identity.anonymousId = defaults->string(key(instanceName, "VTAnonymousId"));
    identity.userId = defaults->string(key(instanceName, "VTUserId"));
    identity.alias = defaults->string(key(instanceName, "VTAlias"));
    identity.hadPersistedDistinctId =
        defaults->boolean(key(instanceName, "VTHadPersistedDistinctId")).value_or(false);
    return identity;
}

bool VeltracePersistence::saveOptOutStatusFlag(const std::string& instanceName, bool value) {
    auto defaults = UserDefaults::open(suiteName);
    if (!defaults)
        return false;
    defaults->setBool(key(instanceName, "OptOutStatus"), value);
    return defaults->synchronize();
}

std::optional<bool> VeltracePersistence::loadOptOutStatusFlag(const std::string& instanceName) {
    auto defaults = UserDefaults::open(suiteName);
    return defaults ? defaults->boolean(key(instanceName, "OptOutStatus")) : std::nullopt;
}

void VeltracePersistence::saveSuperProperties(const RecordMap& superProperties,
                                              const std::string& instanceName) {
    saveMap(superProperties, instanceName, "superProperties", "Failed to archive super properties",
            "saveSuperProperties(superProperties:instanceName:)");
}

RecordMap VeltracePersistence::loadSuperProperties(const std::string& instanceName) {
    return loadMap(instanceName, "superProperties", "Failed to unarchive super properties",
                   "loadSuperProperties(instanceName:)");
}

void VeltracePersistence::saveTimedEvents(const RecordMap& timedEvents, const std::string& instanceName) {
    saveMap(timedEvents, instanceName, "timedEvents", "Failed to archive timed events",
            "saveTimedEvents(timedEvents:instanceName:)");
}

RecordMap VeltracePersistence::loadTimedEvents(const std::string& instanceName) {
    return loadMap(instanceName, "timedEvents", "Failed to unarchive timed events",
                   "loadTimedEvents(instanceName:)");
}

void VeltracePersistence::deleteVTUserDefaultsData(const std::string& instanceName) {
    auto defaults = UserDefaults::open(suiteName);
    if (!defaults)
        return;
    for (const char* name : {"VTDistinctID", "VTPeopleDistinctID", "VTAnonymousId", "VTUserId", "VTAlias",
                             "VTHadPersistedDistinctId", "OptOutStatus", "timedEvents", "superProperties"})
        defaults->remove(key(instanceName, name));
    defaults->synchronize();
}

std::optional<std::filesystem::path> VeltracePersistence::legacyFilePath(std::string_view kind) const {
    // The name becomes part of a file name: one that could point elsewhere has no legacy files.
    if (instanceName_.find('/') != std::string::npos || instanceName_.find('\0') != std::string::npos)
        return std::nullopt;
    auto caches = Directories::cachesDirectory();
    if (!caches)
        return std::nullopt;
    return *caches / ("veltrace-" + instanceName_ + "-" + std::string(kind));
}

bool VeltracePersistence::anyLegacyFileExists() const {
    return std::any_of(std::begin(legacyKinds), std::end(legacyKinds), [&](std::string_view kind) {
        const auto path = legacyFilePath(kind);
        std::error_code error;
        return path &&
               std::filesystem::symlink_status(*path, error).type() !=
                   std::filesystem::file_type::not_found &&
               !error;
    });
}

bool VeltracePersistence::needMigration() const {
    return anyLegacyFileExists();
}

std::optional<VeltraceType>
VeltracePersistence::unarchiveWithFilePath(const std::filesystem::path& path) const {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    std::optional<VeltraceType> value;
    if (!error && size <= maxLegacyFileSize) {
        std::ifstream file(path, std::ios::binary);
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (file && file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
            value = ValueArchiver::unarchive(bytes);
    }
    if (!value)
        Logger::info([&] { return "Unable to read file at path: " + path.string(); },
                     "unarchiveWithFilePath(_:)");
    return value;
}

std::optional<VeltraceType> VeltracePersistence::unarchiveWithType(std::string_view kind) const {
    const auto path = legacyFilePath(kind);
    if (!path) {
        Logger::info("bad file path, cant fetch file", "unarchiveWithType(_:)");
        return std::nullopt;
    }
    auto value = unarchiveWithFilePath(*path);
    if (!value) {
        removeArchivedFile(*path);
        Logger::info("can't unarchive file", "unarchiveWithType(_:)");
    }
    return value;
}

void VeltracePersistence::removeArchivedFile(const std::filesystem::path& path) {
    std::error_code error;
    // remove() reports a missing file as success; it counts as a failure here, as it always has.
    if (!std::filesystem::remove(path, error) && !error)
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (error)
        Logger::info(
            [&] { return "Unable to remove file at path: " + path.string() + ", error: " + error.message(); },
            "removeArchivedFile(atPath:)");
}

void VeltracePersistence::removeLegacyFiles() const {
    for (auto kind : legacyKinds)
        if (auto path = legacyFilePath(kind))
            removeArchivedFile(*path);
}

void VeltracePersistence::migrate() {
    if (!needMigration())
        return;

    // Files imported by an earlier run but left behind (a read-only caches folder): only try again to
    // delete them, rather than queueing their records a second time.
    const auto importedKey = key(instanceName_, legacyImportedKey);
    if (auto defaults = UserDefaults::open(suiteName); defaults && defaults->boolean(importedKey) == true) {
        removeLegacyFiles();
        if (!anyLegacyFileExists()) {
            defaults->remove(importedKey);
            defaults->synchronize();
        }
        return;
    }

    const auto events = recordList(unarchiveWithType("events"));
    const auto people = recordList(unarchiveWithType("people"));
    const auto groups = recordList(unarchiveWithType("groups"));
    const auto optOutValue = unarchiveWithType("optOutStatus");
    const auto propertiesValue = unarchiveWithType("properties");

    const bool* optOut = optOutValue ? optOutValue->get<bool>() : nullptr;
    const PropertyMap* properties = propertiesValue ? propertiesValue->dictionary() : nullptr;
    const auto mapMember = [&](const char* name) {
        const auto* value = member(properties, name);
        return value && value->dictionary() ? *value->dictionary() : RecordMap{};
    };
    const RecordMap superProperties = mapMember("superProperties");
    const RecordMap timedEvents = mapMember("timedEvents");
    VeltraceIdentity identity;
    identity.distinctID = stringMember(properties, "distinctId").value_or("");
    identity.anonymousId = stringMember(properties, "anonymousId");
    identity.userId = stringMember(properties, "userId");
    identity.alias = stringMember(properties, "alias");
    identity.peopleDistinctID = stringMember(properties, "peopleDistinctId");
    if (const auto* flag = member(properties, "hadPersistedDistinctId"); flag && flag->get<bool>())
        identity.hadPersistedDistinctId = *flag->get<bool>();
    const auto* unidentifiedValue = member(properties, "peopleUnidentifiedQueue");
    const auto unidentifiedPeople =
        recordList(unidentifiedValue ? std::optional(*unidentifiedValue) : std::nullopt);

    removeLegacyFiles();

    saveEntities(PersistenceType::events, events, false);
    saveEntities(PersistenceType::people, unidentifiedPeople, false);
    saveEntities(PersistenceType::people, people, false);
    saveEntities(PersistenceType::groups, groups, false);

    saveSuperProperties(superProperties, instanceName_);
    saveTimedEvents(timedEvents, instanceName_);
    saveIdentity(instanceName_, identity);
    if (optOut)
        saveOptOutStatusFlag(instanceName_, *optOut);

    if (anyLegacyFileExists()) {
        if (auto defaults = UserDefaults::open(suiteName)) {
            defaults->setBool(importedKey, true);
            defaults->synchronize();
        }
    }
}

} // namespace veltrace
