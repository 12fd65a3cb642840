#include "InstanceRig.h"
#include "LogCapture.h"

#include "client/UserDefaults.h"
#include "client/Veltrace.h"
#include "client/VeltraceManager.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <regex>
#include <thread>

namespace veltrace::test {
namespace {

const std::regex uuidForm("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

TEST(VeltraceRegistryTest, SecondInitializeWithTheSameTokenReturnsTheFirstInstanceUnchanged) {
    TempXdgHome home;
    const std::string token = "registry0000000000000000000000aa";
    auto first = Veltrace::initialize(token, withoutTimer());
    auto changed = withoutTimer();
    changed.flushInterval = 30;
    changed.serverURL = "https://elsewhere.example";
    auto second = Veltrace::initialize(token, changed);
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->flushInterval(), 0);
    EXPECT_NE(second->serverURL(), "https://elsewhere.example");
    EXPECT_EQ(Veltrace::mainInstance(), first);
    EXPECT_EQ(first->name(), token);
    EXPECT_FALSE(first->trackAutomaticEventsEnabled());

    auto otherName = withoutTimer();
    otherName.instanceName = "other";
    auto named = Veltrace::initialize(token, otherName);
    EXPECT_NE(named, first);
    EXPECT_EQ(Veltrace::mainInstance(), named);
    Veltrace::setMainInstance(token);
    EXPECT_EQ(Veltrace::mainInstance(), first);
    Veltrace::setMainInstance("nobody");
    EXPECT_EQ(Veltrace::mainInstance(), first);

    LogCapture log;
    Veltrace::removeInstance(token);
    EXPECT_EQ(Veltrace::getInstance(token), nullptr);
    EXPECT_EQ(LogCapture::count(log.take(), "no such instance: " + token), 1u);
    Veltrace::removeInstance("other");
}

TEST(VeltraceRegistryTest, MainInstanceBeforeInitializeMakesAnEmptyTokenInstanceThatStoresNothing) {
    TempXdgHome home;
    auto main = Veltrace::mainInstance();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->apiToken(), "");
    EXPECT_EQ(main->name(), "");
    EXPECT_EQ(Veltrace::getInstance(""), main);

    LogCapture log;
    main->track("lost");
    main->people().set({{"a", 1}});
    main->trackingQueue().sync([] {});
    const auto stored = main->trackingQueue().sync([&] {
        return main->persistence().vtdb().readRows(PersistenceType::events, VTDB::noLimit, false).size();
    });
    EXPECT_EQ(stored, 0u);
    EXPECT_TRUE(LogCapture::containsPrefix(log.take(), "veltrace instance has no project token"));
    Veltrace::removeInstance("");
}

TEST(VeltraceRegistryTest, ThreadsRacingToInitializeGetOneInstance) {
    TempXdgHome home;
    const std::string token = "race00000000000000000000000000bb";
    std::vector<std::shared_ptr<VeltraceInstance>> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = Veltrace::initialize(token, withoutTimer()); });
    for (auto& thread : threads)
        thread.join();
    for (const auto& instance : seen)
        EXPECT_EQ(instance, seen[0]);
    Veltrace::removeInstance(token);
}

TEST(VeltraceIdentityTest, FreshInstallGetsADeviceIdThatARestartKeeps) {
    InstanceRig rig;
    auto instance = rig.make();
    const auto fresh = instance->identity();
    ASSERT_TRUE(fresh.anonymousId);
    EXPECT_TRUE(std::regex_match(*fresh.anonymousId, uuidForm)) << *fresh.anonymousId;
    EXPECT_EQ(fresh.distinctID, "$device:" + *fresh.anonymousId);
    EXPECT_FALSE(fresh.userId);
    EXPECT_EQ(instance->debugDescription(), std::string("Veltrace(\n    Token: ") + testToken +
                                                ",\n    Distinct Id: " + fresh.distinctID + "\n)");

    rig.make();
    EXPECT_EQ(rig.instance->identity(), fresh);
}

TEST(VeltraceIdentityTest, IdentifyWithTheCurrentIdTracksNothingButSetsTheUserId) {
    InstanceRig rig;
    auto instance = rig.make();
    const auto current = instance->distinctId();
    rig.await([&](auto done) { instance->identify(current, true, done); });
    EXPECT_TRUE(rig.events().empty());
    EXPECT_EQ(instance->identity().userId, current);
    rig.make();
    EXPECT_EQ(rig.instance->identity().userId, current);
}

TEST(VeltraceIdentityTest, IdentifyWithANewIdAttributesLaterEventsToIt) {
    InstanceRig rig;
    auto instance = rig.make();
    const auto before = instance->identity();
    instance->identify("user-7");
    instance->track("after");
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(text(events[0], "event"), "$identify");
    EXPECT_EQ(text(propertiesOf(events[0]), "$anon_distinct_id"), before.distinctID);
    const auto after = propertiesOf(events[1]);
    EXPECT_EQ(text(after, "distinct_id"), "user-7");
    EXPECT_EQ(text(after, "$user_id"), "user-7");
    EXPECT_EQ(text(after, "$device_id"), *before.anonymousId);
    rig.make();
    EXPECT_EQ(rig.instance->identity().distinctID, "user-7");
    EXPECT_EQ(rig.instance->identity().peopleDistinctID, "user-7");
}

