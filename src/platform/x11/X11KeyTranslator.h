#pragma once

#include "platform/KeyTranslator.h"

#include <memory>
#include <string>

class X11Connection;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;
union _XEvent;

// Key translation over libxkbcommon. Either follows the X server's keymap and keyboard state on our own
// connection (layout changes and modifier or group changes are read from XKB events on it, so a
// translation costs no round trip), or holds a fixed keymap compiled from XKB rule names, which needs no
// server. Thread-safety: GUI thread only.
class X11KeyTranslator : public KeyTranslator {
  public:
    // Follows the server's core keyboard. hasKeymap() is false when the server lacks XKB.
    explicit X11KeyTranslator(X11Connection& connection);
    // A fixed keymap from rule names, e.g. ("evdev", "pc105", "us", "", ""); hasKeymap() is false when
    // it does not compile.
    X11KeyTranslator(const std::string& rules, const std::string& model, const std::string& layout,
                     const std::string& variant = {}, const std::string& options = {});
    ~X11KeyTranslator() override;
    X11KeyTranslator(const X11KeyTranslator&) = delete;
    X11KeyTranslator& operator=(const X11KeyTranslator&) = delete;

    bool hasKeymap() const { return keymap_ != nullptr; }
    // How many times the keymap was fetched from the server (tests and diagnostics).
    int keymapLoads() const { return keymapLoads_; }

    std::optional<TranslatedKey> translate(std::uint32_t keyCode, std::uint32_t modifierState) const override;
    std::optional<TranslatedKey> translateWithCurrentState(std::uint32_t keyCode) const override;

    struct Unref {
        void operator()(xkb_context* context) const;
        void operator()(xkb_keymap* keymap) const;
        void operator()(xkb_state* state) const;
    };

  private:
    void handleEvent(_XEvent& event);
    // Fetches the keymap and the keyboard state from the server.
    void loadFromServer() const;
    void reloadIfStale() const;
    std::optional<TranslatedKey> translateKey(std::uint32_t keyCode, std::uint32_t coreMods,
                                              std::uint32_t group) const;

    X11Connection* connection_ = nullptr;
    int handlerId_ = 0;
    int xkbEventBase_ = -1;
    std::unique_ptr<xkb_context, Unref> context_;
    // Reloaded lazily after the server announces a keymap change, so a burst of change events costs
    // one fetch.
    mutable std::unique_ptr<xkb_keymap, Unref> keymap_;
    // The keyboard's current modifiers and group, kept up to date from XKB state events.
    mutable std::unique_ptr<xkb_state, Unref> current_;
    // Scratch state for resolving a group number against the keymap's per-key group rules.
    mutable std::unique_ptr<xkb_state, Unref> scratch_;
    mutable bool keymapStale_ = false;
    mutable int keymapLoads_ = 0;
    mutable std::int32_t deviceId_ = -1;
};
