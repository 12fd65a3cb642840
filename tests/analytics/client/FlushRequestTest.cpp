#include "Collector.h"
#include "LogCapture.h"

#include "client/FlushRequest.h"
#include "client/ManualClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace veltrace;
using namespace veltrace::test;
using namespace std::chrono_literals;

namespace {

// Real-time bound for something that must happen; a regression fails instead of hanging the run.
constexpr auto patience = 30s;
constexpr double start = 1'700'000'000.0;
const std::string batch = R"([{"event":"app launched","properties":{"token":"t"},"id":1}])";

std::string failure(const std::string& path, const std::string& reason) {
    return "API request to " + path + " has failed with reason " + reason;
}

// A loopback HTTPS collector, trusted through VELTRACE_CA_BUNDLE, and requests with injected clocks.
class FlushRequestTest : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("VELTRACE_CA_BUNDLE", collector.caFile().c_str(), 1); }
    void TearDown() override { ::unsetenv("VELTRACE_CA_BUNDLE"); }

    std::unique_ptr<FlushRequest> makeRequest(std::string base = {}) {
        FlushRequestOptions options;
        options.clock = clock;
        options.wallClock = wallClock;
        options.random = random;
        return std::make_unique<FlushRequest>(base.empty() ? collector.url() : base, options);
    }
    static bool send(FlushRequest& request, FlushType type = FlushType::events) {
        return request.sendRequest(batch, type, true, {}, {});
    }
    // sendRequest on another thread, so that a test can act while it blocks.
    static std::future<bool> sendAsync(FlushRequest& request) {
        return std::async(std::launch::async, [&request] { return send(request); });
    }
    double delay(const FlushRequest& request) const {
        return request.networkRequestsAllowedAfterTime() - wallClock->secondsSince1970();
    }

    Collector collector;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<ManualWallClock> wallClock = std::make_shared<ManualWallClock>(start);
    std::shared_ptr<SequenceRandomSource> random = std::make_shared<SequenceRandomSource>();
    LogCapture log;
};

TEST_F(FlushRequestTest, PostsEachKindToItsEndpointUnderTheBasePathOverOneConnection) {
    auto request = makeRequest(collector.url("/p"));
    const std::vector<QueryItem> proxyItems{{"token", "a+b c"}, {"flag", std::nullopt}};
    // A field that would smuggle in another one is left out.
    const std::map<std::string, std::string> proxyHeaders{{"X-Proxy", "yes"},
                                                          {"X-Bad", "1\r\nX-Injected: 1"}};
    EXPECT_TRUE(request->sendRequest(batch, FlushType::events, true, proxyHeaders, proxyItems));
    EXPECT_TRUE(request->sendRequest(batch, FlushType::people, false, {}, {}));
    EXPECT_TRUE(request->sendRequest(batch, FlushType::groups, true, {{"content-type", "text/plain"}}, {}));

    const auto requests = collector.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, "/p/track/");
    EXPECT_EQ(requests[0].query, "ip=1&token=a%2Bb%20c&flag");
    EXPECT_EQ(requests[0].params.find("token")->second, "a+b c");
    EXPECT_EQ(requests[0].headers.value("X-Proxy"), "yes");
    EXPECT_EQ(requests[0].headers.value("X-Injected"), std::nullopt);
    EXPECT_EQ(requests[0].headers.value("X-Bad"), std::nullopt);
    EXPECT_EQ(requests[1].path, "/p/engage/");
    EXPECT_EQ(requests[1].query, "ip=0");
    EXPECT_EQ(requests[2].path, "/p/groups/");
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.body, batch);
    }
    EXPECT_EQ(requests[0].headers.value("Content-Type"), "application/json");
    // The proxy's field replaces the default instead of being sent beside it.
    std::size_t contentTypes = 0;
    for (const auto& [name, value] : requests[2].headers)
        contentTypes += HTTPHeaderFields::sameName(name, "Content-Type") ? 1 : 0;
    EXPECT_EQ(contentTypes, 1u);
    EXPECT_EQ(requests[2].headers.value("Content-Type"), "text/plain");
    EXPECT_EQ(collector.connectionCount(), 1u);
}

