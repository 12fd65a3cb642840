#include "analytics/Analytics.h"

#include "analytics/QtMainExecutor.h"

#include "client/DeviceInfo.h"
#include "client/Flush.h"
#include "client/Veltrace.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

// The main screen's size, kept up to date on the GUI thread and read by the client on its own thread.
class ScreenSizeCache {
  public:
    void update() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        std::lock_guard lock(mutex_);
        if (screen)
            size_ = veltrace::DeviceInfo::ScreenSize{static_cast<double>(screen->size().width()),
                                                     static_cast<double>(screen->size().height())};
        else
            size_.reset();
    }
    std::optional<veltrace::DeviceInfo::ScreenSize> size() const {
        std::lock_guard lock(mutex_);
        return size_;
    }

  private:
    mutable std::mutex mutex_;
    std::optional<veltrace::DeviceInfo::ScreenSize> size_;
};

// Seconds between automatic flushes: 60, or VELTRACE_FLUSH_INTERVAL when it holds a positive number
// (for diagnostics and tests, which cannot wait a minute for every batch).
double flushInterval() {
    const QByteArray value = qgetenv("VELTRACE_FLUSH_INTERVAL");
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    return ok && seconds > 0 && seconds < 1e9 ? seconds : 60.0;
}

} // namespace

bool Analytics::desktopOptedOut() {
    const char* value = std::getenv("DO_NOT_TRACK");
    return value && *value && std::string_view(value) != "0";
}

Analytics& Analytics::shared() {
    static Analytics* analytics = new Analytics(); // never released, like the client it configures
    return *analytics;
}

Analytics::Analytics() {
    if (desktopOptedOut())
        return;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connectToApplication();
    veltrace::InitializeOptions options;
    options.flushInterval = flushInterval();
    instance_ = veltrace::Veltrace::initialize(projectToken, options);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QObject::connect(app, &QGuiApplication::applicationStateChanged, app,
                         [instance = std::weak_ptr(instance_)](Qt::ApplicationState state) {
                             const auto client = instance.lock();
                             if (!client)
                                 return;
                             if (state == Qt::ApplicationActive)
                                 client->applicationDidBecomeActive();
                             else
                                 client->applicationWillResignActive();
                         });
        QObject::connect(app, &QCoreApplication::aboutToQuit, app, [instance = std::weak_ptr(instance_)] {
            // Quitting never waits for the network: a batch in flight stays queued for the next run.
            if (const auto client = instance.lock())
                client->flushInstance().sender().shutdown();
            // The executor's timers belong to the GUI thread; they go while it still runs.
            veltrace::MainExecutor::install(nullptr);
        });
    }
}

void Analytics::connectToApplication() {
    veltrace::MainExecutor::install(std::make_shared<QtMainExecutor>());
    veltrace::DeviceInfo::setApplicationVersion(QCoreApplication::applicationVersion().toStdString(),
                                                QCoreApplication::applicationVersion().toStdString());
    auto screens = std::make_shared<ScreenSizeCache>();
    screens->update();
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, app, [screens] { screens->update(); });
    if (QScreen* screen = QGuiApplication::primaryScreen())
        QObject::connect(screen, &QScreen::geometryChanged, app, [screens] { screens->update(); });
    veltrace::DeviceInfo::setScreenSizeProvider([screens] { return screens->size(); });
}

void Analytics::track(const std::string& event, const std::map<std::string, std::string>& properties) {
    if (!instance_)
        return;
    veltrace::PropertyMap converted;
    for (const auto& [key, value] : properties)
        converted.emplace(key, value);
    if (const auto main = veltrace::Veltrace::mainInstance())
        main->track(event, std::move(converted));
}

bool Analytics::isReportingEnabled() const {
    return instance_ && !veltrace::Veltrace::mainInstance()->hasOptedOutTracking();
}

void Analytics::setReportingEnabled(bool enabled, std::function<void(bool stored)> done) {
    if (!instance_)
        return;
    const auto main = veltrace::Veltrace::mainInstance();
    if (enabled)
        main->optInTracking(std::nullopt, std::nullopt, std::move(done));
    else
        main->optOutTracking(std::move(done));
}
