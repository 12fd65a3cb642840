#include "client/VeltracePersistence.h"
#include "client/UserDefaults.h"
#include "client/ValueArchiver.h"

#include "LogCapture.h"
#include "TempXdgHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace veltrace;
using veltrace::test::LogCapture;
using veltrace::test::TempXdgHome;

namespace {

const std::string instance = "tok-en_1";

RecordMap event(const std::string& name) {
    return RecordMap{{"event", name}, {"properties", PropertyMap{{"n", 1}}}};
}

std::vector<std::string> eventNames(const std::vector<RecordMap>& records) {
    std::vector<std::string> names;
    for (const auto& record : records)
        names.push_back(*record.at("event").string());
    return names;
}

std::vector<std::int32_t> ids(const std::vector<RecordMap>& records) {
    std::vector<std::int32_t> result;
    for (const auto& record : records)
        result.push_back(static_cast<std::int32_t>(*record.at("id").get<std::int64_t>()));
    return result;
}

std::string suiteKey(const std::string& name) {
    return "veltrace-" + instance + "-" + name;
}

void writeLegacyFile(const std::filesystem::path& caches, const std::string& kind,
                     const VeltraceType& content) {
    std::ofstream(caches / ("veltrace-" + instance + "-" + kind), std::ios::binary)
        << ValueArchiver::archive(content).value();
}

std::vector<std::string> migrationTexts(const std::vector<LogMessage>& messages) {
    std::vector<std::string> texts;
    for (const auto& message : messages)
        if (message.file == "VeltracePersistence.cpp")
            texts.push_back(message.text);
    return texts;
}

// Runs body on a thread that lacks the capabilities that let root ignore file modes, so that a
// read-only folder is read-only for this test even when it runs as root. Capabilities belong to a
// thread on Linux; the rest of the process keeps its own.
void withoutFileModeOverride(const std::function<void()>& body) {
    std::thread thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) == 0) {
            for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
                data[capability / 32].effective &= ~(1u << (capability % 32));
            ::syscall(SYS_capset, &header, data);
        }
        body();
    });
    thread.join();
}

class VeltracePersistenceTest : public ::testing::Test {
  protected:
    TempXdgHome home;
};

} // namespace

TEST_F(VeltracePersistenceTest, QueuedRecordsComeBackOldestFirstWithTheirIds) {
    double clock = 100;
    VeltracePersistence persistence(instance, VTDB::Options{.now = [&] { return clock += 1; }});
    for (const char* name : {"$ae_session", "first", "x$ae_later", "ae_no_dollar"})
        persistence.saveEntities(PersistenceType::events, {event(name)});
    persistence.saveEntities(PersistenceType::groups, {RecordMap{{"$group_key", "company"}}});

    const auto all = persistence.loadEntitiesInBatch(PersistenceType::events);
    EXPECT_EQ(eventNames(all),
              (std::vector<std::string>{"$ae_session", "first", "x$ae_later", "ae_no_dollar"}));
    EXPECT_TRUE(all[1].at("properties").valueEquals(PropertyMap{{"n", 1}}));

    // Automatic events are left out but stay queued.
    const auto manual = persistence.loadEntitiesInBatch(PersistenceType::events,
                                                        VeltracePersistence::allEntities, false, true);
    EXPECT_EQ(eventNames(manual), (std::vector<std::string>{"first", "x$ae_later", "ae_no_dollar"}));
    EXPECT_EQ(eventNames(persistence.loadEntitiesInBatch(PersistenceType::events, 2)),
              (std::vector<std::string>{"$ae_session", "first"}));

    persistence.removeEntitiesInBatch(PersistenceType::events, ids(manual));
    EXPECT_EQ(eventNames(persistence.loadEntitiesInBatch(PersistenceType::events)),
              (std::vector<std::string>{"$ae_session"}));
    EXPECT_EQ(persistence.loadEntitiesInBatch(PersistenceType::groups).size(), 1u);

    persistence.resetEntities();
    for (auto type : allPersistenceTypes)
        EXPECT_TRUE(persistence.loadEntitiesInBatch(type).empty());
}

