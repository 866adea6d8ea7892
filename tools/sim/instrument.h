// The simulated instrument: its command interpreter, its boot loader and its
// flash, driven by the bytes a client sends and answering with the bytes the
// real instrument would send. No sockets here: the program around it moves
// the bytes and keeps the time.
//
// Commands end at a line feed; carriage returns, zero bytes (sent after every
// LAN write) and the wake byte DC4 are ignored, a leading "^[" (the second wake
// sequence, sent without a line end) is dropped, and ESC discards the line
// typed so far. Every reply ends in CR LF. The commands answered:
//
//   *IDN?  calstr?  calver?  version?    the identity texts
//   config,240,HH .. config,245,YY       the clock: hour, minute, second, day,
//                                        month counted from 0, year modulo 100,
//                                        each two digits; answered "ok"
//   clock?                               "HH:MM:SS DD/MM/YY" as set ("--" unset)
//   volt?  curr?  temp?  meas?           text measurements (see kMeasurements)
//   bvolt? bcurr? btemp? bmeas?          the same as 4-byte binary values
//   bin?0 .. bin?6                       fixed binary values whose bytes hold
//                                        0x00, 0x0A and 0x0D (see kBinaryTestValues)
//   stream on / stream off               only with a stream rate: measurement
//                                        lines "stream,N,1.234" until off
//   stream rate,N                        the stream's pace from now on, N lines
//                                        a second (1 to 1000000); N goes on
//   soak BYTES                           the soak stream (soak.h), BYTES up to
//                                        10^12; answered by the stream itself
// A reading given on the command line (--reading) answers its command before
// any of these, so a test can make an instrument read what it needs.
// Anything else is answered "ERROR: unknown command", a malformed config
// command "ERROR: bad parameter". The wake byte 0x19 starts the boot loader
// (boot_loader.h), which announces itself with kBootBanner.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "boot_loader.h"
#include "flash.h"
#include "soak.h"

namespace parlex2::sim {

// A VXM66 (a calibration-checked model) with a recent maker's calibration.
inline constexpr char kDefaultIdn[] = "Veltmark,VXM66,10472,2.15";
inline constexpr char kDefaultCalstr[] = "14_SEP_2026,OVL,10472";
inline constexpr char kDefaultCalver[] = "02_OCT_2026";
inline constexpr char kDefaultVersion[] = "VXM66,STD,215,31,46,12";
// What an instrument running only its boot code answers to *IDN?: no comma,
// and ":    32 32 32 32" from the eighth character on.
inline constexpr char kBootcodeSignature[] = "VXMBOOT:    32 32 32 32";
inline constexpr char kBootBanner[] = "VXM boot loader 1.2";
inline constexpr char kUnknownCommand[] = "ERROR: unknown command";
inline constexpr char kBadParameter[] = "ERROR: bad parameter";

struct TextMeasurement {
  const char* command;
  const char* binaryCommand;
  const char* text;
  double value;
};
inline constexpr std::array<TextMeasurement, 3> kMeasurements = {{
    {"volt?", "bvolt?", "1.234", 1.234},
    {"curr?", "bcurr?", "-0.0125", -0.0125},
    {"temp?", "btemp?", "23.5", 23.5},
}};

// The replies to bin?0 .. bin?6, byte for byte.
inline constexpr std::array<std::array<unsigned char, 4>, 7> kBinaryTestValues = {{
    {0x80, 0x20, 0x80, 0x80},  // 0.5
    {0x81, 0x60, 0x80, 0x80},  // -1
    {0x8A, 0x3A, 0x80, 0x80},  // 928
    {0x80, 0x00, 0x00, 0x00},  // 0, three zero bytes
    {0x81, 0x20, 0x00, 0x0A},  // just above 1: a zero byte and a line feed
    {0x81, 0x20, 0x0D, 0x00},  // a carriage return and a zero byte
    {0x85, 0x6D, 0x0A, 0x0D},  // negative: a line feed and a carriage return
}};

// Junk that --noise sends where a correct program discards what it receives:
// after the *IDN? reply, after the boot loader's banner, after "z" and after
// the restart byte.
inline constexpr char kNoise[] = "\x01\xA5~junk\x7F\x80\r\n\x1B#";
inline constexpr std::size_t kNoiseLength = sizeof kNoise - 1;

enum class Personality { kNormal, kBootcode, kSilent };

// The reply to one command, given as --reading COMMAND=VALUE[~AMPLITUDE]:
// VALUE as it is, or, with an amplitude, the plain decimal VALUE plus noise
// spread evenly over +-AMPLITUDE, written with VALUE's number of decimals.
struct Reading {
  std::string command;
  std::string value;
  double amplitude = 0.0;  // 0: VALUE exactly
  double number = 0.0;     // VALUE as a number, when there is an amplitude
  int decimals = 0;
};

// Reads "COMMAND=VALUE[~AMPLITUDE]"; false when COMMAND is empty or the
// amplitude does not follow a plain decimal VALUE (a VALUE that is no such
// number takes a "~" as part of its text).
bool ParseReading(const std::string& text, Reading& reading);

struct InstrumentConfig {
  std::string idn = kDefaultIdn;
  std::string calstr = kDefaultCalstr;
  std::string calver = kDefaultCalver;
  std::string version = kDefaultVersion;
  // kBootcode answers *IDN? with the signature and no other command (its boot
  // loader works); kSilent answers nothing at all.
  Personality personality = Personality::kNormal;
  std::string ok = "ok";                // the boot loader's and config's success
  std::vector<RecordRefusal> refusals;  // --refuse-record
  int dropAfter = 0;                    // close each connection after this many lines; 0 never
  int muteAfter = -1;                   // answer this many lines in all, then nothing; -1 always
  bool noise = false;
  int streamRate = 0;  // lines a second after "stream on"; 0: no streaming
  std::vector<Reading> readings;  // --reading, the first for a command wins
  std::uint32_t seed = 1;         // of the readings' noise
};

class Instrument {
 public:
  static constexpr std::size_t kLineLimit = 1024;
  static constexpr int kMaxStreamRate = 1000000;

