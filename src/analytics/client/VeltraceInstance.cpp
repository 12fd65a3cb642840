#include "client/VeltraceInstance.h"

#include "client/DeviceInfo.h"
#include "client/Flush.h"
#include "client/FlushRequest.h"
#include "client/Group.h"
#include "client/Logger.h"
#include "client/MainExecutor.h"
#include "client/People.h"
#include "client/SessionMetadata.h"
#include "client/Track.h"
#include "client/VeltracePersistence.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace veltrace {

namespace {

constexpr const char* defaultServer = "https://api.veltrace.example";

void setAllLevels(bool enabled) {
    for (auto level : {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error}) {
        if (enabled)
            Logger::enableLevel(level);
        else
            Logger::disableLevel(level);
    }
}

// A random (version 4) UUID in its standard upper-case text form.
std::string randomUUID(RandomSource& random) {
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const auto word = random.next();
        for (int j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

} // namespace

std::string VeltraceInstance::defaultServerURL() {
    const char* override = std::getenv("VELTRACE_SERVER_URL");
    return override && *override ? std::string(override) : std::string(defaultServer);
}

std::shared_ptr<VeltraceInstance> VeltraceInstance::create(Options options) {
    std::shared_ptr<VeltraceInstance> core(new VeltraceInstance(options));
    core->start(options);
    // Owners share a count of their own. Work that runs holds `core` only while it runs, so it can never
    // be the last owner: the last owner's release stops the work on the owner's thread and destroys the
    // instance there. Destroyed inside its own work, the instance's teardown would run on a queue left to
    // finish alone, past its owner and even past the end of the process.
    return std::shared_ptr<VeltraceInstance>(core.get(), [core](VeltraceInstance*) mutable {
        core->close();
        core.reset();
    });
}

VeltraceInstance::VeltraceInstance(Options& options)
    : apiToken_(options.token), name_(options.name.empty() ? options.token : options.name),
      trackAutomaticEventsEnabled_(options.trackAutomaticEvents), environment_(options.environment) {
    trackingQueue_ = std::make_unique<SerialQueue>("com.veltrace." + apiToken_ + ".tracking");
    networkQueue_ = std::make_unique<SerialQueue>("com.veltrace." + apiToken_ + ".network");
    persistence_ = std::make_unique<VeltracePersistence>(name_);
    persistence_->migrate();
    useUniqueDistinctId_ = options.useUniqueDistinctId;
    const auto serverURL = options.serverURL.value_or(defaultServerURL());
    auto sender = options.sender;
    if (!sender) {
        FlushRequestOptions network;
        network.clock = environment_.clock;
        network.wallClock = environment_.wallClock;
        network.random = environment_.random;
        sender = std::make_shared<FlushRequest>(serverURL, std::move(network));
    }
    flushInstance_ = std::make_shared<Flush>(serverURL, std::move(sender));
    sessionMetadata_ =
        std::make_unique<SessionMetadata>(environment_.random, environment_.wallClock->secondsSince1970());
}

void VeltraceInstance::start(Options& options) {
    trackInstance_ =
        std::make_unique<Track>(name_, apiToken_, *sessionMetadata_, *persistence_, weak_from_this());
    flushInstance_->setDelegate(weak_from_this());
    state_.distinctId = "$device:" + newDeviceIdentifier();
    people_ = std::make_shared<People>(apiToken_, weak_from_this());
    flushInstance_->setFlushInterval(options.flushInterval);
    loadStoredState();
    if (options.optOutTrackingByDefault) {
        const auto status = readWriteLock_.read([&] { return state_.optOutStatus; });
        if (status.value_or(true))
            optOutTracking();
    }
    if (options.superProperties)
        registerSuperProperties(std::move(*options.superProperties));
}

VeltraceInstance::~VeltraceInstance() {
    // Nothing queued runs on a half-destroyed instance: the queues go first (see the member order), and
    // their work holds the instance only weakly.
    trackingQueue_.reset();
    networkQueue_.reset();
}

void VeltraceInstance::close() {
    // Nothing more happens once the owners let go: queued work is dropped, a batch in flight is abandoned
    // (its rows stay queued for the next run), and the step running now is waited for.
    flushInstance_->sender().shutdown();
    trackingQueue_->stop(true);
    networkQueue_->stop(true);
}

void VeltraceInstance::loadStoredState() {
    const auto optOut = VeltracePersistence::loadOptOutStatusFlag(name_);
    auto superProperties = VeltracePersistence::loadSuperProperties(name_);
    auto timedEvents = VeltracePersistence::loadTimedEvents(name_);
    const auto stored = VeltracePersistence::loadIdentity(name_);
    const bool fresh = stored.distinctID.empty();
    const std::string anonymous = fresh ? newDeviceIdentifier() : std::string();
    readWriteLock_.write([&] {
        state_.optOutStatus = optOut;
        state_.superProperties = std::move(superProperties);
        state_.timedEvents = std::move(timedEvents);
        state_.distinctId = stored.distinctID;
        state_.anonymousId = stored.anonymousId;
        state_.userId = stored.userId;
        state_.alias = stored.alias;
        state_.hadPersistedDistinctId = stored.hadPersistedDistinctId;
        state_.peopleDistinctId = stored.peopleDistinctID;
        if (fresh) {
            state_.anonymousId = anonymous;
            state_.userId.reset();
            state_.distinctId = "$device:" + anonymous;
        }
    });
    if (fresh)
        storeIdentity();
}

std::string VeltraceInstance::newDeviceIdentifier() const {
    if (useUniqueDistinctId_) {
        if (auto serial = DeviceInfo::hardwareSerial())
            return *serial;
    }
    return randomUUID(*environment_.random);
}

VeltraceIdentity VeltraceInstance::identity() const {
    return readWriteLock_.read([&] {
        return VeltraceIdentity{state_.distinctId,  state_.peopleDistinctId,
                                state_.anonymousId, state_.userId,
                                state_.alias,       state_.hadPersistedDistinctId};
    });
}

std::string VeltraceInstance::distinctId() const {
    return readWriteLock_.read([&] { return state_.distinctId; });
}

void VeltraceInstance::storeIdentity() {
    VeltracePersistence::saveIdentity(name_, identity());
}

void VeltraceInstance::archive() {
    const auto [superProperties, timedEvents] =
        readWriteLock_.read([&] { return std::pair(state_.superProperties, state_.timedEvents); });
    VeltracePersistence::saveSuperProperties(superProperties, name_);
    VeltracePersistence::saveTimedEvents(timedEvents, name_);
    storeIdentity();
}

void VeltraceInstance::resetToAnonymous(State& state) const {
    state.anonymousId = newDeviceIdentifier();
    state.distinctId = "$device:" + *state.anonymousId;
    state.hadPersistedDistinctId = true;
    state.userId.reset();
    state.alias.reset();
    state.peopleDistinctId.reset();
    state.superProperties.clear();
    state.timedEvents.clear();
}

void VeltraceInstance::enqueue(SerialQueue::Task task) {
    // Called from queued work (identify's "$identify", opt-in's identify and "$opt_in"), the step runs in
    // place, so that its records keep the order of the calls that caused them.
    if (trackingQueue_->isCurrent())
        task();
    else
        submit(std::move(task));
}

void VeltraceInstance::submit(SerialQueue::Task task) {
    // Whatever comes after this step must not join a batch of tracks queued before it.
    std::lock_guard lock(batchMutex_);
    openBatch_.reset();
    trackingQueue_->async(std::move(task));
}

void VeltraceInstance::callCompletion(Completion completion) const {
    if (completion)
        MainExecutor::shared()->post(std::move(completion));
}

void VeltraceInstance::callStoredCompletion(StoredCompletion completion, bool stored) const {
    if (completion)
        callCompletion([completion = std::move(completion), stored] { completion(stored); });
}

std::string VeltraceInstance::debugDescription() const {
    return "Veltrace(\n    Token: " + apiToken_ + ",\n    Distinct Id: " + distinctId() + "\n)";
}

bool VeltraceInstance::hasOptedOutTracking() const {
    return readWriteLock_.read([&] { return state_.optOutStatus.value_or(false); });
}

bool VeltraceInstance::acceptsRecords(const char* function) const {
    if (hasOptedOutTracking())
        return false;
    if (apiToken_.empty()) {
        Logger::error("veltrace instance has no project token: nothing is recorded", function);
        return false;
    }
    return true;
}

void VeltraceInstance::setPeopleDistinctId(std::optional<std::string> distinctId) {
    readWriteLock_.write([&] { state_.peopleDistinctId = std::move(distinctId); });
}

// Identity.

void VeltraceInstance::identify(const std::string& distinctId, bool usePeople, Completion completion) {
    if (hasOptedOutTracking()) {
        callCompletion(std::move(completion));
        return;
    }
    if (distinctId.empty()) {
        Logger::error(debugDescription() + " cannot identify blank distinct id",
                      "identify(distinctId:usePeople:completion:)");
        callCompletion(std::move(completion));
        return;
    }
    enqueue([weak = weak_from_this(), distinctId, usePeople, completion = std::move(completion)]() mutable {
        const auto self = weak.lock();
        if (!self)
            return;
        std::optional<std::string> previous;
        self->readWriteLock_.write([&] {
            auto& state = self->state_;
            if (!state.anonymousId) {
                state.anonymousId = state.distinctId;
                state.hadPersistedDistinctId = true;
            }
            if (!state.userId)
                state.userId = distinctId;
            if (distinctId != state.distinctId) {
                previous = state.distinctId;
                state.alias.reset();
                state.distinctId = distinctId;
                state.userId = distinctId;
            }
            state.peopleDistinctId = usePeople ? std::optional(distinctId) : std::nullopt;
        });
        if (previous)
            self->track("$identify", PropertyMap{{"$anon_distinct_id", *previous}});
        if (usePeople)
            self->persistence_->identifyPeople();
        self->storeIdentity();
        self->callCompletion(std::move(completion));
    });
}

void VeltraceInstance::createAlias(const std::string& alias, const std::string& distinctId, bool usePeople,
                                   bool andIdentify, Completion completion) {
    constexpr const char* function = "createAlias(_:distinctId:usePeople:andIdentify:completion:)";
    if (hasOptedOutTracking()) {
        callCompletion(std::move(completion));
        return;
    }
    if (distinctId.empty()) {
        Logger::error(debugDescription() + " cannot identify blank distinct id", function);
        callCompletion(std::move(completion));
        return;
    }
    if (alias.empty()) {
        Logger::error(debugDescription() + " create alias called with empty alias", function);
        callCompletion(std::move(completion));
        return;
    }
    if (alias == distinctId) {
        Logger::error("alias: " + alias + " matches distinctId: " + distinctId + " - skipping api call.",
                      function);
        callCompletion(std::move(completion));
        return;
    }
    submit([weak = weak_from_this(), alias] {
        if (const auto self = weak.lock()) {
            self->readWriteLock_.write([&] { self->state_.alias = alias; });
            self->storeIdentity();
        }
    });
    track("$create_alias", PropertyMap{{"distinct_id", distinctId}, {"alias", alias}});
    if (andIdentify)
        identify(distinctId, usePeople);
    flush(false, std::move(completion));
}

void VeltraceInstance::reset(Completion completion) {
    flush(false, {});
    submit([weak = weak_from_this(), completion = std::move(completion)]() mutable {
        const auto self = weak.lock();
        if (!self)
            return;
        VeltracePersistence::deleteVTUserDefaultsData(self->name_);
        self->readWriteLock_.write([&] { self->resetToAnonymous(self->state_); });
        self->persistence_->resetEntities();
        self->archive();
        self->callCompletion(std::move(completion));
    });
}

// Opting out.

void VeltraceInstance::optOutTracking(StoredCompletion completion) {
    submit([weak = weak_from_this(), completion = std::move(completion)]() mutable {
        const auto self = weak.lock();
        if (!self)
            return;
        if (self->identity().peopleDistinctID) {
            // Built now, while the profile's id is still known: queued behind this step they would be
            // stored as unidentified updates and sent for whoever is identified next.
            self->people_->addPeopleRecordNow("$delete", {});
            self->people_->addPeopleRecordNow("$set", {{"$transactions", Array{}}});
            self->flush(false, {});
        }
        self->readWriteLock_.write([&] { self->resetToAnonymous(self->state_); });
        VeltracePersistence::saveTimedEvents({}, self->name_);
        self->archive();
        self->readWriteLock_.write([&] { self->state_.optOutStatus = true; });
        const bool stored = VeltracePersistence::saveOptOutStatusFlag(self->name_, true);
        self->callStoredCompletion(std::move(completion), stored);
    });
}

void VeltraceInstance::optInTracking(std::optional<std::string> distinctId,
                                     std::optional<PropertyMap> properties, StoredCompletion completion) {
    submit([weak = weak_from_this(), distinctId = std::move(distinctId), properties = std::move(properties),
            completion = std::move(completion)]() mutable {
        const auto self = weak.lock();
        if (!self)
            return;
        self->readWriteLock_.write([&] { self->state_.optOutStatus = false; });
        const bool stored = VeltracePersistence::saveOptOutStatusFlag(self->name_, false);
        if (distinctId)
            self->identify(*distinctId, true);
        self->track("$opt_in", std::move(properties));
        self->callStoredCompletion(std::move(completion), stored);
    });
}

// Events.

void VeltraceInstance::track(std::optional<std::string> event, std::optional<PropertyMap> properties) {
    if (!acceptsRecords("track(event:properties:)"))
        return;
    PendingTrack pending{std::move(event), std::move(properties), environment_.wallClock->secondsSince1970()};
    if (trackingQueue_->isCurrent()) {
        assemble({std::move(pending)});
        return;
    }
    // Tracks that follow each other with nothing else in between are assembled and stored together, in
    // one transaction: a burst costs one commit rather than one per event.
    std::lock_guard lock(batchMutex_);
    if (openBatch_) {
        openBatch_->push_back(std::move(pending));
        return;
    }
    openBatch_ = std::make_shared<std::deque<PendingTrack>>();
    openBatch_->push_back(std::move(pending));
    trackingQueue_->async([weak = weak_from_this(), batch = openBatch_] {
        const auto self = weak.lock();
        if (!self)
            return;
        std::deque<PendingTrack> tracks;
        {
            std::lock_guard lock(self->batchMutex_);
            if (self->openBatch_ == batch)
                self->openBatch_.reset();
            tracks = std::move(*batch);
        }
        self->assemble(std::move(tracks));
    });
}

void VeltraceInstance::assemble(std::deque<PendingTrack> tracks) {
    auto [timedEvents, superProperties, identity] = readWriteLock_.read([&] {
        return std::tuple(state_.timedEvents, state_.superProperties,
                          VeltraceIdentity{state_.distinctId, state_.peopleDistinctId, state_.anonymousId,
                                           state_.userId, state_.alias, state_.hadPersistedDistinctId});
    });
    {
        std::optional<VTDB::InsertBatch> batch;
        if (tracks.size() > 1)
            batch.emplace(persistence_->vtdb());
        for (auto& pending : tracks)
            timedEvents = trackInstance_->track(pending.event, pending.properties, std::move(timedEvents),
                                                superProperties, identity, pending.time);
    }
    readWriteLock_.write([&] { state_.timedEvents = std::move(timedEvents); });
}

void VeltraceInstance::track(std::optional<std::string> event, std::optional<PropertyMap> properties,
                             std::optional<PropertyMap> groups) {
    if (hasOptedOutTracking())
        return;
    PropertyMap merged = properties.value_or(PropertyMap{});
    if (groups) {
        for (auto& [key, value] : *groups)
            merged[key] = std::move(value);
    }
    track(std::move(event), std::move(merged));
}

void VeltraceInstance::time(const std::string& event) {
    const double start = environment_.wallClock->secondsSince1970();
    submit([weak = weak_from_this(), event, start] {
        const auto self = weak.lock();
        if (!self)
            return;
        auto timedEvents = self->readWriteLock_.read([&] { return self->state_.timedEvents; });
        timedEvents = self->trackInstance_->time(event, std::move(timedEvents), start);
        self->readWriteLock_.write([&] { self->state_.timedEvents = timedEvents; });
        VeltracePersistence::saveTimedEvents(timedEvents, self->name_);
    });
}

double VeltraceInstance::elapsedTime(const std::string& event) const {
    const auto start = readWriteLock_.read([&]() -> std::optional<double> {
        const auto found = state_.timedEvents.find(event);
        if (found == state_.timedEvents.end() || !found->second.get<double>())
            return std::nullopt;
        return *found->second.get<double>();
    });
    return start ? environment_.wallClock->secondsSince1970() - *start : 0;
}

void VeltraceInstance::clearTimedEvent(const std::string& event) {
    submit([weak = weak_from_this(), event] {
        const auto self = weak.lock();
        if (!self)
            return;
        auto timedEvents = self->readWriteLock_.read([&] { return self->state_.timedEvents; });
        timedEvents = self->trackInstance_->clearTimedEvent(event, std::move(timedEvents));
        self->readWriteLock_.write([&] { self->state_.timedEvents = timedEvents; });
        VeltracePersistence::saveTimedEvents(timedEvents, self->name_);
    });
}

void VeltraceInstance::clearTimedEvents() {
    submit([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->readWriteLock_.write([&] { self->state_.timedEvents.clear(); });
        VeltracePersistence::saveTimedEvents({}, self->name_);
    });
}

// Super properties.

void VeltraceInstance::registerSuperProperties(PropertyMap properties) {
    submit([weak = weak_from_this(), properties = std::move(properties)] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (!self->hasOptedOutTracking()) {
            auto updated = self->currentSuperProperties();
            for (const auto& [key, value] : properties)
                updated[key] = value;
            self->readWriteLock_.write([&] { self->state_.superProperties = std::move(updated); });
        }
        VeltracePersistence::saveSuperProperties(self->currentSuperProperties(), self->name_);
    });
}

void VeltraceInstance::registerSuperPropertiesOnce(PropertyMap properties,
                                                   std::optional<VeltraceType> defaultValue) {
    submit([weak = weak_from_this(), properties = std::move(properties),
            defaultValue = std::move(defaultValue)] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (!self->hasOptedOutTracking()) {
            auto updated = self->currentSuperProperties();
            for (const auto& [key, value] : properties) {
                const auto current = updated.find(key);
                if (current == updated.end() || (defaultValue && current->second.valueEquals(*defaultValue)))
                    updated[key] = value;
            }
            self->readWriteLock_.write([&] { self->state_.superProperties = std::move(updated); });
        }
        VeltracePersistence::saveSuperProperties(self->currentSuperProperties(), self->name_);
    });
}

