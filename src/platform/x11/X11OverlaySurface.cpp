#include "platform/x11/X11OverlaySurface.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11PointerTracker.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <cstdio>
#include <string>
#include <vector>

X11OverlaySurface::X11OverlaySurface(X11Connection& connection, QSize size, X11PointerTracker* tracker)
    : connection_(connection), tracker_(tracker), size_(size) {
    Display* display = connection_.display();
    const int screen = connection_.screen();
    const Window root = connection_.rootWindow();

    XVisualInfo info;
    argb_ = XMatchVisualInfo(display, screen, 32, TrueColor, &info) != 0;
    Visual* visual = argb_ ? info.visual : DefaultVisual(display, screen);
    visual_ = visual;
    depth_ = argb_ ? 32 : DefaultDepth(display, screen);
    colormap_ = XCreateColormap(display, root, visual, AllocNone);
    createWindow();

    const std::string selection = "_NET_WM_CM_S" + std::to_string(screen);
    compositorSelection_ = XInternAtom(display, selection.c_str(), False);
    if (connection_.xfixesEventBase() >= 0)
        XFixesSelectSelectionInput(display, root, compositorSelection_,
                                   XFixesSetSelectionOwnerNotifyMask |
                                       XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    composited_ = compositorRunning();
    if (!composited_)
        std::fprintf(stderr, "lumarex: no compositing manager is running; the highlight is drawn without "
                             "translucency\n");

    handlerId_ = connection_.addHandler([this](XEvent& event) { handleEvent(event); });
    errorHandlerId_ = connection_.addErrorHandler([this](const X11Connection::Error& error) {
        if (error.code != BadWindow && error.code != BadDrawable)
            return false;
        if (error.resource == window_)
            gone_ = true;
        return error.resource == window_ || error.resource == goneWindow_;
    });
    applyShape();
    connection_.flush();
}

void X11OverlaySurface::createWindow() {
    Display* display = connection_.display();
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.colormap = colormap_;
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;
    attributes.event_mask = ExposureMask;
    window_ = XCreateWindow(display, connection_.rootWindow(), 0, 0, size_.width(), size_.height(), 0, depth_,
                            InputOutput, static_cast<Visual*>(visual_),
                            CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel | CWEventMask,
                            &attributes);
    gc_ = XCreateGC(display, window_, 0, nullptr);

    XStoreName(display, window_, "Lumarex highlight");
    XClassHint classHint;
    char name[] = "lumarex";
    char className[] = "Lumarex";
    classHint.res_name = name;
    classHint.res_class = className;
    XSetClassHint(display, window_, &classHint);

    // Input passes through to whatever lies beneath.
    if (connection_.xfixesEventBase() >= 0) {
        XserverRegion empty = XFixesCreateRegion(display, nullptr, 0);
        XFixesSetWindowShapeRegion(display, window_, ShapeInput, 0, 0, empty);
        XFixesDestroyRegion(display, empty);
    }
}

X11OverlaySurface::~X11OverlaySurface() {
    stopFollowingPointer();
    connection_.removeHandler(handlerId_);
    Display* display = connection_.display();
    XFreeGC(display, gc_);
    if (!gone_)
        XDestroyWindow(display, window_);
    XFreeColormap(display, colormap_);
    // Errors about our windows may still be on their way.
    XSync(display, False);
    connection_.removeErrorHandler(errorHandlerId_);
}

// One round trip, at a show: a window another client destroyed while we did not look is found here.
bool X11OverlaySurface::windowExists() {
    XWindowAttributes attributes;
    const bool answered = XGetWindowAttributes(connection_.display(), window_, &attributes) != 0;
    return answered && !gone_;
}

bool X11OverlaySurface::compositorRunning() const {
    return argb_ && XGetSelectionOwner(connection_.display(), compositorSelection_) != None;
}

void X11OverlaySurface::setCompositingChangedHandler(std::function<void()> handler) {
    compositingChanged_ = std::move(handler);
}

void X11OverlaySurface::resize(QSize size) {
    if (size == size_)
        return;
    size_ = size;
    if (gone_)
        return;
    XResizeWindow(connection_.display(), window_, size_.width(), size_.height());
    connection_.flush();
    if (following_)
        tracker_->follow(window_, size_.width(), size_.height());
}

void X11OverlaySurface::setContent(const QImage& image, const QRegion& shape) {
    image_ = image;
    shape_ = shape;
    if (gone_)
        return;
    applyShape();
    putImage();
    connection_.flush();
}

void X11OverlaySurface::show() {
    if (!windowExists()) {
        std::fprintf(stderr,
                     "lumarex: the highlight window was destroyed by another program; making a new one\n");
        Display* display = connection_.display();
        goneWindow_ = window_;
        XFreeGC(display, gc_);
        createWindow();
        gone_ = false;
        applyShape();
        if (following_)
            tracker_->follow(window_, size_.width(), size_.height());
    }
    XMapRaised(connection_.display(), window_);
    mapped_ = true;
    putImage();
    connection_.flush();
}

void X11OverlaySurface::hide() {
    if (gone_) {
        mapped_ = false;
        return;
    }
    XUnmapWindow(connection_.display(), window_);
    mapped_ = false;
    connection_.flush();
}

void X11OverlaySurface::moveTo(QPoint topLeft) {
    if (gone_)
        return;
    Display* display = connection_.display();
    XMoveWindow(display, window_, topLeft.x(), topLeft.y());
    // Nothing manages an override-redirect window's stacking: stay above windows mapped since.
    XRaiseWindow(display, window_);
    XFlush(display);
}

bool X11OverlaySurface::startFollowingPointer() {
    if (!tracker_ || !tracker_->isRunning())
        return false;
    following_ = true;
    tracker_->follow(window_, size_.width(), size_.height());
    return true;
}

void X11OverlaySurface::stopFollowingPointer() {
    if (!following_)
        return;
    following_ = false;
    tracker_->stopFollowing();
}

void X11OverlaySurface::applyShape() {
    Display* display = connection_.display();
    if (composited_) {
        XShapeCombineMask(display, window_, ShapeBounding, 0, 0, None, ShapeSet);
        return;
    }
    std::vector<XRectangle> rectangles;
    rectangles.reserve(shape_.rectCount());
    for (const QRect& rect : shape_)
        rectangles.push_back({static_cast<short>(rect.x()), static_cast<short>(rect.y()),
                              static_cast<unsigned short>(rect.width()),
                              static_cast<unsigned short>(rect.height())});
    XShapeCombineRectangles(display, window_, ShapeBounding, 0, 0, rectangles.data(),
                            static_cast<int>(rectangles.size()), ShapeSet, YXBanded);
}

void X11OverlaySurface::putImage() {
    if (!mapped_ || gone_ || image_.isNull())
        return;
    Display* display = connection_.display();
    // The image's bytes are premultiplied ARGB in native order, which is what a 32-bit TrueColor
    // visual (and the usual 24-bit one, padded to 32 bits) expects.
    XImage* ximage =
        XCreateImage(display, static_cast<Visual*>(visual_), depth_, ZPixmap, 0,
                     reinterpret_cast<char*>(const_cast<uchar*>(image_.constBits())), image_.width(),
                     image_.height(), 32, static_cast<int>(image_.bytesPerLine()));
    if (!ximage)
        return;
    XPutImage(display, window_, gc_, ximage, 0, 0, 0, 0, image_.width(), image_.height());
    ximage->data = nullptr; // the pixels belong to image_
    XDestroyImage(ximage);
}

void X11OverlaySurface::handleEvent(XEvent& event) {
    if (event.type == Expose && event.xexpose.window == window_) {
        if (event.xexpose.count == 0)
            putImage();
        return;
    }
    const int fixesBase = connection_.xfixesEventBase();
    if (fixesBase >= 0 && event.type == fixesBase + XFixesSelectionNotify) {
        const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
        if (notify.selection != compositorSelection_)
            return;
        const bool composited = compositorRunning();
        if (composited == composited_)
            return;
        composited_ = composited;
        std::fprintf(stderr, composited
                                 ? "lumarex: a compositing manager started; drawing with translucency\n"
                                 : "lumarex: the compositing manager stopped; drawing without "
                                   "translucency\n");
        applyShape();
        if (compositingChanged_)
            compositingChanged_();
        connection_.flush();
    }
}
