#include "platform/compositor/CompositorHighlightOverlay.h"

#include "highlight/Click.h"
#include "highlight/HighlightSettings.h"
#include "platform/compositor/CompositorHighlightClient.h"

#include <QTimer>

#include <cmath>

CompositorHighlightOverlay::CompositorHighlightOverlay(CompositorHighlightClient& client,
                                                       HighlightSettings& settings, Click& click)
    : client_(client), settings_(settings), click_(click) {
    for (auto signal : {&HighlightSettings::baseOpacityChanged, &HighlightSettings::baseSizeChanged,
                        &HighlightSettings::clickOpacityChanged, &HighlightSettings::clickSizeChanged})
        keep(QObject::connect(&settings_, signal, &client_, [this] { sendLook(); }));
    for (auto signal : {&HighlightSettings::baseColorChanged, &HighlightSettings::clickColorChanged})
        keep(QObject::connect(&settings_, signal, &client_, [this] { sendLook(); }));
    keep(QObject::connect(&click_, &Click::isClickedChanged, &client_,
                          [this](bool clicked) { onClickChanged(clicked); }));
    keep(QObject::connect(&client_, &CompositorHighlightClient::appeared, &client_, [this] { resendAll(); }));
    sendLook();
}

CompositorHighlightOverlay::~CompositorHighlightOverlay() {
    for (const auto& connection : connections_)
        QObject::disconnect(connection);
    QObject::disconnect(presses_);
    if (shown_)
        client_.hide();
}

void CompositorHighlightOverlay::show() {
    shown_ = true;
    client_.show();
}

void CompositorHighlightOverlay::hide() {
    shown_ = false;
    client_.hide();
}

bool CompositorHighlightOverlay::startWatchingPresses(PressHandler onLeftPress) {
    QObject::disconnect(presses_);
    presses_ = QObject::connect(&client_, &CompositorHighlightClient::leftPressed, &client_,
                                [handler = std::move(onLeftPress)](double x, double y) {
                                    handler(QPoint(int(std::lround(x)), int(std::lround(y))));
                                });
    return true;
}

void CompositorHighlightOverlay::stopWatchingPresses() {
    QObject::disconnect(presses_);
}

void CompositorHighlightOverlay::sendLook() {
    client_.setLook({HighlightSettings::hexFromColor(settings_.baseColor()), settings_.baseOpacity(),
                     settings_.baseSize(), HighlightSettings::hexFromColor(settings_.clickColor()),
                     settings_.clickOpacity(), settings_.clickSize()});
}

void CompositorHighlightOverlay::resendAll() {
    sendLook();
    client_.setClicked(click_.isClicked());
    if (shown_)
        client_.show();
}

void CompositorHighlightOverlay::onClickChanged(bool clicked) {
    client_.setClicked(clicked);
    if (clicked) {
        // Ends the click look; tied to the flag's owner so nothing here can cancel it.
        Click* click = &click_;
        QTimer::singleShot(kClickHoldMs, Qt::PreciseTimer, click, [click] { click->setClicked(false); });
    }
}
