#include "platform/x11/X11KeyTranslator.h"

#include "platform/x11/X11Connection.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <utility>

namespace {

// The X core modifier bits in an event's state word (fixed by the protocol).
constexpr std::uint32_t coreShift = 1u << 0;
constexpr std::uint32_t coreControl = 1u << 2;
constexpr std::uint32_t coreMod1 = 1u << 3; // Alt
constexpr std::uint32_t coreMod4 = 1u << 6; // Super

std::uint64_t modifierFlagsFromCore(std::uint32_t coreMods) {
    std::uint64_t flags = 0;
    if (coreMods & coreMod4)
        flags |= ModifierFlags::command;
    if (coreMods & coreMod1)
        flags |= ModifierFlags::option;
    if (coreMods & coreShift)
        flags |= ModifierFlags::shift;
    if (coreMods & coreControl)
        flags |= ModifierFlags::control;
    return flags;
}

// Keys that change modifier, lock or group state: on their own they are no key-down for shortcuts.
bool isModifierOrLockKey(xkb_keysym_t sym) {
    return (sym >= XKB_KEY_Shift_L && sym <= XKB_KEY_Hyper_R) // Shift…Hyper, Caps and Shift Lock
           || (sym >= XKB_KEY_ISO_Lock && sym <= XKB_KEY_ISO_Last_Group_Lock) // level and group shifts
           || (sym >= XKB_KEY_ISO_Level5_Shift && sym <= XKB_KEY_ISO_Level5_Lock) ||
           sym == XKB_KEY_Mode_switch || sym == XKB_KEY_Num_Lock || sym == XKB_KEY_Scroll_Lock;
}

// Codes of keys that have no printable character, chosen as the first platform reports them (its
// function-key code points live in the private-use range from U+F700), so that texts recorded there
// read the same here.
char32_t functionKeyCode(xkb_keysym_t sym) {
    if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F35)
        return 0xF704 + (sym - XKB_KEY_F1);
    switch (sym) {
    case XKB_KEY_BackSpace:
        return 0x7F;
    case XKB_KEY_KP_Enter:
        return 0x03;
    case XKB_KEY_Up:
    case XKB_KEY_KP_Up:
        return 0xF700;
    case XKB_KEY_Down:
    case XKB_KEY_KP_Down:
        return 0xF701;
    case XKB_KEY_Left:
    case XKB_KEY_KP_Left:
        return 0xF702;
    case XKB_KEY_Right:
    case XKB_KEY_KP_Right:
        return 0xF703;
    case XKB_KEY_KP_F1:
        return 0xF704;
    case XKB_KEY_KP_F2:
        return 0xF705;
    case XKB_KEY_KP_F3:
        return 0xF706;
    case XKB_KEY_KP_F4:
        return 0xF707;
    case XKB_KEY_Insert:
    case XKB_KEY_KP_Insert:
        return 0xF727;
    case XKB_KEY_Delete:
    case XKB_KEY_KP_Delete:
        return 0xF728;
    case XKB_KEY_Home:
    case XKB_KEY_KP_Home:
        return 0xF729;
    case XKB_KEY_Begin:
    case XKB_KEY_KP_Begin:
        return 0xF72A;
    case XKB_KEY_End:
    case XKB_KEY_KP_End:
        return 0xF72B;
    case XKB_KEY_Prior:
    case XKB_KEY_KP_Prior:
        return 0xF72C;
    case XKB_KEY_Next:
    case XKB_KEY_KP_Next:
        return 0xF72D;
    case XKB_KEY_Print:
        return 0xF72E;
    case XKB_KEY_Pause:
        return 0xF730;
    case XKB_KEY_Sys_Req:
        return 0xF731;
    case XKB_KEY_Break:
        return 0xF732;
    case XKB_KEY_Menu:
        return 0xF735;
    case XKB_KEY_Clear:
        return 0xF739;
    case XKB_KEY_Select:
        return 0xF741;
    case XKB_KEY_Execute:
        return 0xF742;
    case XKB_KEY_Undo:
        return 0xF743;
    case XKB_KEY_Redo:
        return 0xF744;
    case XKB_KEY_Find:
        return 0xF745;
    case XKB_KEY_Help:
        return 0xF746;
    default:
        return 0;
    }
}

