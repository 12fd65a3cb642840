#include "support/ScreenGrabber.h"

#include "support/XConnection.h"

#include <QImage>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};

// Position of the lowest set bit and the width of a channel mask, for visuals of any layout.
int shiftOf(unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1UL)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

int channel(unsigned long pixel, unsigned long mask) {
    const int shift = shiftOf(mask);
    const unsigned long max = mask >> shift;
    if (max == 0) {
        return 0;
    }
    return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
}

} // namespace

ScreenImage ScreenGrabber::grab(int x, int y, int width, int height) const {
    Display* display = connection_.display();
    std::unique_ptr<XImage, ImageDeleter> image(XGetImage(display, connection_.root(), x, y,
                                                          static_cast<unsigned>(width),
                                                          static_cast<unsigned>(height), AllPlanes, ZPixmap));
    if (!image) {
        throw std::runtime_error("XGetImage failed");
    }
    ScreenImage result{x, y, width, height, {}};
    result.pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long value = XGetPixel(image.get(), column, row);
            result.pixels.push_back({channel(value, image->red_mask), channel(value, image->green_mask),
                                     channel(value, image->blue_mask)});
        }
    }
    return result;
}

ScreenImage ScreenGrabber::grabAll() const {
    return grab(0, 0, connection_.screenWidth(), connection_.screenHeight());
}

Rgb ScreenGrabber::pixel(int x, int y) const {
    return grab(x, y, 1, 1).pixels.front();
}

bool ScreenGrabber::savePng(const std::string& path) const {
    const ScreenImage screen = grabAll();
    QImage image(screen.width, screen.height, QImage::Format_RGB32);
    for (int row = 0; row < screen.height; ++row) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int column = 0; column < screen.width; ++column) {
            const Rgb c = screen.pixels[static_cast<size_t>(row * screen.width + column)];
            line[column] = qRgb(c.r, c.g, c.b);
        }
    }
    return image.save(QString::fromStdString(path), "PNG");
}

} // namespace testsupport
