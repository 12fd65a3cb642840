// Speed of the event queue store against plain SQLite doing the same work.
#include "client/VTDB.h"

#include "PlainStore.h"
#include "ScratchHome.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace veltrace;
namespace fs = std::filesystem;

namespace {

// About the size of an assembled event with its automatic properties.
std::string typicalRecord() {
    std::string record = R"({"event":"highlightButton clicked","properties":{)";
    for (int i = 0; i < 20; ++i)
        record += R"("$property_)" + std::to_string(i) + R"(":"value number )" + std::to_string(i) + R"(",)";
    record += R"("time":1700000000123,"distinct_id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301"}})";
    return record;
}

void BM_VTDBInsertRow(benchmark::State& state) {
    bench::ScratchHome caches;
    VTDB store("benchtoken");
    const auto record = typicalRecord();
    for (auto _ : state)
        store.insertRow(PersistenceType::events, record, false);
    state.SetItemsProcessed(state.iterations());
}

// The same INSERT done by hand: prepare, bind, step and finalize per row, on a database with the same
// pragmas, schema and index.
void BM_PlainSqliteInsert(benchmark::State& state) {
    bench::ScratchHome caches;
    bench::PlainStore plain(caches.path() / "plain.sqlite");
    const auto record = typicalRecord();
    for (auto _ : state) {
        if (!plain.insert(record))
            state.SkipWithError("insert failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// Reading one flush batch from a long queue.
void BM_VTDBReadRows50Of100000(benchmark::State& state) {
    bench::ScratchHome caches;
    VTDB store("benchtoken");
    {
        // Filled in one transaction through a side connection: 100 000 single inserts would take minutes.
        sqlite3* db = nullptr;
        sqlite3_open_v2(store.pathToDb()->c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, VTDB::insertStatement(store.tableName(PersistenceType::events)).c_str(), -1,
                           &insert, nullptr);
        const auto record = typicalRecord();
        for (int i = 0; i < 100000; ++i) {
            sqlite3_bind_blob(insert, 1, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
            sqlite3_bind_int(insert, 2, 0);
            sqlite3_bind_double(insert, 3, 1.7e9 + (i * 7919 % 100000)); // not in id order
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }
    size_t rows = 0;
    for (auto _ : state) {
        auto batch = store.readRows(PersistenceType::events, 50, false);
        rows = batch.size();
        benchmark::DoNotOptimize(batch);
    }
    if (rows != 50)
        state.SkipWithError("expected 50 rows");
    state.SetItemsProcessed(state.iterations() * 50);
}

} // namespace

BENCHMARK(BM_VTDBInsertRow)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PlainSqliteInsert)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_VTDBReadRows50Of100000)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
