#include "instrument.h"

#include <cstdio>
#include <cstdlib>

#include "binary_encode.h"

namespace parlex2::sim {

namespace {

constexpr unsigned char kDc4 = 0x14;
constexpr unsigned char kEscape = 0x1B;
constexpr int kFirstClockConfig = 240;

// The highest value of each clock field; the lowest is 1 for the day, else 0.
constexpr std::array<int, 6> kClockMaximum = {23, 59, 59, 31, 11, 99};

// "[+-]digits[.digits]": the count of decimals, or -1 when the text is not
// such a number.
int PlainDecimals(std::string_view text) {
  std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  const std::size_t digitsFrom = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i == digitsFrom) return -1;
  if (i == text.size()) return 0;
  if (text[i] != '.') return -1;
  const std::size_t fraction = ++i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i != text.size() || i == fraction) return -1;
  return static_cast<int>(i - fraction);
}

}  // namespace

bool ParseReading(const std::string& text, Reading& reading) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  reading = Reading{};
  reading.command = text.substr(0, equals);
  reading.value = text.substr(equals + 1);
  const std::size_t tilde = reading.value.rfind('~');
  if (tilde == std::string::npos) return true;
  const std::string number = reading.value.substr(0, tilde);
  const std::string amplitude = reading.value.substr(tilde + 1);
  const int decimals = PlainDecimals(number);
  if (decimals < 0) return true;  // a text that holds a "~"
  if (PlainDecimals(amplitude) < 0 || amplitude[0] == '-' || decimals > 15) return false;
  reading.value = number;
  reading.number = std::strtod(number.c_str(), nullptr);
  reading.amplitude = std::strtod(amplitude.c_str(), nullptr);
  reading.decimals = decimals;
  return true;
}

Instrument::Instrument(InstrumentConfig config)
    : config_(std::move(config)),
      bootLoader_(flash_, {config_.ok, config_.refusals}),
      streamRate_(config_.streamRate),
      noise_(config_.seed) {}

void Instrument::NewConnection() {
  line_.clear();
  overflow_ = false;
  bootLoader_.DropPartialLine();
  connectionLines_ = 0;
  closing_ = false;
  soak_ = SoakStream{};  // a soak ends with the client that asked for it
}

Instrument::Reaction Instrument::Receive(std::string_view bytes) {
  Reaction reaction;
  for (char c : bytes) {
    if (closing_) break;
    Byte(static_cast<unsigned char>(c), reaction);
  }
  reaction.close = closing_;
  return reaction;
}

bool Instrument::Muted(bool forLine) const {
  if (config_.personality == Personality::kSilent) return true;
  if (config_.muteAfter < 0) return false;
  // A line's own reply is allowed up to the last line answered; anything else
  // only before it.
  return forLine ? totalLines_ > config_.muteAfter : totalLines_ >= config_.muteAfter;
}

void Instrument::Send(Reaction& reaction, std::string_view line, bool isLine) {
  if (Muted(isLine)) return;
  reaction.send.append(line);
  reaction.send += "\r\n";
}

void Instrument::SendNoise(Reaction& reaction, bool isLine) {
  if (!config_.noise || Muted(isLine)) return;
  reaction.send.append(kNoise, kNoiseLength);
}

void Instrument::CountLine(Reaction& reaction) {
  ++connectionLines_;
  ++totalLines_;
  if (config_.dropAfter > 0 && connectionLines_ >= config_.dropAfter) closing_ = true;
}

void Instrument::Byte(unsigned char byte, Reaction& reaction) {
  if (byte == static_cast<unsigned char>(kBootWakeByte)) {
    line_.clear();
    overflow_ = false;
    inBootLoader_ = true;
    bootLoader_.Start();
    Send(reaction, kBootBanner, false);
    SendNoise(reaction, false);
    return;
  }
  if (inBootLoader_) {
    BootByte(byte, reaction);
    return;
  }
  switch (byte) {
    case 0x00:
    case kDc4:
    case '\r':
      return;
    case kEscape:
      line_.clear();
      overflow_ = false;
      return;
    case '\n': {
      std::string line;
      line.swap(line_);
      if (overflow_) {
        overflow_ = false;
        CountLine(reaction);
        Send(reaction, kUnknownCommand, true);
        return;
      }
      Line(line, reaction);
      return;
    }
    default:
      if (line_.size() < kLineLimit) {
        line_.push_back(static_cast<char>(byte));
      } else {
        overflow_ = true;
      }
  }
}

void Instrument::BootByte(unsigned char byte, Reaction& reaction) {
  BootLoader::Step step = bootLoader_.Feed(byte);
  if (step.lineTaken) CountLine(reaction);
  switch (step.event) {
    case BootLoader::Event::kNone:
      break;
    case BootLoader::Event::kReply:
      Send(reaction, step.reply, true);
      break;
    case BootLoader::Event::kRestartRequested:
      SendNoise(reaction, true);
      break;
    case BootLoader::Event::kRestarted:
      inBootLoader_ = false;
      streaming_ = false;
      reaction.restarted = true;
      SendNoise(reaction, false);
      break;
  }
}