void VeltraceInstance::unregisterSuperProperty(const std::string& propertyName) {
    updateSuperProperties([propertyName](RecordMap& properties) { properties.erase(propertyName); });
}

void VeltraceInstance::clearSuperProperties() {
    updateSuperProperties([](RecordMap& properties) { properties.clear(); });
}

void VeltraceInstance::updateSuperProperties(std::function<void(RecordMap&)> update) {
    submit([weak = weak_from_this(), update = std::move(update)] {
        const auto self = weak.lock();
        if (!self)
            return;
        auto updated = self->currentSuperProperties();
        update(updated);
        self->readWriteLock_.write([&] { self->state_.superProperties = updated; });
        VeltracePersistence::saveSuperProperties(updated, self->name_);
    });
}

RecordMap VeltraceInstance::currentSuperProperties() const {
    return readWriteLock_.read([&] { return state_.superProperties; });
}

// Groups.

std::string VeltraceInstance::groupCacheKey(const std::string& groupKey, const VeltraceType& groupID) {
    return groupKey + "_" + groupID.description();
}

std::shared_ptr<Group> VeltraceInstance::getGroup(const std::string& groupKey, const VeltraceType& groupID) {
    const auto key = groupCacheKey(groupKey, groupID);
    const auto cached = readWriteLock_.read([&]() -> std::shared_ptr<Group> {
        const auto found = state_.groups.find(key);
        return found == state_.groups.end() ? nullptr : found->second;
    });
    if (cached && cached->groupKey() == groupKey && cached->groupID().valueEquals(groupID))
        return cached;
    if (cached)
        Logger::info("groups dictionary key collision: " + key, "getGroup(groupKey:groupID:)");
    auto group = std::make_shared<Group>(apiToken_, groupKey, groupID, weak_from_this());
    return readWriteLock_.write([&] {
        auto& slot = state_.groups[key];
        // Another thread may have cached the same group meanwhile: keep one object per key and id.
        if (!slot || !(slot->groupKey() == groupKey && slot->groupID().valueEquals(groupID)))
            slot = group;
        return slot;
    });
}

