#include "client/URLSession.h"

#include "client/Logger.h"
#include "client/SerialQueue.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string_view>
#include <vector>

namespace veltrace {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

constexpr std::string_view constructorFunction = "URLSession(extraCAFile:label:)";
constexpr std::string_view dataTaskFunction = "dataTask(_:completion:)";

// What one transfer collects while curl runs it.
struct Transfer {
    std::string body;
    bool tooLarge = false;
    HTTPHeaderFields headers;
    const std::atomic<bool>* cancelled = nullptr;
};

size_t writeBody(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    const size_t bytes = size * count;
    if (transfer->body.size() + bytes > URLSession::maxAnswerBytes) {
        transfer->tooLarge = true;
        return 0; // curl stops with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, bytes);
    return bytes;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

size_t readHeaderLine(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->headers = {}; // a new answer begins (after an interim 1xx one)
    } else if (const auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
        transfer->headers.add(std::string(trimmed(line.substr(0, colon))),
                              std::string(trimmed(line.substr(colon + 1))));
    }
    return size * count;
}

int onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const Transfer*>(userData)->cancelled->load() ? 1 : 0;
}

// A field that would end the header block or start another one never reaches the wire.
bool isSafeField(const std::string& name, const std::string& value) {
    const auto tokenChar = [](unsigned char c) {
        return c > 0x20 && c < 0x7f &&
               std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
    };
    const auto valueChar = [](unsigned char c) { return c != '\r' && c != '\n' && c != '\0'; };
    return !name.empty() && std::all_of(name.begin(), name.end(), tokenChar) &&
           std::all_of(value.begin(), value.end(), valueChar);
}

} // namespace

struct URLSession::State {
    std::unique_ptr<CURLM, MultiDeleter> multi; // holds the connection cache; outlives the easy handle
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::vector<std::unique_ptr<X509, X509Deleter>> extraCertificates;
    std::optional<std::string> extraCAFile; // handed to curl as is when its TLS library takes no certificates
    bool addsCertificates = true;
    std::atomic<bool> cancelled{false};

    Result perform(const URLRequest& request);
    void loadCertificates(const std::string& path);
};

namespace {

CURLcode addExtraCertificates(CURL*, void* sslContext, void* userData) {
    const auto* state = static_cast<const URLSession::State*>(userData);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    for (const auto& certificate : state->extraCertificates)
        X509_STORE_add_cert(store, certificate.get()); // one already present is fine
    return CURLE_OK;
}

} // namespace

void URLSession::State::loadCertificates(const std::string& path) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_file(path.c_str(), "r"));
    if (bio) {
        while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
            extraCertificates.emplace_back(certificate);
    }
    ERR_clear_error(); // the end of the file reads as an error
    if (extraCertificates.empty())
        Logger::warning(
            [&] {
                return "The CA file " + path +
                       " cannot be read or holds no PEM certificate; only the system's certificates are "
                       "trusted.";
            },
            constructorFunction);
}

URLSession::Result URLSession::State::perform(const URLRequest& request) {
    Result result;
    if (cancelled.load()) {
        result.error = "cancelled";
        return result;
    }
    if (!multi || !easy) {
        result.error = "libcurl could not be started";
        return result;
    }
    CURL* h = easy.get();
    curl_easy_reset(h); // options only: live connections stay in the multi handle's cache

    Transfer transfer;
    transfer.cancelled = &cancelled;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    curl_slist* list = nullptr;
    for (const auto& [name, value] : request.headers) {
        if (!isSafeField(name, value)) {
            Logger::warning([&] { return "Header field \"" + name + "\" is not valid and was left out."; },
                            dataTaskFunction);
            continue;
        }
        // "Name:" alone would remove the field; "Name;" sends it empty.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        if (curl_slist* longer = curl_slist_append(list, line.c_str()))
            list = longer;
    }
    // The body goes with the request, without a 100-continue round trip.
    if (curl_slist* longer = curl_slist_append(list, "Expect:"))
        list = longer;
    std::unique_ptr<curl_slist, SlistDeleter> headerList(list);

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!extraCertificates.empty()) {
        curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, addExtraCertificates);
        curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, this);
    } else if (!addsCertificates && extraCAFile) {
        curl_easy_setopt(h, CURLOPT_CAINFO, extraCAFile->c_str());
    }
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // no SIGALRM from the resolver on this thread
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    if (request.method == RequestMethod::post) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body ? request.body->size() : 0));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body ? request.body->data() : "");
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, readHeaderLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);

    std::optional<CURLcode> code;
    if (curl_multi_add_handle(multi.get(), h) == CURLM_OK) {
        // The multi interface so that shutdown() can wake the wait at once (curl_multi_wakeup); the
        // progress callback stops a transfer that is between waits.
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK || running == 0 || cancelled.load())
                break;
            if (curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK || cancelled.load())
                break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left))
            if (message->msg == CURLMSG_DONE && message->easy_handle == h)
                code = message->data.result;
        curl_multi_remove_handle(multi.get(), h); // an unfinished transfer's connection is closed
    }

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status > 0) {
        result.response = HTTPResponse{status, std::move(transfer.headers)};
        result.data = std::move(transfer.body);
    }
    if (!code || cancelled.load())
        result.error = cancelled.load() ? "cancelled" : "the transfer could not be run";
    else if (transfer.tooLarge)
        result.error = "the answer is larger than " + std::to_string(maxAnswerBytes) + " bytes";
    else if (*code != CURLE_OK)
        result.error = errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(*code));
    curl_easy_reset(h); // drop the pointers into this transfer's buffers
    return result;
}

void URLSession::initializeLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

URLSession::URLSession(std::optional<std::string> extraCAFile, std::string label)
    : state_(std::make_shared<State>()) {
    initializeLibrary();
    state_->multi.reset(curl_multi_init());
    state_->easy.reset(curl_easy_init());
    if (extraCAFile && !extraCAFile->empty() && state_->easy) {
        state_->extraCAFile = extraCAFile;
        // Only an OpenSSL-backed libcurl lets us add to its trust store; any other gets the file instead
        // of the system's certificates.
        state_->addsCertificates =
            curl_easy_setopt(state_->easy.get(), CURLOPT_SSL_CTX_FUNCTION, addExtraCertificates) == CURLE_OK;
        curl_easy_reset(state_->easy.get());
        if (state_->addsCertificates)
            state_->loadCertificates(*extraCAFile);
    }
    queue_ = std::make_unique<SerialQueue>(std::move(label));
}

URLSession::~URLSession() {
    shutdown();
    queue_.reset(); // what is still queued completes at once, cancelled
}

void URLSession::dataTask(URLRequest request, Completion completion) {
    queue_->async([state = state_, request = std::move(request), completion = std::move(completion)] {
        Result result = state->perform(request);
        if (completion)
            completion(std::move(result));
    });
}

void URLSession::shutdown() {
    if (state_->cancelled.exchange(true))
        return;
    if (state_->multi)
        curl_multi_wakeup(state_->multi.get());
}

bool URLSession::isShutDown() const {
    return state_->cancelled.load();
}

} // namespace veltrace
