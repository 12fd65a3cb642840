// A full flush of 10 000 queued events to a loopback HTTPS collector, against the bare work it has to do:
// libcurl posting the same 200 batch bodies over one reused connection, and sqlite3 deleting the same 200
// lists of row ids.
#include "BareCurlPoster.h"
#include "Collector.h"

#include "client/FlushRequest.h"
#include "client/JSONHandler.h"
#include "client/Veltrace.h"
#include "client/VeltracePersistence.h"

#include "ScratchHome.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <unistd.h>
#include <vector>

using namespace veltrace;
namespace fs = std::filesystem;

namespace {

constexpr const char* token = "0123456789abcdef0123456789abcdef";
constexpr int events = 10'000;

test::Collector& collector() {
    static test::Collector server;
    return server;
}

std::shared_ptr<VeltraceInstance> makeInstance() {
    FlushRequestOptions network;
    network.caBundlePath = collector().caFile();
    VeltraceInstance::Options options;
    options.token = token;
    options.flushInterval = 0;
    options.serverURL = collector().url();
    options.sender = std::make_shared<FlushRequest>(collector().url(), network);
    return VeltraceInstance::create(options);
}

void queueEvents(VeltraceInstance& instance) {
    for (int i = 0; i < events; ++i)
        instance.track("highlightButton clicked");
    instance.trackingQueue().sync([] {});
}

void BM_FullFlush10000Events(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        bench::ScratchHome home;
        auto instance = makeInstance();
        queueEvents(*instance);
        collector().clearRequests();
        state.ResumeTiming();
        std::promise<void> done;
        instance->flush(true, [&] { done.set_value(); });
        done.get_future().wait();
        instance->trackingQueue().sync([] {}); // the deletions
        state.PauseTiming();
        const auto left = instance->trackingQueue().sync([&] {
            return instance->persistence().vtdb().readRows(PersistenceType::events, 1, false).size();
        });
        if (left != 0 || collector().requests().size() != events / 50)
            state.SkipWithError("not everything was delivered");
        instance.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * events);
}

// The same bodies and id lists, made from the same queued events, then posted and deleted bare.
void BM_BareCurlPostsAndSqliteDeletes(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        bench::ScratchHome home;
        auto instance = makeInstance();
        queueEvents(*instance);
        const auto dbPath = *instance->persistence().vtdb().pathToDb();
        const auto table = instance->persistence().vtdb().tableName(PersistenceType::events);
        std::vector<std::string> bodies;
        std::vector<std::string> deletes;
        instance->trackingQueue().sync([&] {
            auto rows =
                instance->persistence().vtdb().readRows(PersistenceType::events, VTDB::noLimit, false);
            for (size_t start = 0; start < rows.size(); start += 50) {
                Array batch(rows.begin() + static_cast<std::ptrdiff_t>(start),
                            rows.begin() + static_cast<std::ptrdiff_t>(std::min(rows.size(), start + 50)));
                std::vector<std::int32_t> ids;
                for (const auto& record : batch)
                    ids.push_back(
                        static_cast<std::int32_t>(*record.dictionary()->at("id").get<std::int64_t>()));
                bodies.push_back(*JSONHandler::encodeAPIData(VeltraceType(std::move(batch))));
                deletes.push_back(VTDB::deleteStatement(table, ids, false));
            }
        });
        instance.reset();
        collector().clearRequests();
        bench::BareCurlPoster poster(collector().url("/track/?ip=1"), collector().caFile());
        sqlite3* db = nullptr;
        sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
        state.ResumeTiming();
        if (!poster.postAll(bodies))
            state.SkipWithError("a batch was not accepted");
        for (const auto& sql : deletes)
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        state.PauseTiming();
        sqlite3_close_v2(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * events);
}

} // namespace

BENCHMARK(BM_FullFlush10000Events)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_BareCurlPostsAndSqliteDeletes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