void VeltraceInstance::removeCachedGroup(const std::string& groupKey, const VeltraceType& groupID) {
    const auto key = groupCacheKey(groupKey, groupID);
    readWriteLock_.write([&] {
        const auto found = state_.groups.find(key);
        if (found != state_.groups.end() && found->second->groupKey() == groupKey &&
            found->second->groupID().valueEquals(groupID))
            state_.groups.erase(found);
    });
}

void VeltraceInstance::setGroup(const std::string& groupKey, Array groupIDs) {
    if (hasOptedOutTracking())
        return;
    registerSuperProperties({{groupKey, groupIDs}});
    people_->set({{groupKey, std::move(groupIDs)}});
}

void VeltraceInstance::setGroup(const std::string& groupKey, const VeltraceType& groupID) {
    setGroup(groupKey, Array{groupID});
}

void VeltraceInstance::addGroup(const std::string& groupKey, const VeltraceType& groupID) {
    if (hasOptedOutTracking())
        return;
    updateSuperProperties(
        [people = std::weak_ptr<People>(people_), groupKey, groupID](RecordMap& properties) {
            const auto profile = people.lock();
            auto& value = properties[groupKey];
            if (auto* ids = value.array()) {
                if (std::any_of(ids->begin(), ids->end(),
                                [&](const VeltraceType& id) { return id.valueEquals(groupID); }))
                    return;
                ids->push_back(groupID);
                if (profile)
                    profile->union_({{groupKey, Array{groupID}}});
                return;
            }
            value = Array{groupID};
            if (profile)
                profile->set({{groupKey, Array{groupID}}});
        });
}

