// Delivery of flush-sized batches to a loopback HTTPS collector: FlushRequest against a bare libcurl loop
// posting the same bodies over one reused connection.
#include "BareCurlPoster.h"
#include "Collector.h"

#include "client/FlushRequest.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace veltrace;

namespace {

constexpr int batches = 200;

// 200 JSON arrays of 50 records of about the size of an assembled event.
const std::vector<std::string>& batchBodies() {
    static const std::vector<std::string> bodies = [] {
        std::vector<std::string> all;
        for (int b = 0; b < batches; ++b) {
            std::string body = "[";
            for (int r = 0; r < 50; ++r) {
                body += r ? "," : "";
                body += R"({"event":"highlightButton clicked","properties":{)";
                for (int p = 0; p < 20; ++p)
                    body += R"("$property_)" + std::to_string(p) + R"(":"value number )" + std::to_string(p) +
                            R"(",)";
                body +=
                    R"("time":1700000000123,"distinct_id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301"},"id":)" +
                    std::to_string(b * 50 + r + 1) + "}";
            }
            all.push_back(body + "]");
        }
        return all;
    }();
    return bodies;
}

// Times one delivery of all bodies per iteration; the collector forgets them in between.
template <class PostAll>
void deliverBatches(benchmark::State& state, test::Collector& collector, PostAll postAll) {
    for (auto _ : state) {
        if (!postAll(batchBodies()))
            state.SkipWithError("a batch was not accepted");
        state.PauseTiming();
        state.counters["connections"] = static_cast<double>(collector.connectionCount());
        collector.clearRequests();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * batches);
}

void BM_BareCurlPost200Batches(benchmark::State& state) {
    test::Collector collector;
    bench::BareCurlPoster poster(collector.url("/track/?ip=1"), collector.caFile());
    deliverBatches(state, collector,
                   [&](const std::vector<std::string>& bodies) { return poster.postAll(bodies); });
}

void BM_FlushRequestSend200Batches(benchmark::State& state) {
    test::Collector collector;
    FlushRequestOptions options;
    options.caBundlePath = collector.caFile();
    FlushRequest request(collector.url(), options);
    deliverBatches(state, collector, [&](const std::vector<std::string>& bodies) {
        return std::all_of(bodies.begin(), bodies.end(), [&](const std::string& body) {
            return request.sendRequest(body, FlushType::events, true, {}, {});
        });
    });
}

} // namespace

BENCHMARK(BM_BareCurlPost200Batches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlushRequestSend200Batches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
