// The simulator's time, counted from StartClock: the transcript's stamps and
// the pacing of replies and of the measurement stream.
#pragma once

#include <cstdint>

namespace parlex2::sim {

// Makes now the time 0 (the first call to any of these does so too).
void StartClock();
std::uint64_t NowMs();
std::uint64_t NowUs();

}  // namespace parlex2::sim