void VeltraceInstance::removeGroup(const std::string& groupKey, const VeltraceType& groupID) {
    if (hasOptedOutTracking())
        return;
    updateSuperProperties(
        [people = std::weak_ptr<People>(people_), groupKey, groupID](RecordMap& properties) {
            const auto found = properties.find(groupKey);
            if (found != properties.end()) {
                auto* ids = found->second.array();
                if (ids)
                    std::erase_if(*ids, [&](const VeltraceType& id) { return id.valueEquals(groupID); });
                if (!ids || ids->empty())
                    properties.erase(found);
            }
            if (const auto profile = people.lock())
                profile->remove({{groupKey, groupID}});
        });
}

// Delivery.

std::vector<QueuedRecord> VeltraceInstance::loadBatch(FlushType type, std::int64_t batchSize) {
    auto& flying = inFlight_[type];
    // Rows still out with an earlier cycle are left to it; read past them to fill the batch.
    const auto limit = batchSize == std::numeric_limits<std::int64_t>::max()
                           ? batchSize
                           : batchSize + static_cast<std::int64_t>(flying.size());
    auto records = persistence_->loadQueuedRecords(
        persistenceType(type), limit, type == FlushType::events && !trackAutomaticEventsEnabled_);
    if (!flying.empty())
        std::erase_if(records, [&](const QueuedRecord& record) { return flying.contains(record.id); });
    if (static_cast<std::int64_t>(records.size()) > batchSize)
        records.resize(static_cast<size_t>(batchSize));
    for (const auto& record : records)
        flying.insert(record.id);
    return records;
}