TEST_F(VeltracePersistenceTest, PeopleRecordsCarryTheCurrentDistinctIdAndWaitForIdentification) {
    VeltracePersistence persistence(instance);
    persistence.saveEntities(PersistenceType::people,
                             {RecordMap{{"$distinct_id", "stale"}, {"$set", PropertyMap{{"a", 1}}}}}, true);
    persistence.saveEntities(PersistenceType::people, {RecordMap{{"$set", PropertyMap{{"b", 2}}}}}, false);
    VeltracePersistence::saveIdentity(instance, VeltraceIdentity{.distinctID = "current"});

    const auto unidentified =
        persistence.loadEntitiesInBatch(PersistenceType::people, VeltracePersistence::allEntities, true);
    ASSERT_EQ(unidentified.size(), 1u);
    EXPECT_TRUE(unidentified[0].at("$distinct_id").valueEquals("current"));
    const auto ready = persistence.loadEntitiesInBatch(PersistenceType::people);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_TRUE(ready[0].at("$distinct_id").valueEquals("current"));

    persistence.identifyPeople();
    EXPECT_TRUE(
        persistence.loadEntitiesInBatch(PersistenceType::people, VeltracePersistence::allEntities, true)
            .empty());
    EXPECT_EQ(persistence.loadEntitiesInBatch(PersistenceType::people).size(), 2u);
}

TEST_F(VeltracePersistenceTest, IdentityRoundTripsAndAbsentFieldsRemoveTheirKeys) {
    const VeltraceIdentity full{"d1", "p1", "anon", "user", "al", true};
    VeltracePersistence::saveIdentity(instance, full);
    VeltracePersistence::saveIdentity("other", VeltraceIdentity{.distinctID = "someone else"});
    EXPECT_EQ(VeltracePersistence::loadIdentity(instance), full);

    VeltracePersistence::saveIdentity(instance, VeltraceIdentity{.distinctID = "d2", .userId = "user"});
    auto defaults = UserDefaults::open("Veltrace");
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->contains(suiteKey("VTAlias")));
    EXPECT_FALSE(defaults->contains(suiteKey("VTHadPersistedDistinctId")));
    const auto loaded = VeltracePersistence::loadIdentity(instance);
    EXPECT_EQ(loaded, (VeltraceIdentity{"d2", std::nullopt, std::nullopt, "user", std::nullopt, false}));
    EXPECT_EQ(VeltracePersistence::loadIdentity("other").distinctID, "someone else");
    // Nothing stored at all: an empty distinct id and "never persisted".
    EXPECT_EQ(VeltracePersistence::loadIdentity("fresh"),
              (VeltraceIdentity{.hadPersistedDistinctId = false}));
}

TEST_F(VeltracePersistenceTest, OptOutFlagIsAbsentUnlessABooleanIsStored) {
    EXPECT_EQ(VeltracePersistence::loadOptOutStatusFlag(instance), std::nullopt);
    VeltracePersistence::saveOptOutStatusFlag(instance, true);
    EXPECT_EQ(VeltracePersistence::loadOptOutStatusFlag(instance), true);
    UserDefaults::open("Veltrace")->setString(suiteKey("OptOutStatus"), "true");
    EXPECT_EQ(VeltracePersistence::loadOptOutStatusFlag(instance), std::nullopt);
}

TEST_F(VeltracePersistenceTest, StoredMapsRoundTripOrFallBackToEmpty) {
    const RecordMap superProperties{{"plan", "pro"},
                                    {"since", Date{1700000000.5}},
                                    {"site", Url{"https://quorvel.example"}},
                                    {"seats", 3u},
                                    {"ratio", 0.25f},
                                    {"tags", Array{"a", Null{}, Optional::none()}},
                                    {"nested", PropertyMap{{"ok", true}}}};
    VeltracePersistence::saveSuperProperties(superProperties, instance);
    VeltracePersistence::saveTimedEvents(RecordMap{{"video", 12.5}}, instance);
    EXPECT_TRUE(
        VeltraceType(VeltracePersistence::loadSuperProperties(instance)).valueEquals(superProperties));
    EXPECT_TRUE(
        VeltraceType(VeltracePersistence::loadTimedEvents(instance)).valueEquals(RecordMap{{"video", 12.5}}));

    LogCapture log;
    // A value with no archived form: nothing is stored, the earlier map stays.
    VeltracePersistence::saveSuperProperties(RecordMap{{"widget", Opaque{"<Widget>"}}}, instance);
    auto messages = log.take();
    ASSERT_EQ(migrationTexts(messages), std::vector<std::string>{"Failed to archive super properties"});
    EXPECT_EQ(messages[0].level, LogLevel::warning);
    EXPECT_EQ(messages[0].function, "saveSuperProperties(superProperties:instanceName:)");
    EXPECT_EQ(VeltracePersistence::loadSuperProperties(instance).size(), superProperties.size());

    UserDefaults::open("Veltrace")->setData(suiteKey("timedEvents"), "not an archive");
    EXPECT_TRUE(VeltracePersistence::loadTimedEvents(instance).empty());
    EXPECT_EQ(migrationTexts(log.take()), std::vector<std::string>{"Failed to unarchive timed events"});

    // An archive whose root is not a dictionary is no map either, but no failure.
    UserDefaults::open("Veltrace")
        ->setData(suiteKey("superProperties"), ValueArchiver::archive(Array{1}).value());
    EXPECT_TRUE(VeltracePersistence::loadSuperProperties(instance).empty());
    EXPECT_TRUE(migrationTexts(log.take()).empty());
}

