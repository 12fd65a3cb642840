// The plugin KWin loads: its metadata and the factory that makes the effect.
#include "HighlightEffect.h"

KWIN_EFFECT_FACTORY_SUPPORTED(HighlightEffect, "metadata.json", return HighlightEffect::supported();)

#include "EffectPlugin.moc"
