// parlex2-sim: a stand-in for the instrument and its boot loader, for tests
// and for trying the program without hardware.
#include <iostream>

#include "options.h"
#include "server.h"
#include "sim_system.h"

int main(int argc, char** argv) {
  using namespace parlex2::sim;
  SimOptions options;
  int exitCode = ParseSimOptions(argc, argv, options, std::cout, std::cerr);
  if (exitCode >= 0) return exitCode;
  std::string error;
  if (!StartSystem(error)) {
    std::cerr << error << "\n";
    return 1;
  }
  exitCode = RunSimulator(std::move(options));
  StopSystem();
  return exitCode;
}
