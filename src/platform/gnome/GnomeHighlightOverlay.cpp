#include "platform/gnome/GnomeHighlightOverlay.h"

#include "highlight/Click.h"
#include "highlight/HighlightSettings.h"
#include "platform/gnome/GnomeAccelerator.h"
#include "platform/gnome/GnomeShellExtension.h"

#include <QTimer>

#include <cmath>
#include <cstdio>

GnomeHighlightOverlay::GnomeHighlightOverlay(GnomeShellExtension& extension, HighlightSettings& settings,
                                             Click& click)
    : extension_(extension), settings_(settings), click_(click) {
    for (auto signal : {&HighlightSettings::baseOpacityChanged, &HighlightSettings::baseSizeChanged,
                        &HighlightSettings::clickOpacityChanged, &HighlightSettings::clickSizeChanged})
        connections_.push_back(QObject::connect(&settings_, signal, &extension_, [this] { sendLook(); }));
    for (auto signal : {&HighlightSettings::baseColorChanged, &HighlightSettings::clickColorChanged})
        connections_.push_back(QObject::connect(&settings_, signal, &extension_, [this] { sendLook(); }));
    connections_.push_back(QObject::connect(&settings_, &HighlightSettings::toggleShortcutChanged,
                                            &extension_, [this] { sendShortcut(); }));
    connections_.push_back(QObject::connect(&click_, &Click::isClickedChanged, &extension_,
                                            [this](bool clicked) { onClickChanged(clicked); }));
    connections_.push_back(
        QObject::connect(&extension_, &GnomeShellExtension::appeared, &extension_, [this] { sendAll(); }));
    sendLook();
    sendShortcut();
}

GnomeHighlightOverlay::~GnomeHighlightOverlay() {
    for (const auto& connection : connections_)
        QObject::disconnect(connection);
    QObject::disconnect(presses_);
    if (shown_)
        extension_.hide();
}

void GnomeHighlightOverlay::show() {
    shown_ = true;
    extension_.show();
}

void GnomeHighlightOverlay::hide() {
    shown_ = false;
    extension_.hide();
}

bool GnomeHighlightOverlay::startWatchingPresses(PressHandler onLeftPress) {
    QObject::disconnect(presses_);
    presses_ = QObject::connect(&extension_, &GnomeShellExtension::leftPressed, &extension_,
                                [handler = std::move(onLeftPress)](double x, double y) {
                                    handler(QPoint(int(std::lround(x)), int(std::lround(y))));
                                });
    return true;
}

void GnomeHighlightOverlay::stopWatchingPresses() {
    QObject::disconnect(presses_);
}

void GnomeHighlightOverlay::sendLook() {
    extension_.setLook({HighlightSettings::hexFromColor(settings_.baseColor()), settings_.baseOpacity(),
                        settings_.baseSize(), HighlightSettings::hexFromColor(settings_.clickColor()),
                        settings_.clickOpacity(), settings_.clickSize()});
}

void GnomeHighlightOverlay::sendShortcut() {
    const QString text = settings_.toggleShortcut();
    const QString accelerator = GnomeAccelerator::fromShortcutText(text);
    if (!text.isEmpty() && accelerator.isEmpty())
        std::fprintf(stderr, "lumarex: GNOME has no name for the key of the shortcut %s; it is not bound\n",
                     qPrintable(text));
    extension_.setShortcut(text, accelerator);
}

void GnomeHighlightOverlay::sendAll() {
    sendLook();
    sendShortcut();
    extension_.setClicked(click_.isClicked());
    if (shown_)
        extension_.show();
}

void GnomeHighlightOverlay::onClickChanged(bool clicked) {
    extension_.setClicked(clicked);
    if (clicked) {
        // Ends the click look; tied to the flag's owner so nothing here can cancel it.
        Click* click = &click_;
        QTimer::singleShot(kClickHoldMs, Qt::PreciseTimer, click, [click] { click->setClicked(false); });
    }
}
