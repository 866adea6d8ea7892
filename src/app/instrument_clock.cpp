#include "app/instrument_clock.h"

#include <cstdio>

#include "link/instrument_link.h"

namespace parlex2 {

std::vector<std::string> InstrumentClockCommands(const LocalTime& time) {
  // The instrument keeps its month counted from 0 and a two-digit year.
  const int fields[] = {time.hour, time.minute,    time.second,
                        time.day,  time.month - 1, ((time.year % 100) + 100) % 100};
  std::vector<std::string> commands;
  for (int i = 0; i < 6; ++i) {
    char command[32];
    std::snprintf(command, sizeof command, "config,%d,%02d\n", 240 + i, fields[i]);
    commands.emplace_back(command);
  }
  return commands;
}

bool SetInstrumentDateTime(InstrumentLink& link) {
  bool sent = true;
  for (const auto& command : InstrumentClockCommands(link.clock().Now())) {
    sent = link.Write(command) == TransportStatus::Ok && sent;
  }
  return sent;
}

}  // namespace parlex2