void VeltraceInstance::flush(bool performFullFlush, Completion completion) {
    if (hasOptedOutTracking()) {
        callCompletion(std::move(completion));
        return;
    }
    submit([weak = weak_from_this(), performFullFlush, completion = std::move(completion)]() mutable {
        const auto self = weak.lock();
        if (!self)
            return;
        const auto delegate = self->readWriteLock_.read([&] { return self->state_.delegate.lock(); });
        if (delegate && !delegate->willFlush()) {
            self->callCompletion(std::move(completion));
            return;
        }
        const auto batchSize = performFullFlush ? std::numeric_limits<std::int64_t>::max()
                                                : self->flushInstance_->flushBatchSize();
        std::vector<std::pair<FlushType, std::vector<QueuedRecord>>> batches;
        for (auto type : allFlushTypes)
            batches.emplace_back(type, self->loadBatch(type, batchSize));
        self->networkQueue_->async(
            [weak, batches = std::move(batches), completion = std::move(completion)]() mutable {
                const auto self = weak.lock();
                if (!self)
                    return;
                for (auto& [type, records] : batches) {
                    if (self->hasOptedOutTracking()) {
                        std::vector<std::int32_t> ids;
                        for (const auto& record : records)
                            ids.push_back(record.id);
                        self->flushReleased(type, ids);
                        continue;
                    }
                    HeaderFields headers;
                    QueryItems queryItems;
                    const auto proxy =
                        self->readWriteLock_.read([&] { return self->state_.proxyServerDelegate.lock(); });
                    if (const auto resource = proxy ? proxy->proxyResource(self->name_) : std::nullopt) {
                        headers = resource->headers;
                        queryItems = resource->queryItems.value_or(QueryItems{});
                    }
                    self->flushInstance_->flushQueue(records, type, headers, queryItems);
                }
                self->callCompletion(std::move(completion));
            });
    });
}

