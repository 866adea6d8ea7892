// The number "=reply" reads from an instrument's reply line, and the reading
// itself.
//
// Properties: the reader gives a finite number or nothing, never an infinity
// or a NaN; it agrees with a plain reference (try every position in turn, take
// the first at which the number grammar matches, read that with strtod);
// text before the number that cannot start one changes nothing; and a reading
// pushes that number, or NaN with exactly one more failure and a reason.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "script/calculator.h"

using namespace parlex2;

namespace {

std::optional<double> Reference(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::string number = fuzz::DecimalAt(text, at);
    if (number.empty()) continue;
    const double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  const std::optional<double> read = ReadReplyNumber(text);
  FUZZ_CHECK(read == Reference(text));
  FUZZ_CHECK(ReadReplyNumber("units: " + std::string(text)) == read);

  Calculator calculator;
  calculator.Execute("reply", text);
  if (read) {
    FUZZ_CHECK(calculator.calcStack.x == *read && calculator.failCount == 0);
    FUZZ_CHECK(!calculator.lastCheck);
  } else {
    FUZZ_CHECK(std::isnan(calculator.calcStack.x) && calculator.failCount == 1);
    FUZZ_CHECK(calculator.lastCheck && !calculator.lastCheck->passed &&
               calculator.lastCheck->condition == "reply" && !calculator.lastCheck->reason.empty());
  }
  return 0;
}