TEST_F(FlushRequestTest, OnlyStatus200WithADecimalIntegerBodyIsAccepted) {
    struct Case {
        int status;
        std::string body;
        bool accepted;
        std::string reason; // of the warning, when not accepted
    };
    const std::vector<Case> cases{
        {200, "1", true, ""},
        {200, "-3", true, ""},
        {200, "+7", true, ""},
        {200, "1\n", false, "parseError"},
        {200, " 1", false, "parseError"},
        {200, "1.5", false, "parseError"},
        {200, "99999999999999999999", false, "parseError"},
        {200, "", false, "noData"},
        {201, "1", false, "notOKStatusCode(201)"},
        {204, "", false, "notOKStatusCode(204)"},
        {500, "1", false, "notOKStatusCode(500)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " \"" + c.body + "\"");
        collector.enqueueAnswer(Answer().withStatus(c.status).withBody(c.body));
        auto request = makeRequest();
        EXPECT_EQ(send(*request), c.accepted);
        EXPECT_EQ(request->networkConsecutiveFailures(), c.accepted ? 0 : 1);
        const auto messages = log.take();
        if (!c.accepted) {
            EXPECT_EQ(LogCapture::count(messages, failure("/track/", c.reason)), 1u);
        }
    }

    // 0 is the service accepting the batch while rejecting some of its records: logged, still a success.
    collector.enqueueAnswer(Answer().withBody("0"));
    auto request = makeRequest();
    EXPECT_TRUE(send(*request));
    EXPECT_EQ(LogCapture::count(log.take(), "/track/ api rejected some items"), 1u);
}

TEST_F(FlushRequestTest, ConsecutiveFailuresBackOffExponentiallyWithJitterUpTo600Seconds) {
    collector.setDefaultAnswer(Answer().withStatus(500));
    for (std::uint32_t jitter : {29u, 7u, 11u, 3u})
        random->push(jitter);
    auto request = makeRequest();
    const std::vector<double> expected{0, 120 + 29, 240 + 7, 480 + 11, 600, 600};
    for (std::size_t n = 0; n < expected.size(); ++n) {
        EXPECT_FALSE(send(*request));
        EXPECT_EQ(request->networkConsecutiveFailures(), static_cast<long>(n + 1));
        EXPECT_EQ(delay(*request), expected[n]) << "after failure " << n + 1;
    }
    EXPECT_TRUE(request->requestNotAllowed());
    wallClock->advance(600);
    EXPECT_FALSE(request->requestNotAllowed());

    // A success resets the count, leaving only what the service asks.
    collector.setDefaultAnswer(Answer());
    EXPECT_TRUE(send(*request));
    EXPECT_EQ(request->networkConsecutiveFailures(), 0);
    EXPECT_EQ(delay(*request), 0);
}

TEST_F(FlushRequestTest, RetryAfterHoldsBackTheNextRequestWhenItIsAPlainNonNegativeNumber) {
    struct Case {
        int status;
        std::string retryAfter;
        double expectedDelay;
    };
    const std::vector<Case> cases{
        {503, "1000", 1000}, {200, "30", 30}, {503, "2.5", 2.5}, {503, "Wed, 21 Oct 2015 07:28:00 GMT", 0},
        {503, "inf", 0},     {503, "nan", 0}, {503, "-5", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.retryAfter);
        collector.enqueueAnswer(Answer().withStatus(c.status).withHeader("Retry-After", c.retryAfter));
        auto request = makeRequest();
        send(*request);
        EXPECT_EQ(delay(*request), c.expectedDelay);
    }

    // Under back-off the longer of the two wins.
    random->push(0);
    collector.setDefaultAnswer(Answer().withStatus(500));
    auto request = makeRequest();
    send(*request);
    send(*request);
    collector.enqueueAnswer(Answer().withStatus(503).withHeader("Retry-After", "1000"));
    send(*request);
    EXPECT_EQ(delay(*request), 1000);
}

TEST_F(FlushRequestTest, TransportFailuresFailTheBatch) {
    std::string closedPort;
    {
        Collector gone(Collector::Transport::http);
        closedPort = gone.url();
    }
    auto refused = makeRequest(closedPort);
    EXPECT_FALSE(send(*refused));
    EXPECT_EQ(refused->networkConsecutiveFailures(), 1);

    // Cut off after a body that would parse: an incomplete answer is not the service's result. And an
    // answer too large to be one is not read to its end.
    for (auto answer : {Answer().dropped(), Answer().withBody(std::string(2 << 20, '1'))}) {
        collector.enqueueAnswer(answer);
        auto broken = makeRequest();
        EXPECT_FALSE(send(*broken));
        EXPECT_EQ(broken->networkConsecutiveFailures(), 1);
        EXPECT_TRUE(LogCapture::containsPrefix(log.take(), failure("/track/", "other(")));
    }

    // A certificate nobody vouches for: an unreadable CA file is logged and leaves only the system's.
    Collector stranger;
    for (const std::string ca : {"/nonexistent/ca.pem", stranger.caFile().c_str()}) {
        ::setenv("VELTRACE_CA_BUNDLE", ca.c_str(), 1);
        auto untrusted = makeRequest();
        EXPECT_FALSE(send(*untrusted)) << ca;
        EXPECT_EQ(untrusted->networkConsecutiveFailures(), 1);
    }
    EXPECT_TRUE(LogCapture::containsPrefix(log.take(), "The CA file /nonexistent/ca.pem cannot be read"));
    EXPECT_EQ(collector.requests().size(), 2u); // only the broken answers got through TLS
}

