// The script's calculator: any sequence of "=" operations, and the decimal
// reader it takes its numbers with.
//
// Properties: the reader agrees with strtod on the decimal prefix it accepts
// (never hexadecimal, infinity or nan); a reset clears registers and failures
// but keeps the result slots; the fail count only grows between resets.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "script/calculator.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);

  const std::string prefix = fuzz::DecimalAt(text);
  const double read = ParseDecimalPrefix(text);
  FUZZ_CHECK(read == (prefix.empty() ? 0.0 : std::strtod(prefix.c_str(), nullptr)));

  Calculator calculator;
  int lastFails = 0;
  for (const std::string& operation : fuzz::Pieces(text, '\n')) {
    calculator.Execute(operation);
    if (operation == "cleartest") {
      FUZZ_CHECK(calculator.failCount == 0);
    } else {
      FUZZ_CHECK(calculator.failCount >= lastFails);
    }
    lastFails = calculator.failCount;
  }
  const auto slots = calculator.resultSlots;
  calculator.Reset();
  FUZZ_CHECK(calculator.calcStack.x == 0.0 && calculator.calcStack.y == 0.0 &&
             calculator.calcStack.z == 0.0 && calculator.calcStack.t == 0.0);
  FUZZ_CHECK(calculator.failCount == 0 && !calculator.stopOnFail);
  FUZZ_CHECK(std::memcmp(slots.data(), calculator.resultSlots.data(), sizeof slots) == 0);
  return 0;
}
