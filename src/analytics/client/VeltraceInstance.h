// One analytics project's client: its identity, super properties and timed events, its people and
// group profiles, its record store and its flush scheduler.
//
// Thread safety: every operation may be called from any thread. Operations that change state are
// queued on the instance's serial tracking queue ("com.veltrace.<token>.tracking") and return at once;
// they run in call order, so a track issued after identify is attributed to the new id. The few that
// answer a question (hasOptedOutTracking, currentSuperProperties, elapsedTime, the accessors) read under
// the instance's reader-writer lock ("com.veltrace.globallock"). Completions run on the MainExecutor.
// Queued work holds the instance weakly: once the last owner lets go, nothing more happens, and the
// instance is destroyed on that owner's thread, after the step running then (so never on a thread of its
// own, unless the owner lets go inside a delegate's callback).
#pragma once

#include "client/BatchSender.h"
#include "client/ClientEnvironment.h"
#include "client/FlushDelegate.h"
#include "client/QueuedRecord.h"
#include "client/ReadWriteLock.h"
#include "client/SerialQueue.h"
#include "client/VeltraceIdentity.h"
#include "client/VeltraceType.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace veltrace {

class Flush;
class Group;
class People;
class SessionMetadata;
class Track;
class VeltracePersistence;

class VeltraceInstance : public FlushDelegate, public std::enable_shared_from_this<VeltraceInstance> {
  public:
    using Completion = std::function<void()>;
    // Told whether the opt-out choice reached the store; when not, it holds only until the process ends.
    using StoredCompletion = std::function<void(bool stored)>;

    // What an instance is made with. Veltrace::initialize fills it from its arguments.
    struct Options {
        std::string token;
        // The instance's name (registry key and storage key); the token when empty.
        std::string name;
        double flushInterval = 60;
        bool optOutTrackingByDefault = false;
        bool useUniqueDistinctId = false;
        std::optional<PropertyMap> superProperties;
        std::optional<std::string> serverURL;
        bool trackAutomaticEvents = false;
        ClientEnvironment environment;
        // Delivers batches; a FlushRequest (libcurl) for serverURL when empty. Shut down when the
        // instance's last owner lets go.
        std::shared_ptr<BatchSender> sender;
    };

    // The compiled default service address, unless VELTRACE_SERVER_URL names another.
    static std::string defaultServerURL();

    static std::shared_ptr<VeltraceInstance> create(Options options);
    ~VeltraceInstance() override;
    VeltraceInstance(const VeltraceInstance&) = delete;
    VeltraceInstance& operator=(const VeltraceInstance&) = delete;

    // Identity.
    void identify(const std::string& distinctId, bool usePeople = true, Completion completion = {});
    void createAlias(const std::string& alias, const std::string& distinctId, bool usePeople = true,
                     bool andIdentify = true, Completion completion = {});
    void reset(Completion completion = {});

    // Opting out: while opted out nothing is tracked or sent, and the identity is anonymous.
    void optOutTracking(StoredCompletion completion = {});
    void optInTracking(std::optional<std::string> distinctId = std::nullopt,
                       std::optional<PropertyMap> properties = std::nullopt,
                       StoredCompletion completion = {});
    bool hasOptedOutTracking() const;

    // Events.
    void track(std::optional<std::string> event, std::optional<PropertyMap> properties = std::nullopt);
    void track(std::optional<std::string> event, std::optional<PropertyMap> properties,
               std::optional<PropertyMap> groups);
    void time(const std::string& event);
    // Seconds since time(event:) for the event; 0 when it is not being timed.
    double elapsedTime(const std::string& event) const;
    void clearTimedEvent(const std::string& event);
    void clearTimedEvents();

    // Super properties: added to every event.
    void registerSuperProperties(PropertyMap properties);
    // Sets each property that is absent, or that equals defaultValue when one is given.
    void registerSuperPropertiesOnce(PropertyMap properties,
                                     std::optional<VeltraceType> defaultValue = std::nullopt);
    void unregisterSuperProperty(const std::string& propertyName);
    void clearSuperProperties();
    void updateSuperProperties(std::function<void(RecordMap&)> update);
    RecordMap currentSuperProperties() const;

    // Profiles.
    People& people() { return *people_; }
    std::shared_ptr<Group> getGroup(const std::string& groupKey, const VeltraceType& groupID);
    void setGroup(const std::string& groupKey, Array groupIDs);
    void setGroup(const std::string& groupKey, const VeltraceType& groupID);
    void addGroup(const std::string& groupKey, const VeltraceType& groupID);
    void removeGroup(const std::string& groupKey, const VeltraceType& groupID);

    // Delivery.
    void flush(bool performFullFlush = false, Completion completion = {}) override;
    double flushInterval() const;
    void setFlushInterval(double seconds);
    std::int64_t flushBatchSize() const;
    void setFlushBatchSize(std::int64_t size);
    bool flushOnBackground() const;
    void setFlushOnBackground(bool value);
    bool useIPAddressForGeoLocation() const;
    void setUseIPAddressForGeoLocation(bool value);
    std::string serverURL() const;
    void setServerURL(std::string serverURL);
    void setDelegate(std::weak_ptr<VeltraceDelegate> delegate);
    void setProxyServerDelegate(std::weak_ptr<VeltraceProxyServerDelegate> delegate);

