// Benchmark baseline: batches posted with nothing but libcurl, for comparison with the client's delivery.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace veltrace::bench {

// One easy handle, set up once and reused for every body, so all posts share one connection.
// Not thread-safe.
class BareCurlPoster {
  public:
    // url: the full endpoint with its query; caFile: the PEM file that makes the server trusted.
    BareCurlPoster(std::string url, std::string caFile);
    ~BareCurlPoster();
    BareCurlPoster(const BareCurlPoster&) = delete;
    BareCurlPoster& operator=(const BareCurlPoster&) = delete;

    // Posts each body as application/json; false as soon as one is not answered 200.
    bool postAll(const std::vector<std::string>& bodies);

  private:
    struct Handle;
    std::string url_;
    std::string caFile_;
    std::unique_ptr<Handle> handle_;
};

} // namespace veltrace::bench
