// The simulator's event loop: serves the simulated instrument on a TCP port
// and/or a pseudo-terminal, answers the discovery enquiries, keeps the
// transcript and writes the flash. One loop moves the bytes (through
// common/sockets.h and sim_system.h, so it runs on POSIX and Windows alike);
// instrument.h answers them, stream_pacer.h and baud_pacer.h time them,
// transcript.h and flash_file.h write the files.
#pragma once

#include "options.h"

namespace parlex2::sim {

// Runs until StopHandle() becomes readable; prints the endpoints and then
// "ready" on standard output, errors on standard error. Returns the exit
// code: 0 after a clean stop, 1 when an endpoint or file could not be opened
// or the pseudo-terminal could not be made again. StartSystem must have
// succeeded.
int RunSimulator(SimOptions options);

}  // namespace parlex2::sim
