#include "InstanceRig.h"
#include "LogCapture.h"

#include "client/AutomaticProperties.h"
#include "client/DeviceInfo.h"
#include "client/SessionMetadata.h"

#include <gtest/gtest.h>

#include <cmath>

namespace veltrace::test {
namespace {

TEST(TrackTest, RecordCarriesTokenTimeIdentityAndSessionMetadata) {
    InstanceRig rig;
    rig.wall->set(1'700'000'123.4565);
    auto instance = rig.make();
    instance->track("opened", PropertyMap{{"where", "menu"}});
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 1u);
    const auto& record = events[0];
    EXPECT_EQ(text(record, "event"), "opened");
    const auto properties = propertiesOf(record);
    EXPECT_EQ(text(properties, "token"), testToken);
    EXPECT_EQ(number(properties.at("time")), 1'700'000'123'457.0);
    EXPECT_EQ(text(properties, "distinct_id"), instance->distinctId());
    EXPECT_EQ(text(properties, "where"), "menu");
    EXPECT_EQ(text(properties, "$os"), "Linux");
    EXPECT_EQ(text(properties, "vt_lib"), "cpp");
    EXPECT_EQ(text(properties, "$model"), DeviceInfo::machine());
    const auto metadata = mapAt(record, "$vt_metadata");
    EXPECT_EQ(text(metadata, "$vt_session_id"), instance->sessionMetadata().sessionID());
    EXPECT_EQ(text(metadata, "$vt_session_id").size(), 16u);
    EXPECT_EQ(text(metadata, "$vt_event_id").size(), 16u);
    // The session starts when the instance is made, not in 1970.
    EXPECT_EQ(number(metadata.at("$vt_session_start_sec")), 1'700'000'123.0);
}

TEST(TrackTest, MissingEventNameBecomesVtEventAndAnEmptyOneIsKept) {
    InstanceRig rig;
    auto instance = rig.make();
    LogCapture log;
    instance->track(std::nullopt);
    instance->track("");
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(text(events[0], "event"), "vt_event");
    EXPECT_EQ(text(events[1], "event"), "");
    EXPECT_EQ(
        LogCapture::count(log.take(), "veltrace track called with empty event parameter. using 'vt_event'"),
        1u);
}

TEST(TrackTest, AutomaticEventIsDroppedAndKeepsItsTimedEntry) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->time("$ae_session");
    instance->track("$ae_session");
    EXPECT_TRUE(rig.events().empty());
    rig.wall->advance(1);
    EXPECT_DOUBLE_EQ(instance->elapsedTime("$ae_session"), 1.0);
}

TEST(TrackTest, DurationOfATimedEventIsReportedOnce) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->time("export");
    rig.drain();
    rig.wall->advance(2.5);
    instance->track("export");
    instance->track("export");
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(number(propertiesOf(events[0]).at("$duration")), 2.5);
    EXPECT_FALSE(has(propertiesOf(events[1]), "$duration"));
    EXPECT_EQ(instance->elapsedTime("export"), 0);
}

TEST(TrackTest, TimedEventsAndSuperPropertiesSurviveARestart) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->time("long task");
    instance->registerSuperProperties({{"plan", "pro"}});
    rig.drain();
    rig.make();
    rig.wall->advance(4);
    EXPECT_DOUBLE_EQ(rig.instance->elapsedTime("long task"), 4.0);
    EXPECT_EQ(text(rig.instance->currentSuperProperties(), "plan"), "pro");
}

TEST(TrackTest, EventPropertyBeatsSuperPropertyBeatsAutomaticProperty) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->registerSuperProperties({{"$os", "super"}, {"shared", "super"}, {"only super", 1}});
    instance->track("e", PropertyMap{{"shared", "event"}, {"time", "mine"}});
    const auto properties = propertiesOf(rig.events().at(0));
    EXPECT_EQ(text(properties, "$os"), "super");
    EXPECT_EQ(text(properties, "shared"), "event");
    EXPECT_EQ(text(properties, "time"), "mine");
    EXPECT_EQ(number(properties.at("only super")), 1);
}

TEST(TrackTest, SuperPropertyOperations) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->registerSuperProperties({{"a", 1}, {"b", "default"}});
    instance->registerSuperPropertiesOnce({{"a", 2}, {"b", "set"}, {"c", 3}}, VeltraceType("default"));
    instance->unregisterSuperProperty("c");
    instance->updateSuperProperties([](RecordMap& properties) { properties["d"] = true; });
    rig.drain();
    EXPECT_TRUE(same(instance->currentSuperProperties(), RecordMap{{"a", 1}, {"b", "set"}, {"d", true}}));
    instance->clearSuperProperties();
    rig.drain();
    EXPECT_TRUE(instance->currentSuperProperties().empty());
}