void Instrument::Line(const std::string& line, Reaction& reaction) {
  std::string_view text = line;
  while (text.substr(0, 2) == "^[") text.remove_prefix(2);
  if (text.empty()) return;
  CountLine(reaction);
  if (config_.personality == Personality::kBootcode) {
    if (text == "*IDN?") {
      Send(reaction, kBootcodeSignature, true);
      SendNoise(reaction, true);
    }
    return;
  }
  if (text.starts_with("soak ")) {
    const std::string_view count = text.substr(5);
    if (!count.empty() && count.size() <= 12 &&
        count.find_first_not_of("0123456789") == std::string_view::npos) {
      soak_.Start(std::stoull(std::string(count)));
      return;
    }
  }
  bool noise = false;
  std::string reply = Answer(text, noise);
  Send(reaction, reply, true);
  if (noise) SendNoise(reaction, true);
}

std::string Instrument::ReadingText(const Reading& reading) {
  if (reading.amplitude == 0.0) return reading.value;
  // Evenly over [-1, 1), from the generator's raw output (the same on every
  // platform, unlike the library's distributions).
  const double unit = static_cast<double>(noise_()) / 4294967296.0 * 2.0 - 1.0;
  char text[512];
  std::snprintf(text, sizeof text, "%.*f", reading.decimals,
                reading.number + reading.amplitude * unit);
  return text;
}

std::string Instrument::Answer(std::string_view line, bool& noise) {
  for (const Reading& reading : config_.readings) {
    if (line == reading.command) return ReadingText(reading);
  }
  if (line == "*IDN?") {
    noise = true;
    return config_.idn;
  }
  if (line == "calstr?") return config_.calstr;
  if (line == "calver?") return config_.calver;
  if (line == "version?") return config_.version;
  if (line.substr(0, 7) == "config,") return Config(line.substr(7));
  if (line == "clock?") return ClockText();
  for (const TextMeasurement& m : kMeasurements) {
    if (line == m.command) return m.text;
    if (line == m.binaryCommand) return EncodeBinaryValue(m.value);
  }
  if (line == "meas?") {
    std::string reply;
    for (const TextMeasurement& m : kMeasurements) {
      if (!reply.empty()) reply += ',';
      reply += m.text;
    }
    return reply;
  }
  if (line == "bmeas?") {
    std::string reply;
    for (const TextMeasurement& m : kMeasurements) {
      if (!reply.empty()) reply += ',';
      reply += EncodeBinaryValue(m.value);
    }
    return reply;
  }
  if (line.size() == 5 && line.substr(0, 4) == "bin?" && line[4] >= '0' &&
      line[4] < '0' + static_cast<int>(kBinaryTestValues.size())) {
    const auto& bytes = kBinaryTestValues[line[4] - '0'];
    return std::string(bytes.begin(), bytes.end());
  }
  if (line.starts_with("soak ")) return kBadParameter;  // Line starts a well-formed one
  if (config_.streamRate > 0 && line == "stream on") {
    streaming_ = true;
    streamCount_ = 0;
    return config_.ok;
  }
  if (config_.streamRate > 0 && line.starts_with("stream rate,")) {
    // A new pace for the stream; its numbering goes on.
    const std::string_view digits = line.substr(12);
    int rate = 0;
    for (char c : digits) {
      if (c < '0' || c > '9' || rate > kMaxStreamRate / 10) return kBadParameter;
      rate = rate * 10 + (c - '0');
    }
    if (digits.empty() || rate < 1 || rate > kMaxStreamRate) return kBadParameter;
    streamRate_ = rate;
    return config_.ok;
  }
  if (config_.streamRate > 0 && line == "stream off") {
    streaming_ = false;
    return config_.ok;
  }
  return kUnknownCommand;
}

// "NNN,VV" after "config,": NNN one of 240..245, VV exactly two digits in the
// field's range.
std::string Instrument::Config(std::string_view rest) {
  if (rest.size() != 6 || rest[3] != ',') return kBadParameter;
  auto digit = [&](std::size_t i) { return rest[i] >= '0' && rest[i] <= '9'; };
  for (std::size_t i : {0u, 1u, 2u, 4u, 5u}) {
    if (!digit(i)) return kBadParameter;
  }
  int number = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
  int value = (rest[4] - '0') * 10 + (rest[5] - '0');
  int field = number - kFirstClockConfig;
  if (field < 0 || field >= static_cast<int>(clock_.size())) return kBadParameter;
  int minimum = field == 3 ? 1 : 0;
  if (value < minimum || value > kClockMaximum[field]) return kBadParameter;
  clock_[field] = value;
  return config_.ok;
}

std::string Instrument::ClockText() const {
  auto two = [&](int field) {
    char text[12];  // any int
    if (clock_[field] < 0) return std::string("--");
    std::snprintf(text, sizeof text, "%02d", clock_[field]);
    return std::string(text);
  };
  return two(0) + ":" + two(1) + ":" + two(2) + " " + two(3) + "/" + two(4) + "/" + two(5);
}

std::string Instrument::StreamLine() {
  if (!streaming_ || inBootLoader_ || Muted(false)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "stream,%d,%s\r\n", ++streamCount_, kMeasurements[0].text);
  return text;
}

}  // namespace parlex2::sim
