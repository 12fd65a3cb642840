#include "InstanceRig.h"
#include "LogCapture.h"

#include "client/Group.h"
#include "client/People.h"

#include <gtest/gtest.h>

#include <regex>

namespace veltrace::test {
namespace {

TEST(PeopleTest, UpdatesBeforeIdentificationWaitAndLeaveWithTheIdentifiedId) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->people().set({{"plan", "free"}});
    auto held = rig.rows(PersistenceType::people, true);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_FALSE(has(held[0], "$distinct_id"));
    rig.await([&](auto done) { instance->flush(true, done); });
    EXPECT_EQ(rig.rows(PersistenceType::people, true).size(), 1u) << "a flush leaves held-back updates alone";

    instance->identify("customer-9");
    rig.drain();
    EXPECT_TRUE(rig.rows(PersistenceType::people, true).empty());
    const auto ready = rig.instance->trackingQueue().sync(
        [&] { return instance->persistence().loadEntitiesInBatch(PersistenceType::people); });
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(text(ready[0], "$distinct_id"), "customer-9");
}

TEST(PeopleTest, AutomaticPropertiesGoWithSetButNotWithOtherActions) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify("u");
    instance->people().set({{"$ios_version", "mine"}, {"name", "Ann"}});
    instance->people().setOnce({{"first seen", "today"}});
    instance->people().increment("logins", 1);
    instance->people().unset({"name", "age"});
    instance->people().deleteUser();
    const auto people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 5u);
    const auto set = mapAt(people[0], "$set");
    EXPECT_EQ(text(set, "$ios_version"), "mine");
    EXPECT_EQ(text(set, "name"), "Ann");
    EXPECT_TRUE(has(set, "$ios_device_model"));
    EXPECT_EQ(text(set, "$cpp_lib_version"), "1.0.0");
    EXPECT_TRUE(has(mapAt(people[1], "$set_once"), "$ios_lib_version"));
    EXPECT_TRUE(same(mapAt(people[2], "$add"), RecordMap{{"logins", 1}}));
    ASSERT_TRUE(people[3].at("$unset").array());
    EXPECT_EQ(people[3].at("$unset").array()->size(), 2u);
    EXPECT_TRUE(mapAt(people[4], "$delete").empty());
    for (const auto& record : people) {
        EXPECT_EQ(text(record, "$token"), testToken);
        EXPECT_EQ(text(record, "$distinct_id"), "u");
        EXPECT_EQ(text(record, "$user_id"), "u");
        EXPECT_TRUE(has(record, "$vt_metadata"));
    }
}

TEST(PeopleTest, TrackChargeAppendsATransactionStampedInUtc) {
    InstanceRig rig;
    rig.wall->set(1'700'000'000.5);
    auto instance = rig.make();
    instance->identify("payer");
    instance->people().trackCharge(9.99);
    instance->people().trackCharge(5, PropertyMap{{"$time", "custom"}, {"sku", "A1"}});
    instance->people().clearCharges();
    const auto people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 3u);
    const auto charge = mapAt(mapAt(people[0], "$append"), "$transactions");
    EXPECT_EQ(number(charge.at("$amount")), 9.99);
    EXPECT_EQ(text(charge, "$time"), "2023-11-14T22:13:20.500Z");
    const auto custom = mapAt(mapAt(people[1], "$append"), "$transactions");
    EXPECT_EQ(text(custom, "$time"), "custom");
    EXPECT_EQ(text(custom, "sku"), "A1");
    const auto cleared = mapAt(people[2], "$set");
    ASSERT_TRUE(cleared.at("$transactions").array());
    EXPECT_TRUE(cleared.at("$transactions").array()->empty());
}

TEST(PeopleTest, IgnoreTimeMarksEveryRecord) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify("u");
    instance->people().setIgnoreTime(true);
    instance->people().append({{"list", "x"}});
    const auto people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 1u);
    EXPECT_EQ(number(people[0].at("$ignore_time")), 1);
}

TEST(GroupTest, CacheGivesOneObjectPerKeyAndIdAndReplacesOnACollision) {
    InstanceRig rig;
    auto instance = rig.make();
    auto first = instance->getGroup("company", 1);
    EXPECT_EQ(instance->getGroup("company", 1), first);
    LogCapture log;
    auto text1 = instance->getGroup("company", "1");
    EXPECT_NE(text1, first);
    EXPECT_EQ(LogCapture::count(log.take(), "groups dictionary key collision: company_1"), 1u);
    EXPECT_EQ(instance->getGroup("company", "1"), text1);
}

TEST(GroupTest, RecordsCarryKeyAndIdAndDeleteDropsTheCachedObject) {
    InstanceRig rig;
    auto instance = rig.make();
    auto group = instance->getGroup("company", 42);
    group->set({{"name", "Quill"}});
    group->unset("name");
    group->union_("tags", {"a", "b"});
    group->remove("tags", "a");
    group->deleteGroup();
    const auto groups = rig.rows(PersistenceType::groups);
    ASSERT_EQ(groups.size(), 5u);
    for (const auto& record : groups) {
        EXPECT_EQ(text(record, "$group_key"), "company");
        EXPECT_EQ(number(record.at("$group_id")), 42);
        EXPECT_FALSE(has(record, "$device_id")) << "group records carry no identity";
    }
    EXPECT_FALSE(has(mapAt(groups[0], "$set"), "$ios_lib_version")) << "no automatic properties";
    EXPECT_TRUE(has(groups[4], "$delete"));
    EXPECT_NE(instance->getGroup("company", 42), group);
}

TEST(GroupTest, MembershipIsKeptAsASuperPropertyAndMirroredToThePeopleProfile) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify("member");
    instance->addGroup("team", "red");
    instance->addGroup("team", "blue");
    instance->addGroup("team", "red");
    rig.drain();
    EXPECT_TRUE(same(instance->currentSuperProperties().at("team"), Array{"red", "blue"}));
    auto people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 2u) << "adding an id already present queues nothing";
    EXPECT_TRUE(has(people[0], "$set"));
    EXPECT_TRUE(has(people[1], "$union"));

    instance->removeGroup("team", "red");
    instance->removeGroup("team", "blue");
    rig.drain();
    EXPECT_FALSE(has(instance->currentSuperProperties(), "team"));
    people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 4u);
    EXPECT_TRUE(same(mapAt(people[3], "$remove"), RecordMap{{"team", "blue"}}));

    instance->setGroup("org", 7);
    instance->track("in org", std::nullopt, PropertyMap{{"org", 8}});
    rig.drain();
    EXPECT_TRUE(same(instance->currentSuperProperties().at("org"), Array{7}));
    EXPECT_EQ(number(propertiesOf(rig.events().back()).at("org")), 8) << "the call's groups win";
}

} // namespace
} // namespace veltrace::test
