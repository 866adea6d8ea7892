// The simulated instrument's command interpreter, identity, binary values,
// boot loader and fault options, fed with the bytes the program sends; and
// the boot loader on its own: what it accepts, what it refuses, and what ends
// up in its flash.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "link/binary_value.h"
#include "sim/binary_encode.h"
#include "sim/boot_loader.h"
#include "sim/instrument.h"
#include "sim/intel_hex.h"

namespace parlex2::sim {
namespace {

// Over TCP every send is followed by a zero byte.
std::string Lan(std::string_view command) { return std::string(command) + '\0'; }

// The program's text of the binary value that `bytes` begin with.
std::string Text(std::string_view bytes) {
  std::string text;
  BinaryValueToText(reinterpret_cast<const unsigned char*>(bytes.data()), &text);
  return text;
}

double Decode(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  return BinaryValueToText(data, nullptr);
}

// A reaction as one string: the bytes sent, then "<close>" when the connection
// is to close and "<restarted>" when the boot loader restarted the instrument.
std::string Describe(const Instrument::Reaction& reaction) {
  return reaction.send + (reaction.close ? "<close>" : "") +
         (reaction.restarted ? "<restarted>" : "");
}

// In a step's place: the client connects anew.
constexpr char kReconnect[] = "<new connection>";

// Steps of one client's talk with an instrument: the bytes it sends and
// Describe(reaction). Each run of steps with one instrument's name is fed to
// a new instrument of that configuration.
struct Step {
  const char* instrument;
  std::string bytes;
  std::string reaction;
};

TEST(SimInstrument, AnswersWhatTheProgramSends) {
  std::map<std::string, InstrumentConfig> configs;  // "sound": as it comes
  configs["bootcode"].personality = Personality::kBootcode;
  configs["silent"].personality = Personality::kSilent;
  configs["mute after 2"].muteAfter = 2;
  configs["drop after 2"].dropAfter = 2;
  configs["noise"].noise = true;
  configs["Ok"].ok = "Ok";
  const std::string idn = "Veltmark,VXM66,10472,2.15\r\n";
  const std::string calstr = "14_SEP_2026,OVL,10472\r\n";
  const std::string boot = "\x19";
  const std::string banner = "VXM boot loader 1.2\r\n";
  const std::string unknown = "ERROR: unknown command\r\n";
  const std::string noise(kNoise, kNoiseLength);
  const std::string clock = "09:05:07 03/02/25\r\n";
  auto times = [](int count, const std::string& line) {
    std::string lines;
    for (int i = 0; i < count; ++i) lines += line;
    return lines;
  };
  const Step steps[] = {
      // What Open and the identification send over TCP, and over a COM port.
      {"sound", Lan("\x14") + Lan("\x14") + Lan("^[") + Lan("*IDN?\n"), idn},
      {"sound", "\x14\x14^[*IDN?\n", idn},
      {"sound", "*IDN?\r\n", idn},
      {"sound", "*ID", ""},
      {"sound", "N?", ""},
      {"sound", "\n", idn},
      // Empty lines and a typed ^[ (escape, line feed) get no answer; escape
      // discards what was typed before it.
      {"sound", "\n\r\n\x1B\n^[\n", ""},
      {"sound", "volt\x1B*IDN?\n", idn},
      {"sound", "calstr?\ncalver?\nversion?\n",
       calstr + "02_OCT_2026\r\nVXM66,STD,215,31,46,12\r\n"},
      {"sound", "volt?\nmeas?\n", "1.234\r\n1.234,-0.0125,23.5\r\n"},
      {"sound", "bogus\n*idn?\nIDN?\n *IDN?\n\x03\nbin?7\nbin?\nstream on\n", times(8, unknown)},
      // An overlong line is one error, and the next command is answered.
      {"sound", std::string(100000, 'A') + "\n*IDN?\n", unknown + idn},
      // The clock: six fields set, read back; a field out of range, malformed
      // or unknown is refused and changes nothing.
      {"sound",
       "config,240,09\nconfig,241,05\nconfig,242,07\nconfig,243,03\nconfig,244,02\nconfig,245,25\n",
       times(6, "ok\r\n")},
      {"sound", "clock?\n", clock},
      {"sound",
       "config,240,24\nconfig,241,60\nconfig,243,00\nconfig,243,32\nconfig,244,12\nconfig,246,01\n"
       "config,239,01\nconfig,240,9\nconfig,240,009\nconfig,240,\nconfig,24a,01\n",
       times(11, "ERROR: bad parameter\r\n")},
      {"sound", "clock?\n", clock},
      {"sound", "config,244,11\nconfig,243,31\n", "ok\r\nok\r\n"},
      // The boot loader, from its wake byte to the restart.
      {"sound", Lan(boot), banner},
      {"sound", Lan("*IDN?\n"), "ERR locked\r\n"},
      {"sound", Lan("C7D2z\n") + Lan("9A3Ey\n"), "ok\r\nok\r\n"},
      {"sound", Lan("z\n"), ""},
      {"sound", Lan("\x15"), "<restarted>"},
      {"sound", Lan("*IDN?\n"), idn},
      // Only *IDN?, answered with the signature, and the boot loader.
      {"bootcode", Lan("\x14") + Lan("^[") + Lan("*IDN?\n"), "VXMBOOT:    32 32 32 32\r\n"},
      {"bootcode", "calstr?\ncalver?\nversion?\nvolt?\nbogus\n", ""},
      {"bootcode", Lan(boot) + Lan("C7D2z\n"), banner + "ok\r\n"},
      {"silent", "*IDN?\nbogus\n" + boot + "C7D2z\n", ""},
      // Muted for good, not for the connection.
      {"mute after 2", "volt?\n\n\x14volt?\nvolt?\n", "1.234\r\n1.234\r\n"},
      {"mute after 2", "*IDN?\n" + boot + "C7D2z\n", ""},
      {"mute after 2", kReconnect, ""},
      {"mute after 2", "C7D2z\n", ""},
      // The second line is answered and the third not read; boot loader lines
      // count too.
      {"drop after 2", "volt?\n", "1.234\r\n"},
      {"drop after 2", "curr?\ntemp?\n", "-0.0125\r\n<close>"},
      {"drop after 2", kReconnect, ""},
      {"drop after 2", "volt?\n", "1.234\r\n"},
      {"drop after 2", boot + "C7D2z\n", banner + "ok\r\n<close>"},
      // Noise only where the program discards what it receives.
      {"noise", "*IDN?\n", idn + noise},
      {"noise", "calstr?\nvolt?\n", calstr + "1.234\r\n"},
      {"noise", boot, banner + noise},
      {"noise", "C7D2z\n", "ok\r\n"},
      {"noise", "z\n", noise},
      {"noise", "\x15", noise + "<restarted>"},
      {"Ok", "config,240,01\n", "Ok\r\n"},
      {"Ok", boot + "C7D2z\n", banner + "Ok\r\n"},
  };
  std::optional<Instrument> instrument;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE(std::string(step.instrument) + ", step " + std::to_string(i));
    if (i == 0 || step.instrument != std::string(steps[i - 1].instrument)) {
      instrument.emplace(configs[step.instrument]);
    }
    if (step.bytes == kReconnect) {
      instrument->NewConnection();
    } else {
      EXPECT_EQ(Describe(instrument->Receive(step.bytes)), step.reaction);
    }
  }
}

TEST(SimInstrument, MeasurementsAnswerAsBinaryValues) {
  Instrument instrument({});
  const std::string all = instrument.Receive("bmeas?\n").send;
  ASSERT_EQ(all.size(), 16u);
  EXPECT_EQ(
      Text(all) + all[4] + Text(all.substr(5)) + all[9] + Text(all.substr(10)) + all.substr(14),
      "1.23400E0,-1.25000E-2,2.35000E1\r\n");
  // bin?N: fixed values with zero bytes, line feeds and carriage returns in them.
  const char* const values[] = {"5.00000E-1", "-1.00000E0", "9.28000E2", "0.00000E0",
                                "1.00002E0",  "1.00317E0",  "-2.25395E1"};
  for (std::size_t n = 0; n < std::size(values); ++n) {
    const std::string reply = instrument.Receive("bin?" + std::to_string(n) + "\n").send;
    ASSERT_EQ(reply.size(), 6u) << n;
    EXPECT_EQ(Text(reply) + reply.substr(4), std::string(values[n]) + "\r\n") << n;
  }
}

TEST(SimInstrument, ReadingsAnswerFirstWithNoiseFromTheSeed) {
  auto parsed = [](const char* text) {
    Reading reading;
    if (!ParseReading(text, reading)) return std::string("refused");
    std::ostringstream out;
    out << reading.command << " | " << reading.value << " | " << reading.amplitude;
    return out.str();
  };
  EXPECT_EQ(parsed("volt?=4.98765"), "volt? | 4.98765 | 0");
  EXPECT_EQ(parsed("volt?=+4.98765E+00"), "volt? | +4.98765E+00 | 0");
  EXPECT_EQ(parsed("x?=V=5.01 A"), "x? | V=5.01 A | 0");  // split at the first '='
  EXPECT_EQ(parsed("v?=-5.125~0.01"), "v? | -5.125 | 0.01");
  EXPECT_EQ(parsed("t?=OVER~RANGE"), "t? | OVER~RANGE | 0");  // no number: the "~" is text
  EXPECT_EQ(parsed("e?="), "e? |  | 0");
  for (const char* bad : {"=1", "volt?", "v?=1~-2", "v?=1~x"}) {
    EXPECT_EQ(parsed(bad), "refused") << bad;
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

TEST(SimInstrument, StreamsNumberedLinesBetweenOnAndOff) {
  InstrumentConfig config;
  config.streamRate = 5;
  Instrument instrument(config);
  EXPECT_EQ(instrument.StreamLine(), "");
  EXPECT_EQ(instrument.Receive("stream on\n").send, "ok\r\n");
  EXPECT_EQ(instrument.StreamLine(), "stream,1,1.234\r\n");
  EXPECT_EQ(instrument.StreamLine(), "stream,2,1.234\r\n");
  EXPECT_EQ(instrument.Receive("stream rate,200\nstream rate,0\nstream rate,2x\n").send,
            "ok\r\nERROR: bad parameter\r\nERROR: bad parameter\r\n");
  EXPECT_EQ(instrument.StreamRate(), 200);
  EXPECT_EQ(instrument.StreamLine(), "stream,3,1.234\r\n");  // the numbering goes on
  EXPECT_EQ(instrument.Receive("stream off\n").send, "ok\r\n");
  EXPECT_EQ(instrument.StreamLine(), "");
}

using Bytes = std::map<std::uint32_t, std::uint8_t>;

// Feeds `bytes` followed by the zero byte that ends every LAN write, and tells
// what came back: the replies joined by "|", and "<restarted>" where the
// loader restarted the instrument.
std::string Send(BootLoader& loader, const std::string& bytes) {
  std::string replies;
  for (char c : bytes + '\0') {
    const BootLoader::Step step = loader.Feed(static_cast<unsigned char>(c));
    if (step.event == BootLoader::Event::kReply) {
      replies += (replies.empty() ? "" : "|") + step.reply;
    }
    if (step.event == BootLoader::Event::kRestarted) replies += "<restarted>";
  }
  return replies;
}

// A record as the upgrade sends it: the file's line, then CR LF.
std::string Record(std::uint16_t offset, const std::string& data, std::uint8_t type = 0) {
  return MakeHexRecord(type, offset, data) + "\n\r\n";
}

TEST(SimBootLoader, AnswersEachCommandAndRecordAndProgramsTheFlash) {
  const std::pair<std::string, std::string> steps[] = {
      // Everything is refused until the access code, which is case-sensitive.
      {"C2D7y\n", "ERR locked"},
      {"x", "ERR locked"},
      {Record(0, "\x09"), "ERR locked"},
      {"C7D2Z\n", "ERR locked"},
      {"C7D2z\n", "ok"},
      {"x", "ERR no sector"},
      {Record(0x10, "\x09"), "ERR no sector"},
      {"C2D7\n", "ERR unknown command"},
      {"C2D7yy\n", "ERR unknown command"},
      // Sector 0. A record is answered at the carriage return the upgrade
      // appends; a file's last line may lack its line feed; two records run
      // together without CR LF make one bad line.
      {"C2D7y\n", "ok"},
      {":020000000102FC\n\r\n", "ERR checksum error"},  // FB would be right
      {MakeHexRecord(0, 0, "\x01\x02") + "\n", ""},
      {"\r", "ok"},
      {"\n", ""},
      {MakeHexRecord(0, 2, "\x03") + "\r\n", "ok"},
      {MakeHexRecord(0, 3, "\x04") + "\n" + Record(4, "\x05"), "ERR bad digit"},
      // Sector 2: programming twice needs an erase between.
      {"7DC2y\n", "ok"},
      {Record(0x20, "\x55\x66"), "ok"},
      {Record(0x21, "\x77"), "ERR not erased"},
      {"x", "ok"},
      {Record(0x21, "\x77"), "ok"},
      // Sector 4: extended addresses place the data, until the next sector
      // code (sector 5) starts again at zero. Each sector has addresses of its
      // own (sector 0 holds address 2 too), and a record that meets a
      // programmed byte writes none of its bytes.
      {"27CDy\n", "ok"},
      {Record(0, std::string("\x00\x01", 2), 4), "ok"},
      {Record(2, "\xAA"), "ok"},
      {Record(0, std::string("\x20\x00", 2), 2), "ok"},
      {Record(3, "\xBB"), "ok"},
      {Record(0, "", 1), "ok"},
      {"CD72y\n", "ok"},
      {Record(2, "\xCC"), "ok"},
      {Record(1, "\xDD\xEE\xFF"), "ERR not erased"},
      // The restart needs "z" and then the restart byte.
      {"\x15", ""},
      {"z\n", ""},
      {"\x15", "<restarted>"},
  };
  Flash flash;
  BootLoader loader(flash, {});
  loader.Start();
  for (const auto& [bytes, reply] : steps) {
    EXPECT_EQ(Send(loader, bytes), reply) << bytes;
  }
  std::map<int, Bytes> expected = {{0, {{0, 0x01}, {1, 0x02}, {2, 0x03}}},
                                   {2, {{0x21, 0x77}}},
                                   {4, {{0x10002, 0xAA}, {0x20003, 0xBB}}},
                                   {5, {{0x2, 0xCC}}}};
  for (int sector = 0; sector < Flash::kSectorCount; ++sector) {
    EXPECT_EQ(flash.At(sector).bytes, expected[sector]) << sector;
    EXPECT_EQ(flash.At(sector).erases, sector == 2 ? 1 : 0) << sector;
  }
}

TEST(SimBootLoader, RefusesTheNthRecordKTimesCountingResendsAsOne) {
  Flash flash;
  BootLoader loader(flash, {"OK", {{2, 3}}});
  const std::string second = Record(1, "\x02");
  // Each boot session counts its records afresh.
  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    loader.Start();
    EXPECT_EQ(Send(loader, "C7D2z\nC2D7y\nx" + Record(0, "\x01") + second + second + second +
                               second + Record(2, "\x03")),
              "OK|OK|OK|OK|ERR retry|ERR retry|ERR retry|OK|OK");
  }
  EXPECT_EQ(flash.At(0).bytes, (Bytes{{0, 0x01}, {1, 0x02}, {2, 0x03}}));
}

}  // namespace
}  // namespace parlex2::sim
