#pragma once

#include "platform/KeyTranslator.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class X11Connection;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;
union _XEvent;

// Key translation over libxkbcommon. Either follows the X server's keymap and keyboard state on our own
// connection (layout changes and modifier or group changes are read from XKB events on it, so a
// translation costs no round trip), or holds a keymap compiled from XKB rule names, which needs no
// server, and which a keymap in the XKB text format (a Wayland compositor's) may replace.
// Thread-safety: GUI thread only.
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
    // Replaces the keymap with one in the XKB text format. When it does not compile, the previous one
    // stays and the answer is false.
    bool useKeymap(std::string_view text);
    // How many times the keymap was fetched from the server (tests and diagnostics).
    int keymapLoads() const { return keymapLoads_; }

    using KeyTranslator::translate;
    std::optional<TranslatedKey> translate(std::uint32_t keyCode, std::uint32_t modifierState,
                                           std::uint32_t keysym) const override;
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
    // Takes `keymap` with `current` as the keyboard's state; false (and nothing changed) when either is
    // missing or no scratch state can be made.
    bool adopt(std::unique_ptr<xkb_keymap, Unref> keymap, std::unique_ptr<xkb_state, Unref> current) const;
    // The layout in which `keyCode` with `coreMods` gives `keysym`, the first if several do.
    std::optional<std::uint32_t> layoutGiving(std::uint32_t keyCode, std::uint32_t coreMods,
                                              std::uint32_t keysym) const;
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
