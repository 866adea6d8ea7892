// Setting the instrument's clock from the computer's: six configuration
// commands, one per field, sent back to back without waiting for replies.
#pragma once

#include <string>
#include <vector>

#include "common/clock.h"

namespace parlex2 {

class InstrumentLink;

// The six commands for `time`, in the order the instrument takes them: hour,
// minute, second, day of month, month counted from 0, year modulo 100, each as
// "config,24n,%02d\n".
std::vector<std::string> InstrumentClockCommands(const LocalTime& time);

// Reads the local clock once and sends the six commands over `link`, all of
// them whatever becomes of one. False when one of them could not be sent (the
// window does not look: a broken link shows at its next exchange).
bool SetInstrumentDateTime(InstrumentLink& link);

}  // namespace parlex2