    // The application became active / is about to stop being active.
    void applicationDidBecomeActive();
    void applicationWillResignActive();

    // Switches the client's log output on or off (every level).
    bool loggingEnabled() const { return loggingEnabled_.load(); }
    void setLoggingEnabled(bool enabled);

    bool showNetworkActivityIndicator() const { return showNetworkActivityIndicator_.load(); }
    void setShowNetworkActivityIndicator(bool value) { showNetworkActivityIndicator_.store(value); }

    const std::string& name() const { return name_; }
    const std::string& apiToken() const { return apiToken_; }
    bool trackAutomaticEventsEnabled() const { return trackAutomaticEventsEnabled_; }
    bool useUniqueDistinctId() const { return useUniqueDistinctId_; }
    // The identity as it stands (the people distinct id included).
    VeltraceIdentity identity() const;
    std::string distinctId() const;
    // "Veltrace(\n    Token: …,\n    Distinct Id: …\n)".
    std::string debugDescription() const;

    // For the profile objects and tests.
    SerialQueue& trackingQueue() { return *trackingQueue_; }
    SerialQueue& networkQueue() { return *networkQueue_; }
    VeltracePersistence& persistence() { return *persistence_; }
    SessionMetadata& sessionMetadata() { return *sessionMetadata_; }
    ReadWriteLock& readWriteLock() { return readWriteLock_; }
    const ClientEnvironment& environment() const { return environment_; }
    Flush& flushInstance() { return *flushInstance_; }
    // Queues a step on the tracking queue, after every track called before it.
    void submit(SerialQueue::Task task);
    // False while opted out, and (with an error message) for an instance without a token.
    bool acceptsRecords(const char* function) const;
    void setPeopleDistinctId(std::optional<std::string> distinctId);
    // Forgets the cached group object for the key and id (after its profile was deleted).
    void removeCachedGroup(const std::string& groupKey, const VeltraceType& groupID);

    // FlushDelegate.
    void flushSuccess(FlushType type, const std::vector<std::int32_t>& ids) override;
    void flushReleased(FlushType type, const std::vector<std::int32_t>& ids) override;

  private:
    explicit VeltraceInstance(Options& options);
    void start(Options& options);
    // Run by the last owner's release, on its thread.
    void close();
    void loadStoredState();
    void archive();
    std::string newDeviceIdentifier() const;
    void storeIdentity();
    void callCompletion(Completion completion) const;
    void callStoredCompletion(StoredCompletion completion, bool stored) const;
    void enqueue(SerialQueue::Task task);
    struct PendingTrack {
        std::optional<std::string> event;
        std::optional<PropertyMap> properties;
        double time = 0;
    };
    // Assembles and stores the events, in order, on the tracking queue.
    void assemble(std::deque<PendingTrack> tracks);
    std::vector<QueuedRecord> loadBatch(FlushType type, std::int64_t batchSize);
    static std::string groupCacheKey(const std::string& groupKey, const VeltraceType& groupID);

    // Guarded by readWriteLock_.
    struct State {
        std::string distinctId;
        std::optional<std::string> anonymousId;
        std::optional<std::string> userId;
        std::optional<bool> hadPersistedDistinctId;
        std::optional<std::string> alias;
        std::optional<std::string> peopleDistinctId;
        RecordMap superProperties;
        RecordMap timedEvents;
        std::optional<bool> optOutStatus;
        std::map<std::string, std::shared_ptr<Group>> groups;
        std::weak_ptr<VeltraceDelegate> delegate;
        std::weak_ptr<VeltraceProxyServerDelegate> proxyServerDelegate;
    };
    // A new anonymous identity, with super properties and timed events emptied.
    void resetToAnonymous(State& state) const;

    std::string apiToken_;
    std::string name_;
    bool trackAutomaticEventsEnabled_;
    bool useUniqueDistinctId_ = false;
    ClientEnvironment environment_;
    std::atomic<bool> loggingEnabled_{false};
    std::atomic<bool> showNetworkActivityIndicator_{true};

    mutable ReadWriteLock readWriteLock_{"com.veltrace.globallock"};
    State state_;

    std::unique_ptr<VeltracePersistence> persistence_;
    std::unique_ptr<SessionMetadata> sessionMetadata_;
    std::unique_ptr<Track> trackInstance_;
    std::shared_ptr<People> people_;
    std::shared_ptr<Flush> flushInstance_;
    std::mutex batchMutex_;
    // The tracks waiting for the queued step that stores them; guarded by batchMutex_.
    std::shared_ptr<std::deque<PendingTrack>> openBatch_;
    // Tracking queue only: rows a flush cycle has read and not yet seen answered.
    std::map<FlushType, std::unordered_set<std::int32_t>> inFlight_;
    // Declared last so that they are destroyed first, while everything their work touches still exists.
    std::unique_ptr<SerialQueue> networkQueue_;
    std::unique_ptr<SerialQueue> trackingQueue_;
};

} // namespace veltrace