TEST(VeltraceIdentityTest, InvalidIdentityInputIsLoggedAndStillCompletes) {
    InstanceRig rig;
    auto instance = rig.make();
    const auto description = instance->debugDescription();
    const auto id = instance->distinctId();
    struct Case {
        std::function<void(VeltraceInstance::Completion)> call;
        std::string message;
    };
    const Case cases[] = {
        {[&](auto done) { instance->identify("", true, done); },
         description + " cannot identify blank distinct id"},
        {[&](auto done) { instance->createAlias("a", "", true, true, done); },
         description + " cannot identify blank distinct id"},
        {[&](auto done) { instance->createAlias("", id, true, true, done); },
         description + " create alias called with empty alias"},
        {[&](auto done) { instance->createAlias(id, id, true, true, done); },
         "alias: " + id + " matches distinctId: " + id + " - skipping api call."},
    };
    for (const auto& c : cases) {
        LogCapture log;
        rig.await(c.call);
        const auto messages = log.take();
        EXPECT_EQ(LogCapture::count(messages, c.message), 1u) << c.message;
    }
    EXPECT_TRUE(rig.events().empty());
}

TEST(VeltraceIdentityTest, CreateAliasTracksTheAliasAndIdentifies) {
    InstanceRig rig;
    auto instance = rig.make();
    rig.await([&](auto done) { instance->createAlias("alias-1", "user-1", true, true, done); });
    const auto events = rig.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(text(events[0], "event"), "$create_alias");
    EXPECT_EQ(text(propertiesOf(events[0]), "alias"), "alias-1");
    EXPECT_EQ(text(events[1], "event"), "$identify");
    // identify with a new id forgets the alias.
    EXPECT_EQ(instance->identity().distinctID, "user-1");
    EXPECT_FALSE(instance->identity().alias);
}

TEST(VeltraceOptOutTest, NothingIsStoredWhileOptedOutAndOptingInTracksOptIn) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify("someone");
    instance->registerSuperProperties({{"plan", "pro"}});
    instance->optOutTracking();
    rig.drain();
    const auto before = rig.events().size();
    EXPECT_TRUE(instance->hasOptedOutTracking());
    EXPECT_TRUE(instance->currentSuperProperties().empty());
    EXPECT_FALSE(instance->identity().userId);
    EXPECT_NE(instance->distinctId(), "someone");

    instance->track("ignored");
    instance->people().set({{"a", 1}});
    instance->getGroup("company", 1)->set({{"b", 2}});
    instance->time("ignored");
    instance->registerSuperProperties({{"x", 1}});
    rig.await([&](auto done) { instance->flush(true, done); });
    EXPECT_EQ(rig.events().size(), before);
    EXPECT_TRUE(rig.rows(PersistenceType::groups).empty());
    EXPECT_EQ(instance->elapsedTime("ignored"), 0);
    EXPECT_TRUE(instance->currentSuperProperties().empty());

    // The choice survives a restart.
    rig.make();
    EXPECT_TRUE(rig.instance->hasOptedOutTracking());
    rig.instance->optInTracking(std::nullopt, PropertyMap{{"why", "asked"}});
    const auto events = rig.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(text(events.back(), "event"), "$opt_in");
    EXPECT_EQ(text(propertiesOf(events.back()), "why"), "asked");
    EXPECT_FALSE(rig.instance->hasOptedOutTracking());
}

// The caller learns whether the choice will outlast the process; it is in force for this run either way.
TEST(VeltraceOptOutTest, TheCompletionSaysWhetherTheChoiceWasStored) {
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked ? "store blocked" : "store writable");
        InstanceRig rig;
        auto instance = rig.make();
        rig.drain();
        if (blocked) {
            // A file where the suite's folder belongs stops every write, even for root.
            const auto folder = UserDefaults::pathForSuite(VeltracePersistence::suiteName)->parent_path();
            std::filesystem::remove_all(folder);
            std::ofstream(folder) << "not a folder";
        }
        std::promise<bool> out;
        instance->optOutTracking([&](bool stored) { out.set_value(stored); });
        EXPECT_EQ(out.get_future().get(), !blocked);
        EXPECT_TRUE(instance->hasOptedOutTracking());
        std::promise<bool> in;
        instance->optInTracking(std::nullopt, std::nullopt, [&](bool stored) { in.set_value(stored); });
        EXPECT_EQ(in.get_future().get(), !blocked);
        EXPECT_FALSE(instance->hasOptedOutTracking());
    }
}

