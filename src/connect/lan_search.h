// The Connect dialog's LAN search: find instruments by broadcast, then probe
// each found address with *IDN? over a short-lived link of its own, so the
// user can pick one from a list of addresses and identities.
//
// Runs on the UI thread; the search takes about two seconds and each probe up
// to about 2.5 s for an address that does not answer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/discovery.h"
#include "link/instrument_link.h"

namespace parlex2 {

class UserInterface;

// One row of the choice list: "address\treply" or "address\tConnection Failed n"
// (the tab separates the two columns), carrying the index of its entry.
struct ProbeRow {
  std::size_t entryIndex;
  std::string text;
};

struct ProbeResult {
  std::vector<ProbeRow> rows;
  // With exactly one row, the list starts with it selected and focused.
  bool selectFirst = false;
};

// Probes every entry of `found` in order: opens a LAN link to it, sends
// *IDN? and reads one reply with the program-wide LAN time-out at 500 ms
// (put back to 5000 ms afterwards). A reply with a comma is stored in the
// entry's description. Rows: "Connection Failed 1" when no TCP connection was
// made, "Connection Failed 2" when no reply came, "Connection Failed 3" for a
// reply without a comma. `factory` replaces how the probe link opens (tests).
ProbeResult ProbeFoundInstruments(UserInterface& ui, std::vector<FoundInstrument>& found,
                                  const InstrumentLink::TransportFactory& factory = {});

// Finds instruments into `list`; returns how many. LanFindInstruments in the
// program, a stand-in in tests.
using InstrumentFinder = std::function<int(std::vector<FoundInstrument>& list)>;
// Lets the user pick one of `found` (probing them first); the chosen entry's
// index, or nullopt when cancelled.
using InstrumentChooser =
    std::function<std::optional<std::size_t>(std::vector<FoundInstrument>& found)>;

// The search button: with the wait cursor shown, finds instruments; with none,
// tells the user "No Instruments found on this subnet" (caption "LAN Find
// Instrument"); otherwise asks `choose` and returns the chosen address for the
// IP address control.
std::optional<std::string> SearchLan(UserInterface& ui, const InstrumentChooser& choose,
                                     const InstrumentFinder& find = {});

}  // namespace parlex2