  struct Reaction {
    std::string send;        // bytes to send, in order
    bool close = false;      // then close the connection
    bool restarted = false;  // the boot loader restarted the instrument
  };

  explicit Instrument(InstrumentConfig config);

  Reaction Receive(std::string_view bytes);

  // A client connected: its line count and any partial line start afresh. The
  // instrument itself (boot loader, clock, flash) carries on.
  void NewConnection();

  // The next streamed measurement line (with CR LF), or empty when not
  // streaming or muted. The caller paces it at the stream rate.
  std::string StreamLine();
  bool Streaming() const { return streaming_; }
  // Lines a second: the --stream rate until "stream rate,N" sets another.
  int StreamRate() const { return streamRate_; }
  // The soak stream a "soak" command started; the caller tops up the
  // client's output from it while it is active.
  SoakStream& Soak() { return soak_; }

  bool InBootLoader() const { return inBootLoader_; }
  const Flash& GetFlash() const { return flash_; }
  // Hour, minute, second, day, month (from 0), year as last set; -1 unset.
  const std::array<int, 6>& ClockFields() const { return clock_; }

 private:
  void Byte(unsigned char byte, Reaction& reaction);
  void Line(const std::string& line, Reaction& reaction);
  void BootByte(unsigned char byte, Reaction& reaction);
  std::string Answer(std::string_view line, bool& noise);
  std::string Config(std::string_view line);
  std::string ClockText() const;
  std::string ReadingText(const Reading& reading);
  void Send(Reaction& reaction, std::string_view line, bool isLine);
  void SendNoise(Reaction& reaction, bool isLine);
  bool Muted(bool forLine) const;
  void CountLine(Reaction& reaction);

  InstrumentConfig config_;
  Flash flash_;
  BootLoader bootLoader_;
  bool inBootLoader_ = false;
  std::string line_;
  bool overflow_ = false;
  int connectionLines_ = 0;
  int totalLines_ = 0;
  bool closing_ = false;
  std::array<int, 6> clock_ = {-1, -1, -1, -1, -1, -1};
  bool streaming_ = false;
  int streamRate_ = 0;
  int streamCount_ = 0;
  SoakStream soak_;
  std::mt19937 noise_;  // the readings' noise: the same seed, the same replies
};

}  // namespace parlex2::sim