TEST_F(VeltracePersistenceTest, DeletingUserDefaultsDataRemovesOnlyThisInstancesKeys) {
    VeltracePersistence::saveIdentity(instance, VeltraceIdentity{"d", "p", "a", "u", "al", true});
    VeltracePersistence::saveOptOutStatusFlag(instance, false);
    VeltracePersistence::saveSuperProperties(RecordMap{{"k", 1}}, instance);
    VeltracePersistence::saveTimedEvents(RecordMap{{"e", 1.0}}, instance);
    VeltracePersistence::saveIdentity("other", VeltraceIdentity{.distinctID = "kept"});

    VeltracePersistence::deleteVTUserDefaultsData(instance);
    auto defaults = UserDefaults::open("Veltrace");
    for (const char* name : {"VTDistinctID", "VTPeopleDistinctID", "VTAnonymousId", "VTUserId", "VTAlias",
                             "VTHadPersistedDistinctId", "OptOutStatus", "timedEvents", "superProperties"})
        EXPECT_FALSE(defaults->contains(suiteKey(name))) << name;
    EXPECT_EQ(VeltracePersistence::loadIdentity("other").distinctID, "kept");
}

// A damaged suite is kept aside and replaced, so that the state is stored again from then on.
TEST_F(VeltracePersistenceTest, GarbageSuiteFileIsReplacedAndStateStoredAgain) {
    const auto path = UserDefaults::pathForSuite("Veltrace").value();
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "SQLite format 2\n" << std::string(2000, '\x7f');
    LogCapture log;
    EXPECT_EQ(VeltracePersistence::loadIdentity(instance), VeltraceIdentity{.hadPersistedDistinctId = false});
    VeltracePersistence::saveIdentity(instance, VeltraceIdentity{.distinctID = "kept"});
    VeltracePersistence::saveSuperProperties(RecordMap{{"k", 1}}, instance);
    EXPECT_EQ(VeltracePersistence::loadIdentity(instance).distinctID, "kept");
    EXPECT_EQ(VeltracePersistence::loadSuperProperties(instance).size(), 1u);
    const auto messages = log.take();
    EXPECT_TRUE(LogCapture::containsPrefix(messages, "User defaults suite at path: " + path.string()));
    EXPECT_TRUE(std::filesystem::exists(path.string() + ".corrupt"));
}

TEST_F(VeltracePersistenceTest, NoLegacyFilesMeansNoMigrationAtAll) {
    LogCapture log;
    VeltracePersistence persistence(instance);
    persistence.migrate();
    EXPECT_TRUE(migrationTexts(log.take()).empty());
    EXPECT_FALSE(std::filesystem::exists(UserDefaults::pathForSuite("Veltrace").value()));
}

TEST_F(VeltracePersistenceTest, LegacyPropertiesFileAloneIsImported) {
    writeLegacyFile(
        home.caches(), "properties",
        PropertyMap{{"superProperties", PropertyMap{{"plan", "pro"}}},
                    {"timedEvents", PropertyMap{{"video", 5.0}}},
                    {"distinctId", "legacy-id"},
                    {"anonymousId", "anon"},
                    {"alias", 42}, // not a string: absent
                    {"hadPersistedDistinctId", true},
                    {"peopleDistinctId", "people-id"},
                    {"peopleUnidentifiedQueue", Array{PropertyMap{{"$set", PropertyMap{{"x", 1}}}}}}});
    LogCapture log;
    VeltracePersistence persistence(instance);
    persistence.migrate();

    const auto texts = migrationTexts(log.take());
    for (const char* kind : {"events", "people", "groups", "optOutStatus"}) {
        const auto path = persistence.legacyFilePath(kind)->string();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "Unable to read file at path: " + path), 1) << kind;
        EXPECT_EQ(std::count(texts.begin(), texts.end(),
                             "Unable to remove file at path: " + path + ", error: No such file or directory"),
                  2)
            << kind; // once when it cannot be read, once in the final clean-up
    }
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "can't unarchive file"), 4);

    EXPECT_EQ(VeltracePersistence::loadIdentity(instance),
              (VeltraceIdentity{"legacy-id", "people-id", "anon", std::nullopt, std::nullopt, true}));
    EXPECT_TRUE(VeltraceType(VeltracePersistence::loadSuperProperties(instance))
                    .valueEquals(PropertyMap{{"plan", "pro"}}));
    EXPECT_TRUE(VeltraceType(VeltracePersistence::loadTimedEvents(instance))
                    .valueEquals(PropertyMap{{"video", 5.0}}));
    EXPECT_EQ(VeltracePersistence::loadOptOutStatusFlag(instance), std::nullopt);
    const auto people = persistence.loadEntitiesInBatch(PersistenceType::people);
    ASSERT_EQ(people.size(), 1u);
    EXPECT_TRUE(people[0].at("$set").valueEquals(PropertyMap{{"x", 1}}));
    for (const char* kind : {"events", "people", "groups", "properties", "optOutStatus"})
        EXPECT_FALSE(std::filesystem::exists(*persistence.legacyFilePath(kind))) << kind;
}

