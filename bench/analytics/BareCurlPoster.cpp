#include "BareCurlPoster.h"

#include <curl/curl.h>

#include <mutex>

namespace veltrace::bench {

namespace {
size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}
} // namespace

struct BareCurlPoster::Handle {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    ~Handle() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
    }
};

BareCurlPoster::BareCurlPoster(std::string url, std::string caFile)
    : url_(std::move(url)), caFile_(std::move(caFile)), handle_(std::make_unique<Handle>()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    handle_->easy = curl_easy_init();
    handle_->headers = curl_slist_append(nullptr, "Content-Type: application/json");
    handle_->headers = curl_slist_append(handle_->headers, "Expect:");
    CURL* h = handle_->easy;
    curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(h, CURLOPT_CAINFO, caFile_.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, handle_->headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
}

BareCurlPoster::~BareCurlPoster() = default;

bool BareCurlPoster::postAll(const std::vector<std::string>& bodies) {
    CURL* h = handle_->easy;
    for (const auto& body : bodies) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
        long status = 0;
        if (curl_easy_perform(h) != CURLE_OK ||
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
            return false;
    }
    return true;
}

} // namespace veltrace::bench
