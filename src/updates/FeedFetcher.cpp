#include "FeedFetcher.h"

#include <QCoreApplication>

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

struct EasyHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct Transfer {
    QByteArray body;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t writeBody(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    const size_t bytes = size * count;
    if (transfer->body.size() + bytes > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0; // makes curl stop with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

int onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* transfer = static_cast<const Transfer*>(userData);
    return transfer->cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

QString tr(const char* text) {
    return QCoreApplication::translate("FeedFetcher", text);
}

void ensureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

FeedFetcher::Response FeedFetcher::fetch(const QUrl& url, const Options& options,
                                         const std::atomic<bool>& cancel) {
    Response response;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"https" && scheme != u"http")) {
        response.error = tr("The update feed address is not a web address: “%1”.").arg(url.toDisplayString());
        return response;
    }

    ensureCurlInitialised();
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        response.error = tr("Could not start a network request.");
        return response;
    }
    CURL* h = easy.get();

    Transfer transfer;
    transfer.maxBytes = options.maxBytes;
    transfer.cancel = &cancel;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    const QByteArray urlBytes = url.toEncoded();
    const QByteArray caBundle = options.caBundlePath.toLocal8Bit();
    const QByteArray userAgent = options.userAgent.toUtf8();
    // An https feed may only lead to https addresses; a plain-http one (diagnostics, tests) to either.
    const char* protocols = scheme == u"https" ? "https" : "http,https";

    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, options.maxRedirects);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caBundle.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caBundle.constData());
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeout.count()));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // no SIGALRM from the resolver on a worker thread
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    if (!userAgent.isEmpty())
        curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.constData());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);

    const CURLcode code = curl_easy_perform(h);

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.httpStatus = status;
    char* effectiveUrl = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effectiveUrl) == CURLE_OK && effectiveUrl)
        response.finalUrl = QUrl::fromEncoded(effectiveUrl);

    if (code != CURLE_OK) {
        if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            response.error = tr("The update feed is larger than %1 bytes.").arg(options.maxBytes);
        } else if (code == CURLE_UNSUPPORTED_PROTOCOL && response.finalUrl != url) {
            response.error = tr("The update server redirected to “%1”, which is not an https address.")
                                 .arg(response.finalUrl.toDisplayString());
        } else if (code == CURLE_ABORTED_BY_CALLBACK) {
            response.error = tr("The update check was cancelled.");
        } else {
            const QString detail =
                errorBuffer[0] ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(code));
            response.error = tr("The update feed could not be fetched: %1").arg(detail);
        }
        return response;
    }
    if (status < 200 || status > 299) {
        response.error = tr("The update server answered with HTTP status %1.").arg(status);
        return response;
    }
    response.ok = true;
    response.body = std::move(transfer.body);
    return response;
}
