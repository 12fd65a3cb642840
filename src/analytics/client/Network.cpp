#include "client/Network.h"

#include "client/Logger.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace veltrace {

namespace {

constexpr std::string_view buildURLRequestFunction = "buildURLRequest(_:resource:)";

struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK || !text)
        return std::nullopt;
    return std::string(CurlText(text).get());
}

// Everything but the unreserved characters, "+" included, as %XX.
std::optional<std::string> percentEncoded(const std::string& text) {
    CurlText encoded(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
    if (!encoded)
        return std::nullopt;
    return std::string(encoded.get());
}

std::optional<std::string> encodedQuery(const std::vector<QueryItem>& items) {
    std::string query;
    for (const auto& item : items) {
        const auto name = percentEncoded(item.name);
        if (!name)
            return std::nullopt;
        if (!query.empty())
            query += '&';
        query += *name;
        if (item.value) {
            const auto value = percentEncoded(*item.value);
            if (!value)
                return std::nullopt;
            query += '=' + *value;
        }
    }
    return query;
}

std::optional<std::string> caBundleFromEnvironment() {
    const char* path = std::getenv("VELTRACE_CA_BUNDLE");
    if (!path || !*path)
        return std::nullopt;
    return std::string(path);
}

} // namespace

Network::Network(std::string serverURL, NetworkOptions options)
    : serverURL_(std::move(serverURL)), options_(std::move(options)),
      session_(options_.caBundlePath ? options_.caBundlePath : caBundleFromEnvironment()) {}

Network::~Network() = default;

std::string Network::serverURL() const {
    std::lock_guard lock(mutex_);
    return serverURL_;
}

void Network::setServerURL(std::string serverURL) {
    std::lock_guard lock(mutex_);
    serverURL_ = std::move(serverURL);
}

std::optional<std::string> Network::buildURL(std::string_view base, std::string_view path,
                                             const std::optional<std::vector<QueryItem>>& queryItems) {
    // curl reads C strings: an embedded NUL would silently cut the address short.
    if (base.find('\0') != std::string_view::npos || path.find('\0') != std::string_view::npos)
        return std::nullopt;
    URLSession::initializeLibrary();
    std::unique_ptr<CURLU, URLDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, std::string(base).c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    const auto scheme = part(url.get(), CURLUPART_SCHEME);
    const auto host = part(url.get(), CURLUPART_HOST);
    if (!scheme || (*scheme != "https" && *scheme != "http") || !host || host->empty())
        return std::nullopt;

    std::string joined = part(url.get(), CURLUPART_PATH).value_or("");
    if (!joined.empty() && joined.back() == '/' && !path.empty() && path.front() == '/')
        joined.pop_back();
    joined += path;
    if (curl_url_set(url.get(), CURLUPART_PATH, joined.c_str(), 0) != CURLUE_OK)
        return std::nullopt;

    // The query is appended by hand: curl's URL API would rewrite "%2B" as "%2b".
    if (curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK)
        return std::nullopt;
    auto text = part(url.get(), CURLUPART_URL);
    if (text && queryItems && !queryItems->empty()) {
        const auto query = encodedQuery(*queryItems);
        if (!query)
            return std::nullopt;
        *text += '?' + *query;
    }
    return text;
}

std::optional<URLRequest> Network::makeURLRequest(const std::string& base, const std::string& path,
                                                  RequestMethod method,
                                                  const std::optional<std::string>& body,
                                                  const std::optional<std::vector<QueryItem>>& queryItems,
                                                  const HTTPHeaderFields& headers) const {
    auto url = buildURL(base, path, queryItems);
    if (!url) {
        Logger::warning(
            [&] { return "The server URL \"" + base + "\" is not a usable http or https address."; },
            buildURLRequestFunction);
        return std::nullopt;
    }
    Logger::debug("Fetching URL", buildURLRequestFunction);
    Logger::debug([&] { return *url; }, buildURLRequestFunction);
    return URLRequest{std::move(*url), method, body, headers, options_.requestTimeout};
}

void Network::shutdown() {
    session_.shutdown();
}

bool Network::isShutDown() const {
    return session_.isShutDown();
}

} // namespace veltrace
