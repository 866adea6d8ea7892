#include "common/debug_output.h"

#include <atomic>

namespace parlex2 {
namespace {

std::atomic<DebugOutputSink> sink{nullptr};

}  // namespace

void DebugOutput(std::string_view text) {
  const DebugOutputSink current = sink.load();
  if (current) {
    current(text);
  } else {
    SystemDebugOutput(text);
  }
}

void SetDebugOutputSink(DebugOutputSink newSink) { sink.store(newSink); }

}  // namespace parlex2
