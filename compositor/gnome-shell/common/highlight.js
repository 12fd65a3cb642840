// The Lumarex highlight inside GNOME Shell, shared by both flavours of the extension: the Lumarex
// application drives it over the session bus (see example.quorvel.Lumarex.Shell1.xml); the Shell draws it
// in its own frames, where the pointer and every press are known.
//
// Each flavour's extension.js is assembled at build time with this text in its middle: the flavour's head
// binds Clutter, Gio, GLib, GObject, Meta, Shell, St and Main in its own module system, and its tail makes
// a Highlight on enable and destroys it on disable. So this text names nothing else from the Shell, and
// where an interface moved between Shell releases it asks which one the running Shell has.

const BUS_NAME = 'example.quorvel.Lumarex.Shell';
const OBJECT_PATH = '/example/quorvel/Lumarex/Shell';
const INTERFACE = 'example.quorvel.Lumarex.Shell1';
const INVALID_ARGS = `${INTERFACE}.Error.InvalidArgs`;
const SHORTCUT_KEY = 'toggle-highlight';

// As the application draws it on X11.
const MIN_SIZE = 10;
const MAX_SIZE = 100;
const MAX_SHORTCUT_LENGTH = 64;
const SPRING_RESPONSE_SECONDS = 0.3;
const SETTLED_VALUE = 1e-3;
const SETTLED_VELOCITY = 1e-2;
// Presses over Wayland clients never reach the stage, so the button state is read at this interval while
// shown and the user is active; not at all while hidden, or once no input has come for PRESS_REST_MS (the
// next input of any kind, a press included, wakes the poll at once).
const PRESS_POLL_MS = 16;
const PRESS_REST_MS = 1000;

const DEFAULT_LOOK = {
    baseColor: '#FF0000', baseOpacity: 0.3, baseSize: 30,
    clickColor: '#FF0000', clickOpacity: 0.6, clickSize: 40,
};

// A critically damped spring evaluated in closed form, so it does not matter how often frames come.
class Spring {
    constructor(response) {
        this._omega = 2 * Math.PI / response;
        this._target = 0;
        this._x0 = 0;
        this._v0 = 0;
        this._t0 = 0;
    }

    _raw(now) {
        const t = Math.max(0, now - this._t0);
        const a = this._x0 - this._target;
        const b = this._v0 + this._omega * a;
        const e = Math.exp(-this._omega * t);
        return [this._target + (a + b * t) * e, (this._v0 - this._omega * b * t) * e];
    }

    isSettled(now) {
        const [x, v] = this._raw(now);
        return Math.abs(x - this._target) < SETTLED_VALUE && Math.abs(v) < SETTLED_VELOCITY;
    }

    value(now) {
        return this.isSettled(now) ? this._target : this._raw(now)[0];
    }

    setTarget(target, now) {
        const settled = this.isSettled(now);
        const [x, v] = this._raw(now);
        this._x0 = settled ? this._target : x;
        this._v0 = settled ? 0 : v;
        this._t0 = now;
        this._target = target;
    }
}

function seconds() {
    return GLib.get_monotonic_time() / 1e6;
}

function isColor(text) {
    return typeof text === 'string' && /^#[0-9A-Fa-f]{6}$/.test(text);
}

function isOpacity(value) {
    return Number.isFinite(value) && value >= 0 && value <= 1;
}

function isSize(value) {
    return Number.isFinite(value) && value >= MIN_SIZE && value <= MAX_SIZE;
}

function circleStyle(color, opacity, size) {
    const [r, g, b] = [1, 3, 5].map(i => parseInt(color.slice(i, i + 2), 16));
    return `width: ${size}px; height: ${size}px; border-radius: ${size / 2}px; ` +
        `background-color: rgba(${r}, ${g}, ${b}, ${opacity});`;
}

// The Shell's interfaces that moved between the releases both flavours cover.
const ShellCompat = {
    // Unredirection moved from free functions on the display (43) to the compositor object (48 has only that).
    disableUnredirect() {
        if (global.compositor?.disable_unredirect)
            global.compositor.disable_unredirect();
        else
            Meta.disable_unredirect_for_display(global.display);
    },

    enableUnredirect() {
        if (global.compositor?.enable_unredirect)
            global.compositor.enable_unredirect();
        else
            Meta.enable_unredirect_for_display(global.display);
    },

    // From the display on 43; from the backend on 48, which has no other way.
    cursorTracker() {
        return global.backend?.get_cursor_tracker?.() ?? Meta.CursorTracker.get_for_display(global.display);
    },

    // Clutter.Container, and with it "actor-added", went away in 46, in favour of the actor's "child-added".
    childAddedSignal(actor) {
        return GObject.signal_lookup('child-added', actor.constructor.$gtype) ? 'child-added' : 'actor-added';
    },
};

