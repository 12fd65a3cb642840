#pragma once

#include "highlight/CursorHighlightView.h"

#include "platform/HighlightOverlay.h"

#include <QMetaObject>

#include <vector>

class Click;
class CompositorHighlightClient;
class HighlightSettings;

// The highlight as a compositor part draws it (the GNOME Shell extension, the KWin effect): this side
// sends the look, show, hide and the click flag, and sends them all again when the part comes back (a
// compositor restart). Like the drawing view elsewhere, it lowers the click flag 0.3 s after each rise.
// Presses come from the part's reports. A backend whose part needs more state adds it in resendAll().
// Thread-safety: GUI thread only.
class CompositorHighlightOverlay : public HighlightOverlay {
  public:
    // As long as the drawing view holds the click look on X11.
    static constexpr int kClickHoldMs = int(CursorHighlightView::kClickHoldSeconds * 1000);

    CompositorHighlightOverlay(CompositorHighlightClient& client, HighlightSettings& settings, Click& click);
    ~CompositorHighlightOverlay() override;
    CompositorHighlightOverlay(const CompositorHighlightOverlay&) = delete;
    CompositorHighlightOverlay& operator=(const CompositorHighlightOverlay&) = delete;

    void show() override;
    void hide() override;
    bool startWatchingPresses(PressHandler onLeftPress) override;
    void stopWatchingPresses() override;

  protected:
    // Everything the part must know again after it came back; subclasses add their own state.
    virtual void resendAll();
    // Keeps `connection` until destruction.
    void keep(QMetaObject::Connection connection) { connections_.push_back(connection); }
    HighlightSettings& settings() { return settings_; }

  private:
    void sendLook();
    void onClickChanged(bool clicked);

    CompositorHighlightClient& client_;
    HighlightSettings& settings_;
    Click& click_;
    bool shown_ = false;
    std::vector<QMetaObject::Connection> connections_;
    QMetaObject::Connection presses_;
};
