#include "platform/wayland/WaylandKeyTranslator.h"

#include "platform/wayland/WaylandKeymap.h"
#include "platform/x11/X11KeyTranslator.h"

#include <QObject>

#include <cstdio>

WaylandKeyTranslator::WaylandKeyTranslator()
    : xkb_(std::make_unique<X11KeyTranslator>("evdev", "pc105", "us")),
      keymap_(std::make_unique<WaylandKeymap>()) {
    if (!keymap_->problem().isEmpty() || !xkb_->useKeymap(keymap_->text())) {
        const QString why = keymap_->problem().isEmpty() ? QStringLiteral("its keyboard map does not compile")
                                                         : keymap_->problem();
        std::fprintf(stderr, "lumarex: %s; shortcuts are read with a US layout\n", qPrintable(why));
    }
    QObject::connect(keymap_.get(), &WaylandKeymap::changed, keymap_.get(), [this] {
        if (!xkb_->useKeymap(keymap_->text()))
            std::fprintf(stderr, "lumarex: could not read the new keyboard map; keeping the previous one\n");
    });
}

WaylandKeyTranslator::~WaylandKeyTranslator() = default;

std::optional<TranslatedKey> WaylandKeyTranslator::translate(std::uint32_t keyCode, std::uint32_t modifierState,
                                                             std::uint32_t keysym) const {
    return xkb_->translate(keyCode, modifierState, keysym);
}

std::optional<TranslatedKey> WaylandKeyTranslator::translateWithCurrentState(std::uint32_t keyCode) const {
    return xkb_->translateWithCurrentState(keyCode);
}
