#pragma once

#include <chrono>

// When captured audio was taken from its device: the moment its last sample was captured, on
// the steady clock the audio server's thread reads (for audio that reached this process late,
// a backlog, as long before its reading as the audio after it lasts). The mixer lines the two
// sources up by it. A default-constructed time means it is not known (the audio follows what
// came before it).
using AudioCaptureClock = std::chrono::steady_clock;
using AudioCaptureTime = AudioCaptureClock::time_point;
