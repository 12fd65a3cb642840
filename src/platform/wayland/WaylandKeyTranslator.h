#pragma once

#include "platform/KeyTranslator.h"

#include <memory>

class WaylandKeymap;
class X11KeyTranslator;

// Key translation with the keymap the Wayland compositor uses, followed as it changes; with a US keymap
// (said once on standard error) when the compositor's cannot be read.
// Thread-safety: GUI thread only.
class WaylandKeyTranslator : public KeyTranslator {
  public:
    WaylandKeyTranslator();
    ~WaylandKeyTranslator() override;

    using KeyTranslator::translate;
    std::optional<TranslatedKey> translate(std::uint32_t keyCode, std::uint32_t modifierState,
                                           std::uint32_t keysym) const override;
    // Wayland reports no modifiers to a client without focus: this is the keymap's reset state.
    std::optional<TranslatedKey> translateWithCurrentState(std::uint32_t keyCode) const override;

  private:
    std::unique_ptr<X11KeyTranslator> xkb_;
    std::unique_ptr<WaylandKeymap> keymap_;
};
