#pragma once

class QAbstractScrollArea;

// Thin, rounded scroll bars without arrows or a track, so a scrolling text sits cleanly
// inside the window's rounded boxes in both looks.
namespace SlimScrollBars {
void apply(QAbstractScrollArea *area);
} // namespace SlimScrollBars