QString charactersForKeysym(xkb_keysym_t sym) {
    if (sym == XKB_KEY_NoSymbol)
        return {};
    char32_t code = functionKeyCode(sym);
    if (code == 0)
        code = xkb_keysym_to_utf32(sym);
    if (code != 0)
        return QString::fromUcs4(&code, 1);
    // Media keys, dead keys and the like: the keysym's name is stable and readable as a title.
    char name[64];
    if (xkb_keysym_get_name(sym, name, sizeof name) > 0)
        return QString::fromLatin1(name);
    return {};
}

} // namespace

void X11KeyTranslator::Unref::operator()(xkb_context* context) const {
    xkb_context_unref(context);
}
void X11KeyTranslator::Unref::operator()(xkb_keymap* keymap) const {
    xkb_keymap_unref(keymap);
}
void X11KeyTranslator::Unref::operator()(xkb_state* state) const {
    xkb_state_unref(state);
}

X11KeyTranslator::X11KeyTranslator(X11Connection& connection)
    : connection_(&connection), context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    Display* display = connection.display();
    xcb_connection_t* xcb = XGetXCBConnection(display);
    if (!context_ || !xcb ||
        !xkb_x11_setup_xkb_extension(xcb, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                     nullptr))
        return;
    int opcode = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkbEventBase_, &errorBase, &major, &minor))
        return;

    // Modifier and group changes keep our copy of the state current; layout changes mark the keymap stale.
    const unsigned long events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbStateNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, events, events);
    // Only modifier and group changes: pointer buttons are part of the state too, and every click would
    // otherwise wake us.
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask,
                          XkbModifierStateMask | XkbGroupStateMask);
    handlerId_ = connection.addHandler([this](XEvent& event) { handleEvent(event); });
    loadFromServer();
    connection.flush();
}

X11KeyTranslator::X11KeyTranslator(const std::string& rules, const std::string& model,
                                   const std::string& layout, const std::string& variant,
                                   const std::string& options)
    : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    if (!context_)
        return;
    const xkb_rule_names names{rules.c_str(), model.c_str(), layout.c_str(), variant.c_str(),
                               options.c_str()};
    std::unique_ptr<xkb_keymap, Unref> keymap(
        xkb_keymap_new_from_names(context_.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap) {
        std::unique_ptr<xkb_state, Unref> current(xkb_state_new(keymap.get()));
        adopt(std::move(keymap), std::move(current));
    }
}

X11KeyTranslator::~X11KeyTranslator() {
    if (connection_ && handlerId_)
        connection_->removeHandler(handlerId_);
}

