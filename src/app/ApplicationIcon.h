#pragma once

#include <QIcon>
#include <QImage>
#include <QList>

// The application icon (named product::appId), drawn from the one SVG artwork in the resources: the About
// panel, the window and tray icons, and (through the lumarex-icons build tool) the installed hicolor PNGs.
// Thread-safety: image() may be called from any thread once the resources are registered; icon() on the
// GUI thread.
class ApplicationIcon {
  public:
    // The artwork at `size` × `size` pixels; a null image when the artwork is missing.
    static QImage image(int size);
    // Pixmaps at the usual icon sizes, so each place gets a sharp one.
    static QIcon icon();
    static QList<int> standardSizes();
};
