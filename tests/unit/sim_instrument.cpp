// The simulated instrument's command interpreter, identity, binary values and
// fault options, fed with the bytes the program sends.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "common/text.h"
#include "link/binary_value.h"
#include "sim/binary_encode.h"
#include "sim/instrument.h"
#include "sim/intel_hex.h"

namespace parlex2::sim {
namespace {

// Over TCP every send is followed by a zero byte.
std::string Lan(std::string_view command) { return std::string(command) + '\0'; }

double Decode(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  return BinaryValueToText(data, nullptr);
}

TEST(SimInstrument, WakeSequencesAndLineEndsAreIgnoredOverBothLinks) {
  Instrument instrument({});
  const std::string idn = std::string(kDefaultIdn) + "\r\n";
  // What Open and the identification send over TCP, and over a COM port.
  EXPECT_EQ(instrument.Receive(Lan("\x14") + Lan("\x14") + Lan("^[") + Lan("*IDN?\n")).send, idn);
  EXPECT_EQ(instrument.Receive("\x14\x14^[*IDN?\n").send, idn);
  EXPECT_EQ(instrument.Receive("*IDN?\r\n").send, idn);
  // Split anywhere, the command is still one command.
  EXPECT_EQ(instrument.Receive("*ID").send, "");
  EXPECT_EQ(instrument.Receive("N?").send, "");
  EXPECT_EQ(instrument.Receive("\n").send, idn);
  // Empty lines and a typed ^[ (escape, line feed) get no answer.
  EXPECT_EQ(instrument.Receive("\n\r\n\x1B\n^[\n").send, "");
  // Escape discards what was typed before it.
  EXPECT_EQ(instrument.Receive("volt\x1B*IDN?\n").send, idn);
}

TEST(SimInstrument, DefaultIdentityReadsAsTheProgramReadsIt) {
  Instrument instrument({});
  auto reply = [&](const char* command) {
    std::string text = instrument.Receive(Lan(command)).send;
    EXPECT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << command;
    return text.substr(0, text.size() - 2);
  };
  auto idn = SplitText(reply("*IDN?\n"), ',');
  ASSERT_GE(idn.size(), 3u);
  EXPECT_EQ(idn[1], "VXM66");  // a calibration-checked model
  EXPECT_EQ(idn[2], "10472");

  auto calstr = SplitText(SplitText(reply("calstr?\n"), ',').at(0), '_');
  ASSERT_EQ(calstr.size(), 3u);
  EXPECT_EQ(calstr[1], "SEP");
  EXPECT_EQ(AtoI(calstr[2]), 2026);
  EXPECT_EQ(SplitText(reply("calver?\n"), '_').size(), 3u);

  auto version = SplitText(reply("version?\n"), ',');
  ASSERT_EQ(version.size(), 6u);  // type, main, FPGA, DSP and BOOT releases after field 0
  EXPECT_EQ(AtoI(version[2]), 215);
}

TEST(SimInstrument, BootcodeModeAnswersOnlyIdnWithTheSignatureSilentModeNothing) {
  InstrumentConfig config;
  config.personality = Personality::kBootcode;
  Instrument instrument(config);
  std::string reply = instrument.Receive(Lan("\x14") + Lan("^[") + Lan("*IDN?\n")).send;
  ASSERT_GE(reply.size(), 2u);
  std::string text = reply.substr(0, reply.size() - 2);
  EXPECT_EQ(text.find(','), std::string::npos);
  EXPECT_GT(text.size(), 8u);
  EXPECT_EQ(text.substr(7, 16), ":    32 32 32 32");
  EXPECT_EQ(instrument.Receive("calstr?\ncalver?\nversion?\nvolt?\nbogus\n").send, "");
  // Its boot loader works.
  std::string boot = instrument.Receive(Lan("\x19") + Lan("C7D2z\n")).send;
  EXPECT_EQ(boot, std::string(kBootBanner) + "\r\nok\r\n");

  // Silent mode answers nothing anywhere.
  config.personality = Personality::kSilent;
  Instrument silent(config);
  EXPECT_EQ(silent.Receive(std::string("*IDN?\nbogus\n\x19") + "C7D2z\n").send, "");
}

TEST(SimInstrument, UnknownAndMalformedCommandsGetAnErrorLine) {
  Instrument instrument({});
  for (const char* command :
       {"bogus\n", "*idn?\n", "IDN?\n", " *IDN?\n", "\x03\n", "bin?7\n", "bin?\n", "stream on\n"}) {
    EXPECT_EQ(instrument.Receive(command).send, std::string(kUnknownCommand) + "\r\n") << command;
  }
  // An overlong line is one error, and the next command is answered.
  std::string flood(100000, 'A');
  EXPECT_EQ(instrument.Receive(flood + "\n*IDN?\n").send,
            std::string(kUnknownCommand) + "\r\n" + kDefaultIdn + "\r\n");
}

TEST(SimInstrument, ClockCommandsAreCheckedRecordedAndAnswered) {
  Instrument instrument({});
  std::string sent =
      "config,240,09\nconfig,241,05\nconfig,242,07\n"
      "config,243,03\nconfig,244,02\nconfig,245,25\n";
  EXPECT_EQ(instrument.Receive(sent).send, "ok\r\nok\r\nok\r\nok\r\nok\r\nok\r\n");
  std::array<int, 6> expected = {9, 5, 7, 3, 2, 25};
  EXPECT_EQ(instrument.ClockFields(), expected);
  EXPECT_EQ(instrument.Receive("clock?\n").send, "09:05:07 03/02/25\r\n");
  for (const char* bad :
       {"config,240,24\n", "config,241,60\n", "config,243,00\n", "config,243,32\n",
        "config,244,12\n", "config,246,01\n", "config,239,01\n", "config,240,9\n",
        "config,240,009\n", "config,240,\n", "config,24a,01\n"}) {
    EXPECT_EQ(instrument.Receive(bad).send, std::string(kBadParameter) + "\r\n") << bad;
  }
  EXPECT_EQ(instrument.ClockFields(), expected);
  EXPECT_EQ(instrument.Receive("config,244,11\nconfig,243,31\n").send, "ok\r\nok\r\n");
}

TEST(SimInstrument, MeasurementsAnswerAsTextAndAsBinaryValues) {
  Instrument instrument({});
  EXPECT_EQ(instrument.Receive("volt?\n").send, "1.234\r\n");
  EXPECT_EQ(instrument.Receive("meas?\n").send, "1.234,-0.0125,23.5\r\n");
  std::string volt = instrument.Receive("bvolt?\n").send;
  ASSERT_EQ(volt.size(), 6u);
  EXPECT_NEAR(Decode(volt), 1.234, 1e-5);
  std::string all = instrument.Receive("bmeas?\n").send;
  ASSERT_EQ(all.size(), 16u);
  EXPECT_EQ(all[4], ',');
  EXPECT_NEAR(Decode(all.substr(5, 4)), -0.0125, 1e-7);
  EXPECT_NEAR(Decode(all.substr(10, 4)), 23.5, 1e-4);

  const double expected[] = {0.5, -1.0, 928.0, 0.0};
  bool hasLf = false, hasCr = false, hasZero = false;
  for (std::size_t n = 0; n < kBinaryTestValues.size(); ++n) {
    std::string reply = instrument.Receive("bin?" + std::to_string(n) + "\n").send;
    ASSERT_EQ(reply.size(), 6u) << n;
    EXPECT_EQ(reply.substr(4), "\r\n");
    EXPECT_EQ(static_cast<unsigned char>(reply[0]) & 0x80, 0x80);
    if (n < std::size(expected)) {
      EXPECT_EQ(Decode(reply), expected[n]) << n;
    }
    hasLf |= reply.substr(1, 3).find('\n') != std::string::npos;
    hasCr |= reply.substr(1, 3).find('\r') != std::string::npos;
    hasZero |= reply.substr(1, 3).find('\0') != std::string::npos;
  }
  EXPECT_TRUE(hasLf && hasCr && hasZero);
}

TEST(SimInstrument, ReadingsAnswerFirstWithNoiseFromTheSeed) {
  struct Parse {
    const char* text;
    bool ok;
    const char* command;
    const char* value;
    double amplitude;
  };
  const Parse parses[] = {
      {"volt?=4.98765", true, "volt?", "4.98765", 0},
      {"volt?=+4.98765E+00", true, "volt?", "+4.98765E+00", 0},
      {"x?=V=5.01 A", true, "x?", "V=5.01 A", 0},  // split at the first '='
      {"v?=-5.125~0.01", true, "v?", "-5.125", 0.01},
      {"t?=OVER~RANGE", true, "t?", "OVER~RANGE", 0},  // no number: the "~" is text
      {"e?=", true, "e?", "", 0},
      {"=1", false, "", "", 0},
      {"volt?", false, "", "", 0},
      {"v?=1~-2", false, "", "", 0},
      {"v?=1~x", false, "", "", 0},
  };
  for (const Parse& p : parses) {
    Reading reading;
    ASSERT_EQ(ParseReading(p.text, reading), p.ok) << p.text;
    if (!p.ok) continue;
    EXPECT_EQ(reading.command, p.command);
    EXPECT_EQ(reading.value, p.value);
    EXPECT_EQ(reading.amplitude, p.amplitude);
  }

  auto config = [](std::uint32_t seed) {
    InstrumentConfig c;
    c.seed = seed;
    for (const char* text : {"volt?=+4.98765E+00", "volt?=9", "curr?=0.500~0.010"}) {
      Reading r;
      ParseReading(text, r);
      c.readings.push_back(r);
    }
    return c;
  };
  Instrument a(config(7)), b(config(7)), c(config(8));
  EXPECT_EQ(a.Receive("volt?\n").send, "+4.98765E+00\r\n");  // the first for a command wins
  EXPECT_EQ(a.Receive("temp?\n").send, "23.5\r\n");          // the rest as before
  std::set<std::string> seen;
  bool differs = false;
  for (int i = 0; i < 50; ++i) {
    const std::string reply = a.Receive("curr?\n").send;
    EXPECT_EQ(reply, b.Receive("curr?\n").send);  // the same seed, the same replies
    differs |= reply != c.Receive("curr?\n").send;
    ASSERT_EQ(reply.size(), 7u) << reply;  // three decimals, as the value has
    const double value = std::stod(reply);
    EXPECT_GE(value, 0.490);
    EXPECT_LE(value, 0.510);
    seen.insert(reply);
  }
  EXPECT_TRUE(differs);
  EXPECT_GT(seen.size(), 5u);
}

TEST(SimBinaryEncode, ValuesSurviveTheProgramsDecoder) {
  for (double value : {1.234, -0.0125, 23.5, 928.0, -1.0, 0.5, 1e-10, -3.3e15, 0.999999}) {
    std::string bytes = EncodeBinaryValue(value);
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_NEAR(Decode(bytes), value, std::fabs(value) * 2e-6) << value;
  }
  EXPECT_EQ(EncodeBinaryValue(0.0), std::string("\x80\0\0\0", 4));
  EXPECT_EQ(Decode(EncodeBinaryValue(1e300)), std::ldexp(1.0 - std::ldexp(1.0, -20), 63));
  EXPECT_EQ(Decode(EncodeBinaryValue(1e-300)), 0.0);
}

TEST(SimInstrument, BootLoaderRunsBetweenWakeByteAndRestart) {
  Instrument instrument({});
  auto reaction = instrument.Receive(Lan("\x19"));
  EXPECT_EQ(reaction.send, std::string(kBootBanner) + "\r\n");
  EXPECT_TRUE(instrument.InBootLoader());
  EXPECT_EQ(instrument.Receive(Lan("*IDN?\n")).send, "ERR locked\r\n");
  std::string record = MakeHexRecord(0, 0x40, "\x12\x34");
  EXPECT_EQ(
      instrument.Receive(Lan("C7D2z\n") + Lan("9A3Ey\n") + Lan("x") + Lan(record + "\n\r\n")).send,
      "ok\r\nok\r\nok\r\nok\r\n");
  reaction = instrument.Receive(Lan("z\n"));
  EXPECT_EQ(reaction.send, "");
  EXPECT_FALSE(reaction.restarted);
  reaction = instrument.Receive(Lan("\x15"));
  EXPECT_TRUE(reaction.restarted);
  EXPECT_FALSE(instrument.InBootLoader());
  EXPECT_EQ(instrument.GetFlash().At(8).erases, 1);
  EXPECT_EQ(instrument.GetFlash().At(8).bytes.at(0x41), 0x34);
  EXPECT_EQ(instrument.Receive(Lan("*IDN?\n")).send, std::string(kDefaultIdn) + "\r\n");
}

TEST(SimInstrumentFaults, MuteAfterAnswersExactlyNLines) {
  InstrumentConfig config;
  config.muteAfter = 2;
  Instrument instrument(config);
  EXPECT_EQ(instrument.Receive("volt?\n\n\x14volt?\nvolt?\n").send, "1.234\r\n1.234\r\n");
  EXPECT_EQ(instrument.Receive(std::string("*IDN?\n\x19") + "C7D2z\n").send, "");
  instrument.NewConnection();
  EXPECT_EQ(instrument.Receive("C7D2z\n").send, "");  // for good, not per connection
}

TEST(SimInstrumentFaults, DropAfterClosesEachConnectionAfterItsNthLine) {
  InstrumentConfig config;
  config.dropAfter = 2;
  Instrument instrument(config);
  auto reaction = instrument.Receive("volt?\n");
  EXPECT_FALSE(reaction.close);
  reaction = instrument.Receive("curr?\ntemp?\n");
  EXPECT_EQ(reaction.send, "-0.0125\r\n");  // the second line is answered, the third not read
  EXPECT_TRUE(reaction.close);
  instrument.NewConnection();
  reaction = instrument.Receive("volt?\n");
  EXPECT_EQ(reaction.send, "1.234\r\n");
  EXPECT_FALSE(reaction.close);
  // Boot loader lines count too.
  EXPECT_TRUE(instrument.Receive(std::string("\x19") + "C7D2z\n").close);
}

TEST(SimInstrumentFaults, NoiseComesOnlyWhereTheProgramDiscardsInput) {
  InstrumentConfig config;
  config.noise = true;
  Instrument instrument(config);
  const std::string noise(kNoise, kNoiseLength);
  EXPECT_EQ(instrument.Receive("*IDN?\n").send, std::string(kDefaultIdn) + "\r\n" + noise);
  EXPECT_EQ(instrument.Receive("calstr?\nvolt?\n").send,
            std::string(kDefaultCalstr) + "\r\n1.234\r\n");
  EXPECT_EQ(instrument.Receive("\x19").send, std::string(kBootBanner) + "\r\n" + noise);
  EXPECT_EQ(instrument.Receive("C7D2z\n").send, "ok\r\n");
  EXPECT_EQ(instrument.Receive("z\n").send, noise);
  EXPECT_EQ(instrument.Receive("\x15").send, noise);
}

TEST(SimInstrumentFaults, OkCaseAndStreaming) {
  InstrumentConfig config;
  config.ok = "Ok";
  config.streamRate = 5;
  Instrument instrument(config);
  EXPECT_EQ(instrument.StreamLine(), "");
  EXPECT_EQ(instrument.Receive("config,240,01\nstream on\n").send, "Ok\r\nOk\r\n");
  EXPECT_EQ(instrument.StreamLine(), "stream,1,1.234\r\n");
  EXPECT_EQ(instrument.StreamLine(), "stream,2,1.234\r\n");
  EXPECT_EQ(instrument.Receive("stream rate,200\nstream rate,0\nstream rate,2x\n").send,
            "Ok\r\nERROR: bad parameter\r\nERROR: bad parameter\r\n");
  EXPECT_EQ(instrument.StreamRate(), 200);
  EXPECT_EQ(instrument.StreamLine(), "stream,3,1.234\r\n");  // the numbering goes on
  EXPECT_EQ(instrument.Receive("stream off\n").send, "Ok\r\n");
  EXPECT_EQ(instrument.StreamLine(), "");
  EXPECT_EQ(instrument.Receive(std::string("\x19") + "C7D2z\n").send,
            std::string(kBootBanner) + "\r\nOk\r\n");
}

TEST(SimInstrument, RandomBytesNeverCrashOrGrowTheReplies) {
  Instrument instrument({});
  std::mt19937 random(11);
  std::size_t sent = 0;
  for (int round = 0; round < 200; ++round) {
    std::string chunk;
    for (int i = 0; i < 1000; ++i) chunk.push_back(static_cast<char>(random() & 0xFF));
    sent += instrument.Receive(chunk).send.size();
  }
  // No more than one short line per received line end could ever come back.
  EXPECT_LT(sent, 200u * 1000u);
  instrument.Receive("\r\nz\n\x15");
  EXPECT_FALSE(instrument.InBootLoader());
  EXPECT_EQ(instrument.Receive("\n*IDN?\n").send, std::string(kDefaultIdn) + "\r\n");
}

}  // namespace
}  // namespace parlex2::sim
