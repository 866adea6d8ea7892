// The instrument's boot loader, entered by the wake byte 0x19. It takes bytes
// as they arrive and answers each command, erase and record with one line:
//
//   "C7D2z" LF        unlocks the loader ("ok"); everything else is refused
//                     until then
//   sector code LF    selects a sector ("C2D7y" is sector 0, see kSectorCodes)
//   "x"               erases the selected sector (no line end of its own)
//   ":..." LF CR LF   programs an Intel HEX record into the selected sector;
//                     the reply comes at the carriage return, so a record sent
//                     without the CR LF the upgrade appends gets no answer
//   "z" LF, 0x15      restarts the instrument
//
// Success is answered with the configured "ok" text, every refusal with a line
// beginning "ERR" (which never ends in "ok"). Zero bytes (sent after every LAN
// write) and DC4 are ignored.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "flash.h"
#include "intel_hex.h"

namespace parlex2::sim {

inline constexpr char kBootWakeByte = 0x19;
inline constexpr char kRestartByte = 0x15;
inline constexpr char kBootAccessCode[] = "C7D2z";
inline constexpr std::array<const char*, Flash::kSectorCount> kSectorCodes = {
    "C2D7y", "D7C2y", "7DC2y", "2C7Dy", "27CDy", "CD72y", "72DCy", "E9A3y",
    "9A3Ey", "A3E9y", "3E9Ay", "E3A9y", "9EA3y", "A9E3y", "39EAy"};

// The sector whose access code is `line`, or -1.
int SectorOfCode(std::string_view line);

// Answer the `record`-th record of a boot session (counted from 1; a record
// sent again right after a refusal keeps its number) `times` times with a
// refusal before accepting it.
struct RecordRefusal {
  int record = 0;
  int times = 0;
};

struct BootLoaderConfig {
  std::string ok = "ok";
  std::vector<RecordRefusal> refusals;
};

class BootLoader {
 public:
  static constexpr std::size_t kLineLimit = 1024;

  enum class Event { kNone, kReply, kRestartRequested, kRestarted };
  struct Step {
    Event event = Event::kNone;
    bool lineTaken = false;  // a command, erase or record was received whole
    std::string reply;       // for kReply, without line end
  };

  BootLoader(Flash& flash, BootLoaderConfig config);

  // The wake byte arrived: locked again, no sector selected, records counted
  // afresh.
  void Start();

  Step Feed(unsigned char byte);

  // Forgets a partly received line (the connection changed).
  void DropPartialLine() {
    line_.clear();
    overflow_ = false;
  }

  int SelectedSector() const { return sector_; }

 private:
  Step Command(const std::string& line);
  Step Record(std::string_view line);
  Step Erase();
  Step Ok() const;
  static Step Refuse(std::string_view why);

  Flash& flash_;
  BootLoaderConfig config_;
  std::string line_;
  bool overflow_ = false;
  bool unlocked_ = false;
  int sector_ = -1;
  HexAddressBase addressBase_;  // each file starts at base 0 after its sector code
  bool restartPending_ = false;
  int recordNumber_ = 0;
  int refusedTimes_ = 0;
  std::string lastRefusedRecord_;
};

}  // namespace parlex2::sim
