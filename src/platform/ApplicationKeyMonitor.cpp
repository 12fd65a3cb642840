#include "platform/ApplicationKeyMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

ApplicationKeyMonitor::ApplicationKeyMonitor(const KeyTranslator& translator, QObject* parent)
    : QObject(parent), translator_(translator) {}

ApplicationKeyMonitor::~ApplicationKeyMonitor() {
    stop();
}

bool ApplicationKeyMonitor::start(Handler handler) {
    if (!handler || !QCoreApplication::instance())
        return false;
    stop();
    handler_ = std::move(handler);
    QCoreApplication::instance()->installEventFilter(this);
    return true;
}

void ApplicationKeyMonitor::stop() {
    if (!handler_)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    handler_ = nullptr;
}

bool ApplicationKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    // A key press reaches the window first and is then passed on to the focus widget and maybe up its
    // parents, each step through this filter again: the window's copy stands for the press.
    if (event->type() != QEvent::KeyPress || !watched->isWindowType() || !handler_)
        return false;
    if (const std::optional<TranslatedKey> key = translator_.translate(*static_cast<QKeyEvent*>(event))) {
        Handler handler = handler_; // survives the handler stopping this monitor
        handler(*key);
    }
    return false;
}
