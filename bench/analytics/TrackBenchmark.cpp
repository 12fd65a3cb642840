// What tracking costs: the caller's share of track(), the sustained rate from track() to a stored row
// against a plain sqlite3 loop storing the same records, and the memory a long queue takes.
#include "client/Veltrace.h"
#include "client/VeltracePersistence.h"

#include "PlainStore.h"
#include "ScratchHome.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace veltrace;
namespace fs = std::filesystem;

namespace {

constexpr const char* token = "0123456789abcdef0123456789abcdef";

std::shared_ptr<VeltraceInstance> makeInstance() {
    VeltraceInstance::Options options;
    options.token = token;
    options.flushInterval = 0;
    return VeltraceInstance::create(options);
}

void drain(VeltraceInstance& instance) {
    instance.trackingQueue().sync([] {});
}

// The caller's side of track(): the opt-out check, the time stamp and the hand-over to the queue.
void BM_TrackCall(benchmark::State& state) {
    bench::ScratchHome home;
    auto instance = makeInstance();
    for (auto _ : state)
        instance->track("highlightButton clicked");
    // Outside the timed loop: the queue's backlog is not the caller's cost.
    drain(*instance);
}

// One event from the call (what the toolbar button's handler does after showing or hiding the overlay)
// until its record is stored, with the queue idle before it.
void BM_OneEventCallToStoredRow(benchmark::State& state) {
    bench::ScratchHome home;
    auto instance = makeInstance();
    drain(*instance);
    for (auto _ : state) {
        instance->track("highlightButton clicked");
        drain(*instance);
    }
}

// From the first track() until the last of the records is stored.
void BM_TrackToStoredRow(benchmark::State& state) {
    const auto events = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        bench::ScratchHome home;
        auto instance = makeInstance();
        drain(*instance);
        state.ResumeTiming();
        for (std::int64_t i = 0; i < events; ++i)
            instance->track("highlightButton clicked");
        drain(*instance);
        state.PauseTiming();
        instance.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * events);
}

// One record exactly as the client stores it.
std::string storedRecord() {
    bench::ScratchHome home;
    auto instance = makeInstance();
    instance->track("highlightButton clicked");
    drain(*instance);
    return instance->trackingQueue().sync([&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(instance->persistence().vtdb().pathToDb()->c_str(), &db, SQLITE_OPEN_READONLY,
                        nullptr);
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT data FROM veltrace_0123456789abcdef0123456789abcdef_events", -1,
                           &select, nullptr);
        std::string data;
        if (sqlite3_step(select) == SQLITE_ROW)
            data.assign(static_cast<const char*>(sqlite3_column_blob(select, 0)),
                        static_cast<size_t>(sqlite3_column_bytes(select, 0)));
        sqlite3_finalize(select);
        sqlite3_close_v2(db);
        return data;
    });
}

// The same records stored by a plain loop: same pragmas, schema and index, one statement per row.
void BM_PlainSqliteStoreSameRecords(benchmark::State& state) {
    const auto events = state.range(0);
    const auto record = storedRecord();
    if (record.empty()) {
        state.SkipWithError("no record");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        bench::ScratchHome home;
        auto plain = std::make_unique<bench::PlainStore>(home.path() / "plain.sqlite");
        state.ResumeTiming();
        for (std::int64_t i = 0; i < events; ++i) {
            if (!plain->insert(record))
                state.SkipWithError("insert failed");
        }
        state.PauseTiming();
        plain.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * events);
}

long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Peak memory of the process after 100 000 events were queued and stored. Run it alone
// (--benchmark_filter=BM_PeakMemory), since the peak is the process's.
void BM_PeakMemoryAfter100000Events(benchmark::State& state) {
    for (auto _ : state) {
        bench::ScratchHome home;
        auto instance = makeInstance();
        for (int i = 0; i < 100'000; ++i)
            instance->track("highlightButton clicked");
        drain(*instance);
    }
    state.counters["peak_rss_MiB"] = static_cast<double>(peakResidentKiB()) / 1024.0;
}

} // namespace

BENCHMARK(BM_TrackCall)->Iterations(200'000)->Repetitions(5);
BENCHMARK(BM_OneEventCallToStoredRow)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(2'000)
    ->Repetitions(3);
BENCHMARK(BM_TrackToStoredRow)->Arg(10'000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PlainSqliteStoreSameRecords)
    ->Arg(10'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_PeakMemoryAfter100000Events)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
