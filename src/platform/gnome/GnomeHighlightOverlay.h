#pragma once

#include "highlight/CursorHighlightView.h"

#include "platform/HighlightOverlay.h"

#include <QMetaObject>

#include <vector>

class Click;
class GnomeShellExtension;
class HighlightSettings;

// The highlight as the Lumarex GNOME Shell extension draws it: this side sends the look, the toggle
// shortcut's accelerator, show, hide and the click flag, and sends them all again when the extension
// comes back (a Shell restart). Like the drawing view elsewhere, it lowers the click flag 0.3 s after
// each rise. Presses come from the extension's reports.
// Thread-safety: GUI thread only.
class GnomeHighlightOverlay : public HighlightOverlay {
  public:
    // As long as the drawing view holds the click look on X11.
    static constexpr int kClickHoldMs = int(CursorHighlightView::kClickHoldSeconds * 1000);

    GnomeHighlightOverlay(GnomeShellExtension& extension, HighlightSettings& settings, Click& click);
    ~GnomeHighlightOverlay() override;
    GnomeHighlightOverlay(const GnomeHighlightOverlay&) = delete;
    GnomeHighlightOverlay& operator=(const GnomeHighlightOverlay&) = delete;

    void show() override;
    void hide() override;
    bool startWatchingPresses(PressHandler onLeftPress) override;
    void stopWatchingPresses() override;

  private:
    void sendLook();
    void sendShortcut();
    void sendAll();
    void onClickChanged(bool clicked);

    GnomeShellExtension& extension_;
    HighlightSettings& settings_;
    Click& click_;
    bool shown_ = false;
    std::vector<QMetaObject::Connection> connections_;
    QMetaObject::Connection presses_;
};
