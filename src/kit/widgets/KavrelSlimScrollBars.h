#pragma once

class QAbstractScrollArea;

// Thin, rounded scroll bars without arrows or a track, so scrolling content sits cleanly inside
// the windows' rounded boxes in both looks. Every scrolling view of the program wears them.
namespace KavrelSlimScrollBars {

// Restyles both of the area's scroll bars; their policies stay the caller's.
void apply(QAbstractScrollArea *area);

} // namespace KavrelSlimScrollBars
