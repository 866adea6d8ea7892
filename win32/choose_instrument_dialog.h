// "Please Choose Instrument": the instruments the LAN search found, each
// probed with *IDN? so the user can tell them apart. UI thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "link/discovery.h"

namespace parlex2::win32 {

// Probes `found` (descriptions of the answering ones are filled in), then lets
// the user pick one. The chosen entry's index, or nullopt on Cancel.
std::optional<std::size_t> ChooseInstrumentDialog(HWND owner, std::vector<FoundInstrument>& found);

}  // namespace parlex2::win32
