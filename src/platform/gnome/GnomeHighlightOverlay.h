#pragma once

#include "platform/compositor/CompositorHighlightOverlay.h"

class GnomeShellExtension;

// The highlight as the Lumarex GNOME Shell extension draws it: the compositor part's overlay, plus the
// toggle shortcut's accelerator, which the extension binds, sent at start, on every change and when the
// extension comes back.
// Thread-safety: GUI thread only.
class GnomeHighlightOverlay : public CompositorHighlightOverlay {
  public:
    GnomeHighlightOverlay(GnomeShellExtension& extension, HighlightSettings& settings, Click& click);

  protected:
    void resendAll() override;

  private:
    void sendShortcut();

    GnomeShellExtension& extension_;
};
