#include "platform/x11/X11DesktopPlatform.h"

#include "highlight/DrawnHighlightOverlay.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeyMonitor.h"
#include "platform/x11/X11KeyTranslator.h"
#include "platform/x11/X11OverlaySurface.h"
#include "platform/x11/X11PointerMonitor.h"
#include "platform/x11/X11PointerTracker.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>

#include <cstdio>

std::unique_ptr<X11DesktopPlatform> X11DesktopPlatform::open() {
    // The overlay and the input monitors speak X11 directly, so the toolkit must too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    std::unique_ptr<X11Connection> connection = X11Connection::open();
    if (!connection)
        return nullptr;
    return std::make_unique<X11DesktopPlatform>(std::move(connection));
}

X11DesktopPlatform::X11DesktopPlatform(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

// The tracker first: its thread may still hand a press to the connection's monitors until it ends.
X11DesktopPlatform::~X11DesktopPlatform() {
    tracker_.reset();
}

AccessibilityTrust& X11DesktopPlatform::trust() {
    if (!trust_)
        trust_ = std::make_unique<X11AccessibilityTrust>(connection_.get());
    return *trust_;
}

KeyTranslator& X11DesktopPlatform::keyTranslator() {
    if (translator_)
        return *translator_;
    // A toolkit on another window system (tests on the offscreen platform) sends no X key codes.
    if (QGuiApplication::platformName() == u"xcb") {
        translator_ = std::make_unique<X11KeyTranslator>(*connection_);
        if (translator_->hasKeymap())
            return *translator_;
        std::fprintf(stderr,
                     "lumarex: the X server offers no keyboard map (XKB); shortcuts are read with a US "
                     "layout\n");
    }
    translator_ = std::make_unique<X11KeyTranslator>("evdev", "pc105", "us");
    return *translator_;
}

std::unique_ptr<KeyMonitor> X11DesktopPlatform::makeGlobalKeyMonitor() {
    return std::make_unique<X11KeyMonitor>(*connection_, keyTranslator());
}

std::unique_ptr<HighlightOverlay> X11DesktopPlatform::makeOverlay(HighlightSettings& settings, Click& click) {
    if (!tracker_) {
        // Following the pointer and reading presses happen on the tracker's thread; without it (its
        // connection refused) the overlay's own timer does the following.
        tracker_ = std::make_unique<X11PointerTracker>(connection_->displayName(), [] {
            // The server went away (said on standard error): nothing can be shown any more.
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        });
    }
    X11Connection* connection = connection_.get();
    X11PointerTracker* tracker = tracker_.get();
    auto overlay = std::make_unique<DrawnHighlightOverlay>(
        [connection, tracker](QSize size) -> std::unique_ptr<OverlaySurface> {
            return std::make_unique<X11OverlaySurface>(*connection, size, tracker);
        },
        std::make_unique<X11PointerMonitor>(*connection, tracker), settings, click);
    // X11 has one scale for the whole desktop; Qt knows it (Xft.dpi, QT_SCALE_FACTOR…).
    overlay->setDeviceScaleSource([] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->devicePixelRatio() : 1.0;
    });
    return overlay;
}