TEST_F(VeltracePersistenceTest, AllLegacyKindsAreImportedAndDamagedFilesSkipped) {
    writeLegacyFile(home.caches(), "events",
                    Array{PropertyMap{{"event", "old one"}}, PropertyMap{{"event", "old two"}}});
    writeLegacyFile(home.caches(), "people", Array{PropertyMap{{"$set", PropertyMap{{"y", 2}}}}});
    writeLegacyFile(home.caches(), "groups",
                    Array{PropertyMap{{"$group_key", "g"}}, "not a record"}); // not a list of records
    writeLegacyFile(home.caches(), "optOutStatus", true);
    std::ofstream(home.caches() / ("veltrace-" + instance + "-properties")) << "\x00\x01 damaged";

    VeltracePersistence persistence(instance);
    persistence.migrate();
    EXPECT_EQ(eventNames(persistence.loadEntitiesInBatch(PersistenceType::events)),
              (std::vector<std::string>{"old one", "old two"}));
    EXPECT_EQ(persistence.loadEntitiesInBatch(PersistenceType::people).size(), 1u);
    EXPECT_TRUE(persistence.loadEntitiesInBatch(PersistenceType::groups).empty());
    EXPECT_EQ(VeltracePersistence::loadOptOutStatusFlag(instance), true);
    EXPECT_EQ(VeltracePersistence::loadIdentity(instance).distinctID, "");
    for (const char* kind : {"events", "people", "groups", "properties", "optOutStatus"})
        EXPECT_FALSE(std::filesystem::exists(*persistence.legacyFilePath(kind))) << kind;

    // A second run finds nothing left to import.
    persistence.migrate();
    EXPECT_EQ(persistence.loadEntitiesInBatch(PersistenceType::events).size(), 2u);
}

// Legacy files that cannot be deleted are imported once, not on every start.
TEST_F(VeltracePersistenceTest, ReadOnlyCachesFolderImportsOnce) {
    writeLegacyFile(home.caches(), "properties",
                    PropertyMap{{"distinctId", "legacy-id"}, {"superProperties", PropertyMap{{"v", 1}}}});
    ASSERT_EQ(::chmod(home.caches().c_str(), 0500), 0);
    bool readOnly = false;
    std::vector<std::string> firstTexts;
    withoutFileModeOverride([&] {
        // access() would answer for root's full capabilities; a real attempt tells.
        const auto probe = home.caches() / "probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT, 0600);
        readOnly = fd < 0;
        if (fd >= 0)
            ::close(fd);
        if (!readOnly)
            return;
        LogCapture log;
        VeltracePersistence persistence(instance);
        persistence.migrate();
        firstTexts = migrationTexts(log.take());
        VeltracePersistence::saveSuperProperties(RecordMap{{"v", 2}}, instance);
        VeltracePersistence second(instance);
        second.migrate();
    });
    if (!readOnly)
        GTEST_SKIP() << "cannot make a folder read-only for this process";

    const auto legacy = home.caches() / ("veltrace-" + instance + "-properties");
    EXPECT_NE(std::find(firstTexts.begin(), firstTexts.end(),
                        "Unable to remove file at path: " + legacy.string() + ", error: Permission denied"),
              firstTexts.end());
    EXPECT_TRUE(std::filesystem::exists(legacy));
    EXPECT_EQ(VeltracePersistence::loadIdentity(instance).distinctID, "legacy-id");
    EXPECT_TRUE(
        VeltraceType(VeltracePersistence::loadSuperProperties(instance)).valueEquals(RecordMap{{"v", 2}}));

    // Once the folder is writable again the leftovers go, still without a second import.
    ASSERT_EQ(::chmod(home.caches().c_str(), 0700), 0);
    VeltracePersistence::saveIdentity(instance, VeltraceIdentity{.distinctID = "newer"});
    VeltracePersistence(instance).migrate();
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_EQ(VeltracePersistence::loadIdentity(instance).distinctID, "newer");
    EXPECT_FALSE(UserDefaults::open("Veltrace")->contains(suiteKey("legacyArchivesImported")));
}
