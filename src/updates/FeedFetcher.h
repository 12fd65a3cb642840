#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cstddef>

// Fetches the update feed with one blocking libcurl request: TLS always verified, redirects followed
// up to a limit (never from https down to http), a bounded body. Meant for a worker thread.
// Thread-safety: stateless; fetch() may run on several threads at once.
class FeedFetcher {
  public:
    struct Options {
        std::chrono::milliseconds timeout{std::chrono::seconds(30)};
        long maxRedirects = 10;
        QString caBundlePath;                   // extra trust anchors (PEM); empty for the system's
        std::size_t maxBytes = 8 * 1024 * 1024; // a feed is small; anything larger is refused
        QString userAgent;
    };

    struct Response {
        bool ok = false;     // a complete 2xx response arrived
        long httpStatus = 0; // 0 when no response arrived
        QByteArray body;
        QUrl finalUrl; // after redirects
        QString error; // for people, when !ok
    };

    // Setting `cancel` makes a running fetch give up within about a second.
    static Response fetch(const QUrl& url, const Options& options, const std::atomic<bool>& cancel);
};
