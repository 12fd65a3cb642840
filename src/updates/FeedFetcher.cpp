#include "FeedFetcher.h"

#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>
#include <utility>

namespace {

// The reply holds at most this much unread, so a huge answer cannot fill memory before it is refused.
constexpr qint64 readBufferBytes = 256 * 1024;

bool isWebScheme(const QString& scheme) {
    return scheme == u"https" || scheme == u"http";
}

} // namespace

FeedFetcher::FeedFetcher(QObject* parent) : QObject(parent) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        fail(tr("The update feed could not be fetched: no complete answer within %1 seconds.")
                 .arg(double(options_.timeout.count()) / 1000.0));
    });
}

FeedFetcher::~FeedFetcher() {
    abort();
}

void FeedFetcher::fetch(const QUrl& url, const Options& options) {
    abort();
    options_ = options;
    redirects_ = 0;

    const QString scheme = url.scheme().toLower();
    // An https feed may only lead to https addresses; a plain-http one (diagnostics, tests) to either.
    httpsOnly_ = scheme == u"https";
    if (!url.isValid() || url.host().isEmpty() || !isWebScheme(scheme)) {
        fail(tr("The update feed address is not a web address: “%1”.").arg(url.toDisplayString()));
        return;
    }

    tls_ = QSslConfiguration::defaultConfiguration();
    tls_.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!options.caBundlePath.isEmpty()) {
        const QList<QSslCertificate> extra = QSslCertificate::fromPath(options.caBundlePath, QSsl::Pem);
        if (extra.isEmpty()) {
            fail(tr("The update feed could not be fetched: the CA bundle “%1” holds no certificate that "
                    "could be read.")
                     .arg(options.caBundlePath));
            return;
        }
        // Naming trust anchors ends the on-demand loading of the system's, so both are listed.
        tls_.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    }
    deadline_.start(options.timeout);
    get(url);
}

void FeedFetcher::abort() {
    ++generation_;
    deadline_.stop();
    dropReply();
}

void FeedFetcher::get(const QUrl& url) {
    body_.clear();
    QNetworkRequest request(url);
    request.setSslConfiguration(tls_);
    // Redirects are followed here, one request at a time, so the scheme rule and the limit hold exactly.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!options_.userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, options_.userAgent);

    reply_ = network_.get(request);
    reply_->setReadBufferSize(std::min<qint64>(readBufferBytes, qint64(options_.maxBytes) + 1));
    connect(reply_, &QNetworkReply::metaDataChanged, this, &FeedFetcher::checkLength);
    connect(reply_, &QNetworkReply::readyRead, this, &FeedFetcher::readBody);
    connect(reply_, &QNetworkReply::finished, this, &FeedFetcher::complete);
}

void FeedFetcher::dropReply() {
    if (!reply_)
        return;
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void FeedFetcher::checkLength() {
    bool known = false;
    const qulonglong length = reply_->header(QNetworkRequest::ContentLengthHeader).toULongLong(&known);
    if (known && length > options_.maxBytes)
        fail(tr("The update feed is larger than %1 bytes.").arg(options_.maxBytes));
}

void FeedFetcher::readBody() {
    body_ += reply_->readAll();
    if (std::size_t(body_.size()) > options_.maxBytes)
        fail(tr("The update feed is larger than %1 bytes.").arg(options_.maxBytes));
}

void FeedFetcher::complete() {
    readBody();
    if (!reply_)
        return; // refused as too large
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl target = reply_->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (status >= 300 && status <= 399 && target.isValid()) {
        followRedirect(reply_->url().resolved(target));
        return;
    }
    const QNetworkReply::NetworkError error = reply_->error();
    // Codes below the content range mean no usable answer came (refused, TLS, time-out).
    const bool answered = error == QNetworkReply::NoError || error >= QNetworkReply::ContentAccessDenied;
    if (answered && status != 0 && (status < 200 || status > 299)) {
        fail(tr("The update server answered with HTTP status %1.").arg(status));
    } else if (error != QNetworkReply::NoError) {
        fail(tr("The update feed could not be fetched: %1").arg(reply_->errorString()));
    } else {
        Response response;
        response.ok = true;
        response.httpStatus = status;
        response.finalUrl = reply_->url();
        response.body = std::move(body_);
        report(std::move(response));
    }
}

void FeedFetcher::followRedirect(const QUrl& target) {
    const QString scheme = target.scheme().toLower();
    if (httpsOnly_ ? scheme != u"https" : !isWebScheme(scheme)) {
        fail(tr("The update server redirected to “%1”, which is not an https address.")
                 .arg(target.toDisplayString()));
        return;
    }
    if (++redirects_ > options_.maxRedirects) {
        fail(tr("The update feed could not be fetched: more than %1 redirects.").arg(options_.maxRedirects));
        return;
    }
    dropReply();
    get(target);
}

void FeedFetcher::fail(const QString& error) {
    Response response;
    if (reply_) {
        response.httpStatus = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.finalUrl = reply_->url();
    }
    response.error = error;
    report(std::move(response));
}

void FeedFetcher::report(Response response) {
    abort();
    body_.clear();
    // An update check is rare: no connection stays open to the update server in between.
    network_.clearConnectionCache();
    QMetaObject::invokeMethod(
        this,
        [this, response = std::move(response), generation = generation_] {
            if (generation == generation_)
                emit finished(response);
        },
        Qt::QueuedConnection);
}