void X11KeyTranslator::loadFromServer() const {
    xcb_connection_t* xcb = XGetXCBConnection(connection_->display());
    deviceId_ = xkb_x11_get_core_keyboard_device_id(xcb);
    std::unique_ptr<xkb_keymap, Unref> keymap;
    std::unique_ptr<xkb_state, Unref> current;
    if (deviceId_ >= 0)
        keymap.reset(
            xkb_x11_keymap_new_from_device(context_.get(), xcb, deviceId_, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap)
        current.reset(xkb_x11_state_new_from_device(keymap.get(), xcb, deviceId_));
    ++keymapLoads_;
    keymapStale_ = false;
    const bool hadKeymap = keymap_ != nullptr;
    // Keep translating with the previous keymap rather than with none.
    if (!adopt(std::move(keymap), std::move(current)) && hadKeymap)
        std::fprintf(stderr, "lumarex: could not read the new keyboard map; keeping the previous one\n");
}

bool X11KeyTranslator::useKeymap(std::string_view text) {
    if (!context_)
        return false;
    std::unique_ptr<xkb_keymap, Unref> keymap(xkb_keymap_new_from_buffer(
        context_.get(), text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    std::unique_ptr<xkb_state, Unref> current;
    if (keymap)
        current.reset(xkb_state_new(keymap.get()));
    ++keymapLoads_;
    return adopt(std::move(keymap), std::move(current));
}

bool X11KeyTranslator::adopt(std::unique_ptr<xkb_keymap, Unref> keymap,
                             std::unique_ptr<xkb_state, Unref> current) const {
    if (!keymap || !current)
        return false;
    std::unique_ptr<xkb_state, Unref> scratch(xkb_state_new(keymap.get()));
    if (!scratch)
        return false;
    keymap_ = std::move(keymap);
    current_ = std::move(current);
    scratch_ = std::move(scratch);
    return true;
}

void X11KeyTranslator::reloadIfStale() const {
    if (keymapStale_ && connection_)
        loadFromServer();
}

void X11KeyTranslator::handleEvent(XEvent& event) {
    if (event.type == MappingNotify) {
        keymapStale_ = true;
        return;
    }
    if (event.type != xkbEventBase_)
        return;
    const auto& xkb = reinterpret_cast<const XkbEvent&>(event);
    switch (xkb.any.xkb_type) {
    case XkbStateNotify:
        if (current_ && !keymapStale_) {
            const XkbStateNotifyEvent& s = xkb.state;
            xkb_state_update_mask(current_.get(), s.base_mods, s.latched_mods, s.locked_mods,
                                  static_cast<xkb_layout_index_t>(s.base_group),
                                  static_cast<xkb_layout_index_t>(s.latched_group),
                                  static_cast<xkb_layout_index_t>(s.locked_group));
        }
        break;
    case XkbNewKeyboardNotify:
    case XkbMapNotify:
        // A reload also fetches the current state, so state events until then can be dropped.
        keymapStale_ = true;
        break;
    default:
        break;
    }
}

std::optional<TranslatedKey> X11KeyTranslator::translate(std::uint32_t keyCode, std::uint32_t modifierState,
                                                         std::uint32_t keysym) const {
    reloadIfStale();
    // XKB-aware X servers put the keyboard group in bits 13–14 of the state word. A Wayland key event's
    // modifiers carry no group (the compositor sends it apart, to the focused client only), so there the
    // keysym the toolkit resolved with the group tells which layout is active.
    std::uint32_t group = (modifierState >> 13) & 0x3;
    if (group == 0 && keysym != 0)
        group = layoutGiving(keyCode, modifierState & 0xFF, keysym).value_or(0);
    return translateKey(keyCode, modifierState & 0xFF, group);
}

std::optional<std::uint32_t> X11KeyTranslator::layoutGiving(std::uint32_t keyCode, std::uint32_t coreMods,
                                                            std::uint32_t keysym) const {
    if (!keymap_)
        return std::nullopt;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap_.get(), keyCode);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        xkb_state_update_mask(scratch_.get(), coreMods, 0, 0, 0, 0, layout);
        if (xkb_state_key_get_one_sym(scratch_.get(), keyCode) == keysym)
            return layout;
    }
    return std::nullopt;
}

std::optional<TranslatedKey> X11KeyTranslator::translateWithCurrentState(std::uint32_t keyCode) const {
    reloadIfStale();
    if (!current_)
        return std::nullopt;
    // The eight X core modifiers are the first eight of every xkbcommon keymap, in protocol order.
    const auto mods = xkb_state_serialize_mods(current_.get(), XKB_STATE_MODS_EFFECTIVE) & 0xFF;
    const auto group = xkb_state_serialize_layout(current_.get(), XKB_STATE_LAYOUT_EFFECTIVE);
    return translateKey(keyCode, mods, group);
}

std::optional<TranslatedKey> X11KeyTranslator::translateKey(std::uint32_t keyCode, std::uint32_t coreMods,
                                                            std::uint32_t group) const {
    if (!keymap_)
        return std::nullopt;
    TranslatedKey key;
    key.modifierFlags = modifierFlagsFromCore(coreMods);
    if (xkb_keymap_num_layouts_for_key(keymap_.get(), keyCode) == 0)
        return key; // a key with nothing on it: a key-down without characters
    // Resolve the group as the server does, with the keymap's wrapping rules for out-of-range groups.
    xkb_state_update_mask(scratch_.get(), 0, 0, 0, 0, 0, group);
    const xkb_layout_index_t layout = xkb_state_key_get_layout(scratch_.get(), keyCode);
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap_.get(), keyCode,
                                                       layout == XKB_LAYOUT_INVALID ? 0 : layout, 0, &syms);
    const xkb_keysym_t sym = count > 0 ? syms[0] : XKB_KEY_NoSymbol;
    if (isModifierOrLockKey(sym))
        return std::nullopt;
    key.charactersIgnoringModifiers = charactersForKeysym(sym);
    return key;
}