TEST(VeltraceOptOutTest, OptingOutQueuesTheProfileDeletionForTheIdentifiedUser) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify("leaving");
    instance->optOutTracking();
    const auto people = rig.rows(PersistenceType::people);
    ASSERT_EQ(people.size(), 2u);
    EXPECT_TRUE(has(people[0], "$delete"));
    EXPECT_EQ(text(people[0], "$distinct_id"), "leaving");
    EXPECT_EQ(text(people[1], "$distinct_id"), "leaving");
    EXPECT_TRUE(rig.rows(PersistenceType::people, true).empty()) << "nothing waits for a later identify";
}

TEST(VeltraceOptOutTest, OptOutByDefaultOnlyWhenNotDecidedOrAlreadyOut) {
    InstanceRig rig;
    VeltraceInstance::Options options;
    options.optOutTrackingByDefault = true;
    rig.make(options);
    rig.drain();
    EXPECT_TRUE(rig.instance->hasOptedOutTracking());
    rig.instance->optInTracking();
    rig.drain();
    rig.make(options);
    rig.drain();
    EXPECT_FALSE(rig.instance->hasOptedOutTracking()) << "a stored opt-in wins over the default";
}

TEST(VeltraceResetTest, ResetEmptiesTheQueuesAndStartsANewAnonymousIdentity) {
    InstanceRig rig;
    auto instance = rig.make();
    instance->identify("user");
    instance->track("a");
    instance->people().set({{"p", 1}});
    instance->getGroup("g", "1")->set({{"q", 2}});
    instance->registerSuperProperties({{"s", 1}});
    instance->time("t");
    rig.await([&](auto done) { instance->reset(done); });
    for (auto type : allPersistenceTypes) {
        EXPECT_TRUE(rig.rows(type, false).empty());
        EXPECT_TRUE(rig.rows(type, true).empty());
    }
    const auto identity = instance->identity();
    EXPECT_EQ(identity.distinctID, "$device:" + identity.anonymousId.value_or("?"));
    EXPECT_FALSE(identity.userId);
    EXPECT_FALSE(identity.peopleDistinctID);
    EXPECT_EQ(identity.hadPersistedDistinctId, true);
    EXPECT_TRUE(instance->currentSuperProperties().empty());
    rig.make();
    EXPECT_EQ(rig.instance->identity(), identity);
    EXPECT_TRUE(rig.instance->currentSuperProperties().empty());
}

TEST(VeltracePersistenceRecoveryTest, AfterADamagedSuiteTheIdentityAndOptOutAreStoredAgain) {
    InstanceRig rig;
    const auto suite = UserDefaults::pathForSuite(VeltracePersistence::suiteName).value();
    std::filesystem::create_directories(suite.parent_path());
    std::ofstream(suite) << std::string(8192, '#');

    auto instance = rig.make();
    const auto identity = instance->identity();
    instance->optOutTracking();
    rig.drain();
    EXPECT_TRUE(std::filesystem::exists(suite.string() + ".corrupt"));

    rig.make();
    EXPECT_EQ(rig.instance->hasOptedOutTracking(), true);
    EXPECT_NE(rig.instance->distinctId(), identity.distinctID) << "opting out made a new anonymous id";
    const auto afterOptOut = rig.instance->identity();
    rig.make();
    EXPECT_EQ(rig.instance->identity(), afterOptOut);
}

// Delivery that waits until shutdown(); tells when a batch arrived and which thread destroyed the sender.
struct DeliveryGate {
    std::promise<void> arrived;
    std::promise<std::thread::id> destroyedOn;
    std::mutex mutex;
    std::condition_variable changed;
    bool anyArrived = false;
    bool open = false;

    void openUp() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

class GatedSender : public HeldBackSender {
  public:
    explicit GatedSender(std::shared_ptr<DeliveryGate> gate) : gate_(std::move(gate)) {}
    ~GatedSender() override { gate_->destroyedOn.set_value(std::this_thread::get_id()); }
    bool requestNotAllowed() const override { return false; }
    bool sendRequest(const std::string&, FlushType, bool, const HeaderFields&, const QueryItems&) override {
        std::unique_lock lock(gate_->mutex);
        if (!std::exchange(gate_->anyArrived, true))
            gate_->arrived.set_value();
        gate_->changed.wait(lock, [&] { return gate_->open; });
        return false;
    }
    void shutdown() override { gate_->openUp(); }

  private:
    std::shared_ptr<DeliveryGate> gate_;
};

TEST(VeltraceLifetimeTest, TheLastOwnerLettingGoDuringDeliveryDestroysTheInstanceOnItsOwnThread) {
    InstanceRig rig;
    auto gate = std::make_shared<DeliveryGate>();
    VeltraceInstance::Options options;
    options.sender = std::make_shared<GatedSender>(gate);
    rig.make(std::move(options));
    rig.instance->track("e");
    rig.instance->flush();
    gate->arrived.get_future().wait();

    rig.instance.reset(); // the batch is still out, on the instance's network queue
    gate->openUp();       // lets the batch end, had the release not ended it
    auto destroyedOn = gate->destroyedOn.get_future();
    ASSERT_EQ(destroyedOn.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(destroyedOn.get(), std::this_thread::get_id())
        << "the instance was destroyed inside its own work, after its owner let go";
}

} // namespace
} // namespace veltrace::test