void VeltraceInstance::flushSuccess(FlushType type, const std::vector<std::int32_t>& ids) {
    submit([weak = weak_from_this(), type, ids] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->persistence_->removeEntitiesInBatch(persistenceType(type), ids);
        self->flushReleased(type, ids);
    });
}

void VeltraceInstance::flushReleased(FlushType type, const std::vector<std::int32_t>& ids) {
    if (ids.empty())
        return;
    const auto forget = [type, ids](VeltraceInstance& self) {
        auto& flying = self.inFlight_[type];
        for (const auto id : ids)
            flying.erase(id);
    };
    if (trackingQueue_->isCurrent()) {
        forget(*this);
        return;
    }
    submit([weak = weak_from_this(), forget] {
        if (const auto self = weak.lock())
            forget(*self);
    });
}

double VeltraceInstance::flushInterval() const {
    return flushInstance_->flushInterval();
}
void VeltraceInstance::setFlushInterval(double seconds) {
    flushInstance_->setFlushInterval(seconds);
}
std::int64_t VeltraceInstance::flushBatchSize() const {
    return flushInstance_->flushBatchSize();
}
void VeltraceInstance::setFlushBatchSize(std::int64_t size) {
    flushInstance_->setFlushBatchSize(size);
}
bool VeltraceInstance::flushOnBackground() const {
    return flushInstance_->flushOnBackground();
}
void VeltraceInstance::setFlushOnBackground(bool value) {
    flushInstance_->setFlushOnBackground(value);
}
bool VeltraceInstance::useIPAddressForGeoLocation() const {
    return flushInstance_->useIPAddressForGeoLocation();
}
void VeltraceInstance::setUseIPAddressForGeoLocation(bool value) {
    flushInstance_->setUseIPAddressForGeoLocation(value);
}
std::string VeltraceInstance::serverURL() const {
    return flushInstance_->serverURL();
}
void VeltraceInstance::setServerURL(std::string serverURL) {
    flushInstance_->setServerURL(std::move(serverURL));
}

void VeltraceInstance::setDelegate(std::weak_ptr<VeltraceDelegate> delegate) {
    readWriteLock_.write([&] { state_.delegate = std::move(delegate); });
}

void VeltraceInstance::setProxyServerDelegate(std::weak_ptr<VeltraceProxyServerDelegate> delegate) {
    readWriteLock_.write([&] { state_.proxyServerDelegate = std::move(delegate); });
}

void VeltraceInstance::applicationDidBecomeActive() {
    flushInstance_->applicationDidBecomeActive();
}

void VeltraceInstance::applicationWillResignActive() {
    flushInstance_->applicationWillResignActive();
}

void VeltraceInstance::setLoggingEnabled(bool enabled) {
    loggingEnabled_.store(enabled);
    if (enabled) {
        setAllLevels(true);
        Logger::info("Logging Enabled", "loggingEnabled");
    } else {
        Logger::info("Logging Disabled", "loggingEnabled");
        setAllLevels(false);
    }
}

} // namespace veltrace
