#pragma once

#include "platform/compositor/CompositorHighlightOverlay.h"

class KGlobalAccelShortcut;

// The highlight as the Lumarex KWin effect draws it: the compositor part's overlay, plus the toggle
// shortcut, which follows the settings into Plasma's global-shortcut service.
// Thread-safety: GUI thread only.
class KdeHighlightOverlay : public CompositorHighlightOverlay {
  public:
    KdeHighlightOverlay(CompositorHighlightClient& effect, KGlobalAccelShortcut& shortcut,
                        HighlightSettings& settings, Click& click);
};