TEST(TrackTest, SessionSequenceIdsCountEventsAndProfilesSeparately) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify(instance->distinctId());
    instance->track("first");
    instance->people().set({{"p", 1}});
    instance->track("second");
    instance->people().increment({{"n", 1}});
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(number(mapAt(events[0], "$vt_metadata").at("$vt_session_seq_id")), 0);
    EXPECT_EQ(number(mapAt(events[1], "$vt_metadata").at("$vt_session_seq_id")), 1);
    const auto people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 2u);
    EXPECT_EQ(number(mapAt(people[1], "$vt_metadata").at("$vt_session_seq_id")), 1);
}

TEST(TrackTest, ScreenKeysOnlyWithAScreenAndTheApplicationVersionAsSet) {
    InstanceRig rig;
    auto instance = rig.make();
    DeviceInfo::setScreenSizeProvider({});
    DeviceInfo::setApplicationVersion(std::nullopt, std::nullopt);
    instance->track("no screen");
    rig.drain();
    DeviceInfo::setScreenSizeProvider([] { return DeviceInfo::ScreenSize{1920.7, 1080.2}; });
    DeviceInfo::setApplicationVersion("1.2.0", "1.2.0.34");
    rig.drain();
    instance->track("screen");
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 2u);
    const auto without = propertiesOf(events[0]);
    EXPECT_FALSE(has(without, "$screen_width"));
    EXPECT_FALSE(has(without, "$screen_height"));
    EXPECT_EQ(text(without, "$app_version_string"), "Unknown");
    const auto with = propertiesOf(events[1]);
    EXPECT_EQ(number(with.at("$screen_width")), 1920);
    EXPECT_EQ(number(with.at("$screen_height")), 1080);
    EXPECT_EQ(text(with, "$app_version_string"), "1.2.0");
    EXPECT_EQ(text(with, "$app_build_number"), "1.2.0.34");
    DeviceInfo::setScreenSizeProvider({});
    DeviceInfo::setApplicationVersion(std::nullopt, std::nullopt);
}

TEST(TrackTest, HostileValuesNeitherCrashNorBlockTracking) {
    InstanceRig rig;
    auto instance = rig.make();
    PropertyMap many;
    for (int i = 0; i < 10'000; ++i)
        many["key" + std::to_string(i)] = i;
    // Deeper than the reader accepts, so the stored row cannot be read back.
    VeltraceType deep = PropertyMap{};
    for (int i = 0; i < 600; ++i)
        deep = PropertyMap{{"nested", deep}};
    instance->track("non-finite", PropertyMap{{"nan", std::nan("")}, {"inf", HUGE_VAL}});
    instance->track("huge", PropertyMap{{"text", std::string(1 << 20, 'x')}});
    instance->track("many", many);
    instance->track("deep", PropertyMap{{"value", deep}});
    instance->track("after");
    const auto events = rig.events();
    std::vector<std::string> names;
    for (const auto& event : events)
        names.push_back(text(event, "event"));
    // Non-finite numbers are written as text; the deep value cannot be read back, so its row goes when
    // it is read; everything else arrives in order.
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names.front(), "non-finite");
    EXPECT_EQ(names.back(), "after");
    EXPECT_EQ(text(propertiesOf(events[0]), "nan"), "nan");
    EXPECT_EQ(propertiesOf(events[1]).at("text").string()->size(), 1u << 20);
    EXPECT_EQ(propertiesOf(events[2]).size(), 10'000u + propertiesOf(events.back()).size());
}

TEST(DeviceInfoTest, OsReleaseAndMachineIdReaders) {
    EXPECT_EQ(DeviceInfo::prettyName("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(DeviceInfo::prettyName("PRETTY_NAME='Tiny \"Linux\"'\n"), "Tiny \"Linux\"");
    EXPECT_EQ(DeviceInfo::prettyName("PRETTY_NAME=\"Say \\\"hi\\\"\""), "Say \"hi\"");
    EXPECT_EQ(DeviceInfo::prettyName("NAME=Arch\n"), std::nullopt);

    const auto id = DeviceInfo::applicationSpecificId("0123456789abcdef0123456789abcdef\n");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->size(), 36u);
    EXPECT_EQ(id->find("0123456789"), std::string::npos) << "the raw id must not show through";
    EXPECT_EQ(DeviceInfo::applicationSpecificId("0123456789abcdef0123456789abcdef"), id);
    EXPECT_NE(DeviceInfo::applicationSpecificId("0123456789abcdef0123456789abcdee"), id);
    EXPECT_EQ(DeviceInfo::applicationSpecificId("not-a-machine-id"), std::nullopt);
}

TEST(SessionMetadataTest, IdsAreTwoRandomWordsInHex) {
    SequenceRandomSource random({0xdeadbeef, 0x1, 0xabc, 0xffffffff});
    EXPECT_EQ(SessionMetadata::randomId(random), "deadbeef00000001");
    EXPECT_EQ(SessionMetadata::randomId(random), "00000abcffffffff");
}

} // namespace
} // namespace veltrace::test
