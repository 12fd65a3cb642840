#pragma once

#include <QObject>

#include <memory>
#include <string>

class QSocketNotifier;
struct wl_display;
struct wl_keyboard;
struct wl_registry;
struct wl_seat;

// The keyboard map a Wayland compositor gives its clients, read on a connection of our own to
// $WAYLAND_DISPLAY: a seat's keyboard, no surface. The constructor waits for the first map (a few round
// trips); later ones (the desktop's layouts changed) arrive on the connection's socket through the event
// loop and are announced by changed(). A keyboard without focus is sent no modifiers or group, so this
// knows the map only, not which of its layouts is active.
// Thread-safety: GUI thread only.
class WaylandKeymap : public QObject {
    Q_OBJECT

  public:
    explicit WaylandKeymap(QObject* parent = nullptr);
    ~WaylandKeymap() override;
    WaylandKeymap(const WaylandKeymap&) = delete;
    WaylandKeymap& operator=(const WaylandKeymap&) = delete;

    // The map in the XKB text format; empty when the compositor sent none.
    const std::string& text() const { return text_; }
    // Why there is no map (no compositor, no keyboard); empty when there is one.
    const QString& problem() const { return problem_; }

  signals:
    void changed();

  private:
    struct Listeners;

    void readEvents();
    void disconnect();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string text_;
    QString problem_;
};
