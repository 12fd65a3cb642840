#pragma once

#include "platform/OverlaySurface.h"

class X11Connection;
class X11PointerTracker;
struct _XGC;

// The overlay as a plain override-redirect X window on our own connection: 32-bit ARGB when the
// server offers such a visual, empty input region (clicks fall through), content put with XPutImage,
// moved with XMoveWindow, or kept on the pointer by the pointer tracker's thread when one is given. It
// watches the compositing-manager selection and, while no compositor runs, clips itself to the content's
// shape so that transparent pixels do not show as black. A window destroyed by another client is made
// anew at the next show.
// Thread-safety: GUI thread only.
class X11OverlaySurface : public OverlaySurface {
  public:
    X11OverlaySurface(X11Connection& connection, QSize size, X11PointerTracker* tracker = nullptr);
    ~X11OverlaySurface() override;
    X11OverlaySurface(const X11OverlaySurface&) = delete;
    X11OverlaySurface& operator=(const X11OverlaySurface&) = delete;

    QSize size() const override { return size_; }
    void resize(QSize size) override;
    bool isComposited() const override { return composited_; }
    void setCompositingChangedHandler(std::function<void()> handler) override;
    void setContent(const QImage& image, const QRegion& shape) override;
    void show() override;
    void hide() override;
    void moveTo(QPoint topLeft) override;
    bool startFollowingPointer() override;
    void stopFollowingPointer() override;

    unsigned long windowId() const { return window_; }

  private:
    void createWindow();
    bool windowExists();
    void handleEvent(union _XEvent& event);
    bool compositorRunning() const;
    void applyShape();
    void putImage();

    X11Connection& connection_;
    X11PointerTracker* tracker_;
    QSize size_;
    unsigned long window_ = 0;
    // The window another client destroyed; late errors about it are expected.
    unsigned long goneWindow_ = 0;
    unsigned long colormap_ = 0;
    unsigned long compositorSelection_ = 0;
    void* visual_ = nullptr; // Visual*, an unnamed struct in Xlib that cannot be declared here
    int depth_ = 0;
    _XGC* gc_ = nullptr;
    int handlerId_ = 0;
    int errorHandlerId_ = 0;
    bool argb_ = false;
    bool composited_ = false;
    bool mapped_ = false;
    bool gone_ = false;
    bool following_ = false;
    QImage image_;
    QRegion shape_;
    std::function<void()> compositingChanged_;
};
