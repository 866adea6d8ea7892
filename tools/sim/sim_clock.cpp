#include "sim_clock.h"

#include <chrono>

namespace parlex2::sim {
namespace {

std::chrono::steady_clock::time_point Start() {
  static const auto start = std::chrono::steady_clock::now();
  return start;
}

}  // namespace

void StartClock() { Start(); }

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - Start())
                                        .count());
}

std::uint64_t NowUs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - Start())
                                        .count());
}

}  // namespace parlex2::sim
