#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QSize>

#include <functional>

// A borderless, click-through window floating above ordinary windows. The highlight controller owns
// one and only tells it where to be and what to show; how that reaches the screen is the backend's.
// Thread-safety: GUI thread only.
class OverlaySurface {
  public:
    virtual ~OverlaySurface() = default;

    // Size in device pixels; the content image must have this size.
    virtual QSize size() const = 0;
    virtual void resize(QSize size) = 0;

    // True while the screen can blend translucent pixels (a compositing manager runs). When false the
    // surface is shown through a shape mask and translucency is lost.
    virtual bool isComposited() const = 0;
    // Called on the GUI thread when isComposited() changes, so the content can be drawn anew.
    virtual void setCompositingChangedHandler(std::function<void()> handler) = 0;

    // Premultiplied ARGB32 content; `shape` is the visible region, used only when not composited.
    virtual void setContent(const QImage& image, const QRegion& shape) = 0;

    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void moveTo(QPoint topLeft) = 0;

    // Asks the backend to keep the surface centred on the pointer by itself (60 times a second while the
    // pointer moves, resting while it stands still) until stopFollowingPointer(). False when it cannot;
    // the caller then moves the surface with moveTo().
    virtual bool startFollowingPointer() = 0;
    virtual void stopFollowingPointer() = 0;
};