TEST_F(FlushRequestTest, TheProxyEnvironmentVariablesApply) {
    Collector proxy(Collector::Transport::http);
    std::string unreachable;
    {
        Collector gone(Collector::Transport::http);
        unreachable = gone.url("/p");
    }
    ::setenv("http_proxy", proxy.url().c_str(), 1);
    auto request = makeRequest(unreachable);
    const bool sent = send(*request);
    request.reset();
    ::unsetenv("http_proxy");
    EXPECT_TRUE(sent);
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, unreachable + "/track/"); // the absolute form a proxy is asked for
}

TEST_F(FlushRequestTest, AnUnusableServerAddressFailsAtOnceAndLeavesTheCounters) {
    auto request = makeRequest("not a url");
    // The wait is on the manual clock, which never moves here: returning at all means it did not wait.
    auto sent = sendAsync(*request);
    ASSERT_EQ(sent.wait_for(patience), std::future_status::ready);
    EXPECT_FALSE(sent.get());
    EXPECT_EQ(request->networkConsecutiveFailures(), 0);
    EXPECT_EQ(request->networkRequestsAllowedAfterTime(), 0);
}

TEST_F(FlushRequestTest, AnAnswerAfterTheWaitStillCounts) {
    collector.enqueueAnswer(Answer().withStatus(500).hanging());
    random->push(4);
    auto request = makeRequest();
    auto sent = sendAsync(*request);
    ASSERT_TRUE(collector.waitForHanging(1));
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(120s);
    ASSERT_EQ(sent.wait_for(patience), std::future_status::ready);
    EXPECT_FALSE(sent.get());
    EXPECT_EQ(request->networkConsecutiveFailures(), 0); // no answer yet

    collector.releaseHanging();
    collector.setDefaultAnswer(Answer().withStatus(500));
    // Requests run in order, so the late answer has been handled before this one's.
    EXPECT_FALSE(send(*request));
    EXPECT_EQ(request->networkConsecutiveFailures(), 2);
    EXPECT_EQ(delay(*request), 120 + 4);
}

TEST_F(FlushRequestTest, ASilentServerTimesOutTheRequest) {
    collector.enqueueAnswer(Answer().hanging());
    FlushRequestOptions options;
    options.requestTimeout = 200ms;
    FlushRequest request(collector.url(), options);
    EXPECT_FALSE(send(request));
    EXPECT_EQ(request.networkConsecutiveFailures(), 1);
    EXPECT_TRUE(LogCapture::containsPrefix(log.take(), failure("/track/", "other(")));
}

TEST_F(FlushRequestTest, QuittingNeverWaitsForTheNetwork) {
    collector.setDefaultAnswer(Answer().hanging());
    FlushRequestOptions options; // the real clock and its 120 s wait
    auto request = std::make_unique<FlushRequest>(collector.url(), options);
    auto sent = sendAsync(*request);
    ASSERT_TRUE(collector.waitForHanging(1));
    request->shutdown();
    ASSERT_EQ(sent.wait_for(patience), std::future_status::ready);
    EXPECT_FALSE(sent.get());
    EXPECT_FALSE(send(*request));
    EXPECT_EQ(collector.requests().size(), 1u);

    // Destroyed with a request still hanging after its wait ran out.
    auto abandoned = makeRequest();
    auto late = sendAsync(*abandoned);
    ASSERT_TRUE(collector.waitForHanging(2));
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(120s);
    ASSERT_FALSE(late.get());
    auto destroyed = std::async(std::launch::async, [&] { abandoned.reset(); });
    EXPECT_EQ(destroyed.wait_for(patience), std::future_status::ready);
}

} // namespace