class Highlight {
    // metadata: the extension's metadata.json; settings: its GSettings; dir: its folder (a Gio.File).
    constructor(metadata, settings, dir) {
        this._version = metadata['version-name'] ?? '';
        this._look = {...DEFAULT_LOOK};
        this._shown = false;
        this._owner = null;
        this._ownerWatch = 0;
        this._buttonDown = false;
        this._pollId = 0;
        this._idleMonitor = global.backend.get_core_idle_monitor();
        this._idleWatch = 0;
        this._activeWatch = 0;
        this._spring = new Spring(SPRING_RESPONSE_SECONDS);
        this._timeline = null;
        this._signals = [];

        this._actor = new St.Widget({reactive: false, visible: false, layout_manager: new Clutter.BinLayout()});
        this._base = new St.Widget({reactive: false, x_align: Clutter.ActorAlign.CENTER,
            y_align: Clutter.ActorAlign.CENTER});
        this._click = new St.Widget({reactive: false, opacity: 0, x_align: Clutter.ActorAlign.CENTER,
            y_align: Clutter.ActorAlign.CENTER});
        this._actor.add_child(this._base);
        this._actor.add_child(this._click);
        this._applyLook();
        Main.layoutManager.addTopChrome(this._actor, {affectsInputRegion: false, trackFullscreen: false});

        this._settings = settings;
        Main.wm.addKeybinding(SHORTCUT_KEY, this._settings, Meta.KeyBindingFlags.IGNORE_AUTOREPEAT,
            Shell.ActionMode.ALL, () => this._dbus?.emit_signal('ShortcutPressed', null));

        const xml = dir.get_child(`${INTERFACE}.xml`).load_contents(null)[1];
        this._dbus = Gio.DBusExportedObject.wrapJSObject(new TextDecoder().decode(xml), this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    destroy() {
        this._hide();
        Gio.bus_unown_name(this._nameId);
        this._dbus.unexport();
        this._dbus = null;
        Main.wm.removeKeybinding(SHORTCUT_KEY);
        this._settings = null;
        this._actor.destroy();
    }

    // D-Bus methods. Each call names its sender as the highlight's owner, whose leaving hides it.

    SetLookAsync([baseColor, baseOpacity, baseSize, clickColor, clickOpacity, clickSize], invocation) {
        const problems = [];
        if (!isColor(baseColor))
            problems.push(`base colour "${baseColor}" is not #RRGGBB`);
        if (!isColor(clickColor))
            problems.push(`click colour "${clickColor}" is not #RRGGBB`);
        if (!isOpacity(baseOpacity))
            problems.push(`base opacity ${baseOpacity} is not within 0..1`);
        if (!isOpacity(clickOpacity))
            problems.push(`click opacity ${clickOpacity} is not within 0..1`);
        if (!isSize(baseSize))
            problems.push(`base size ${baseSize} is not within ${MIN_SIZE}..${MAX_SIZE}`);
        if (!isSize(clickSize))
            problems.push(`click size ${clickSize} is not within ${MIN_SIZE}..${MAX_SIZE}`);
        if (problems.length > 0) {
            invocation.return_dbus_error(INVALID_ARGS, problems.join('; '));
            return;
        }
        this._look = {baseColor, baseOpacity, baseSize, clickColor, clickOpacity, clickSize};
        this._applyLook();
        invocation.return_value(null);
    }

    SetShortcutAsync([accelerator], invocation) {
        if (accelerator.length > MAX_SHORTCUT_LENGTH) {
            invocation.return_dbus_error(INVALID_ARGS, `the accelerator is longer than ${MAX_SHORTCUT_LENGTH}`);
            return;
        }
        this._settings.set_strv(SHORTCUT_KEY, accelerator ? [accelerator] : []);
        invocation.return_value(null);
    }

    ShowAsync(_params, invocation) {
        this._watchOwner(invocation.get_sender());
        this._show();
        invocation.return_value(null);
    }

    HideAsync(_params, invocation) {
        this._hide();
        invocation.return_value(null);
    }

    SetClickedAsync([clicked], invocation) {
        this._spring.setTarget(clicked ? 1 : 0, seconds());
        this._animateClick();
        invocation.return_value(null);
    }

    get Version() {
        return this._version;
    }

    get Shown() {
        return this._shown;
    }

    _applyLook() {
        const look = this._look;
        this._base.style = circleStyle(look.baseColor, look.baseOpacity, look.baseSize);
        this._click.style = circleStyle(look.clickColor, look.clickOpacity, look.clickSize);
        const scale = St.ThemeContext.get_for_stage(global.stage).scale_factor;
        this._extent = Math.max(look.baseSize, look.clickSize) * scale;
        this._actor.set_size(this._extent, this._extent);
        if (this._shown)
            this._follow();
    }

    _follow() {
        const [x, y] = global.get_pointer();
        this._actor.set_position(Math.round(x - this._extent / 2), Math.round(y - this._extent / 2));
    }

    _show() {
        if (!this._shown) {
            this._shown = true;
            ShellCompat.disableUnredirect();
            const tracker = ShellCompat.cursorTracker();
            this._signals.push([tracker, tracker.connect('position-invalidated', () => this._follow())]);
            // Chrome added later lands above; the highlight stays on top.
            const group = this._actor.get_parent();
            this._signals.push([group, group.connect(ShellCompat.childAddedSignal(group),
                () => group.set_child_above_sibling(this._actor, null))]);
            this._buttonDown = this._leftButtonDown();
            this._startPolling();
            this._idleWatch = this._idleMonitor.add_idle_watch(PRESS_REST_MS, () => this._restPolling());
            this._actor.show();
            this._dbus.emit_property_changed('Shown', new GLib.Variant('b', true));
        }
        this._actor.get_parent().set_child_above_sibling(this._actor, null);
        this._follow();
    }

    _hide() {
        this._unwatchOwner();
        if (!this._shown)
            return;
        this._shown = false;
        for (const [object, id] of this._signals)
            object.disconnect(id);
        this._signals = [];
        this._idleMonitor.remove_watch(this._idleWatch);
        this._idleWatch = 0;
        if (this._activeWatch)
            this._idleMonitor.remove_watch(this._activeWatch);
        this._activeWatch = 0;
        this._stopPolling();
        this._stopTimeline();
        this._actor.hide();
        ShellCompat.enableUnredirect();
        this._dbus?.emit_property_changed('Shown', new GLib.Variant('b', false));
    }

    _leftButtonDown() {
        return (global.get_pointer()[2] & Clutter.ModifierType.BUTTON1_MASK) !== 0;
    }

    _startPolling() {
        if (!this._pollId)
            this._pollId = GLib.timeout_add(GLib.PRIORITY_HIGH, PRESS_POLL_MS, () => this._pollButton());
    }

    _stopPolling() {
        if (this._pollId)
            GLib.source_remove(this._pollId);
        this._pollId = 0;
    }

    // No input for a while: the poll stops until the next input, which is read at once (it may be the
    // press itself).
    _restPolling() {
        this._stopPolling();
        if (this._activeWatch)
            return;
        this._activeWatch = this._idleMonitor.add_user_active_watch(() => {
            this._activeWatch = 0;
            if (!this._shown)
                return;
            this._pollButton();
            this._startPolling();
        });
    }

    _pollButton() {
        const down = this._leftButtonDown();
        if (down && !this._buttonDown) {
            const [x, y] = global.get_pointer();
            this._dbus.emit_signal('LeftPressed', new GLib.Variant('(dd)', [x, y]));
        }
        this._buttonDown = down;
        return GLib.SOURCE_CONTINUE;
    }

    // The Shell's own easing is switched off under software rendering, so the spring runs on a timeline
    // of its own, which ticks with the stage's frames only while the click circle moves.
    _animateClick() {
        if (!this._shown) {
            this._click.opacity = Math.round(255 * this._spring.value(seconds()));
            return;
        }
        if (this._timeline)
            return;
        this._timeline = new Clutter.Timeline({actor: this._click, duration: 1000, repeat_count: -1});
        this._timeline.connect('new-frame', () => {
            const now = seconds();
            this._click.opacity = Math.round(255 * Math.min(1, Math.max(0, this._spring.value(now))));
            if (this._spring.isSettled(now))
                this._stopTimeline();
        });
        this._timeline.start();
    }

    _stopTimeline() {
        if (!this._timeline)
            return;
        this._timeline.stop();
        this._timeline = null;
        this._click.opacity = Math.round(255 * this._spring.value(seconds()));
    }

    _watchOwner(sender) {
        if (sender === this._owner)
            return;
        this._unwatchOwner();
        this._owner = sender;
        this._ownerWatch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
            Gio.BusNameWatcherFlags.NONE, null, () => this._hide());
    }

    _unwatchOwner() {
        if (this._ownerWatch)
            Gio.bus_unwatch_name(this._ownerWatch);
        this._ownerWatch = 0;
        this._owner = null;
    }
}
