#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstddef>

class QNetworkReply;

// Fetches the update feed with the toolkit's network access, without blocking: TLS always verified,
// redirects followed up to a limit (never from https down to http), a bounded body, a time limit for the
// whole fetch. One fetch at a time.
// Thread-safety: used on the thread it lives on (the GUI thread); finished() comes on that thread.
class FeedFetcher : public QObject {
    Q_OBJECT

  public:
    struct Options {
        std::chrono::milliseconds timeout{std::chrono::seconds(30)};
        long maxRedirects = 10;
        QString caBundlePath;                   // extra trust anchors (PEM), added to the system's
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

    explicit FeedFetcher(QObject* parent = nullptr);
    ~FeedFetcher() override;

    FeedFetcher(const FeedFetcher&) = delete;
    FeedFetcher& operator=(const FeedFetcher&) = delete;

    // Starts fetching `url`, abandoning a fetch that still runs. finished() follows exactly once, and
    // never from inside this call, unless abort() or destruction comes first.
    void fetch(const QUrl& url, const Options& options);
    // Stops the running fetch; it reports nothing.
    void abort();

  signals:
    void finished(const FeedFetcher::Response& response);

  private:
    void get(const QUrl& url);
    void dropReply();
    void checkLength();
    void readBody();
    void complete();
    void followRedirect(const QUrl& target);
    // Ends the fetch early with `error`.
    void fail(const QString& error);
    // Detaches from the reply and reports `response` from the event loop.
    void report(Response response);

    QNetworkAccessManager network_;
    QNetworkReply* reply_ = nullptr; // a child of network_
    QTimer deadline_;
    Options options_;
    QSslConfiguration tls_;
    QByteArray body_;
    bool httpsOnly_ = false;
    long redirects_ = 0;
    quint64 generation_ = 0; // a report queued for an earlier fetch is dropped
};
