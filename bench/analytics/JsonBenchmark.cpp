// JSON encoding of analytics records: the work done for every tracked event and every flushed batch.
#include "client/JSONHandler.h"

#include <benchmark/benchmark.h>

using namespace veltrace;

namespace {

// An event record as assembly builds it: about twenty automatic, identity and session properties,
// two caller properties and the session metadata.
RecordMap typicalEventRecord(int serial) {
    PropertyMap properties{
        {"$screen_height", 1080},
        {"$screen_width", 1920},
        {"$os", "Linux"},
        {"$os_version", "Debian GNU/Linux 12 (bookworm)"},
        {"$app_build_number", "1.0.0"},
        {"$app_version_string", "1.0.0"},
        {"vt_lib", "cpp"},
        {"$lib_version", "1.0.0"},
        {"$manufacturer", "QEMU"},
        {"$model", "x86_64"},
        {"token", "0123456789abcdef0123456789abcdef"},
        {"time", 1700000000123.0 + serial},
        {"$duration", 2.5},
        {"distinct_id", "6f1e3a2b9c4d5e6f-7a8b9c0d1e2f3a4b"},
        {"$device_id", "6f1e3a2b9c4d5e6f-7a8b9c0d1e2f3a4b"},
        {"$user_id", "user-42"},
        {"$had_persisted_distinct_id", true},
        {"plan", "pro"},
        {"opened", Date{1700000000.5}},
        {"source", Url{"https://quorvel.example/download?ref=feed"}},
    };
    PropertyMap metadata{
        {"$vt_event_id", "0a1b2c3d4e5f6071"},
        {"$vt_session_id", "8192a3b4c5d6e7f8"},
        {"$vt_session_seq_id", std::uint64_t(serial)},
        {"$vt_session_start_sec", std::uint64_t(1700000000)},
    };
    return RecordMap{{"event", "highlightButton clicked"},
                     {"properties", std::move(properties)},
                     {"$vt_metadata", std::move(metadata)}};
}

void BM_SerializeEventRecord(benchmark::State& state) {
    const VeltraceType record = typicalEventRecord(1);
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto json = JSONHandler::serializeJSONObject(record);
        bytes = json->size();
        benchmark::DoNotOptimize(json);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SerializeEventRecord);

void BM_MakeObjectSerializable(benchmark::State& state) {
    const VeltraceType record = typicalEventRecord(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(JSONHandler::makeObjectSerializable(record));
}
BENCHMARK(BM_MakeObjectSerializable);

// A full flush batch: 50 records read back from the store and encoded as one request body.
void BM_EncodeBatchOf50(benchmark::State& state) {
    Array batch;
    for (int i = 0; i < 50; ++i)
        batch.push_back(
            JSONHandler::deserializeData(*JSONHandler::serializeJSONObject(typicalEventRecord(i))).value());
    const VeltraceType body = std::move(batch);
    for (auto _ : state)
        benchmark::DoNotOptimize(JSONHandler::encodeAPIData(body));
}
BENCHMARK(BM_EncodeBatchOf50);

void BM_DeserializeEventRecord(benchmark::State& state) {
    const auto bytes = *JSONHandler::serializeJSONObject(typicalEventRecord(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(JSONHandler::deserializeData(bytes));
}
BENCHMARK(BM_DeserializeEventRecord);

} // namespace

BENCHMARK_MAIN();
