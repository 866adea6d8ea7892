#include "options.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <vector>

#include "common/product.h"

namespace parlex2::sim {

namespace {

// A decimal number of at most `maxDigits` digits and nothing else.
bool ReadNumber(const std::string& text, std::size_t maxDigits, long& value) {
  if (text.empty() || text.size() > maxDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::strtol(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

bool ParseTcpEndpoint(const std::string& text, std::string& address, std::uint16_t& port) {
  std::string host = text;
  long portValue = kDefaultTcpPort;
  std::size_t colon = text.find(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    if (!ReadNumber(text.substr(colon + 1), 5, portValue) || portValue > 65535) return false;
  }
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = host.find('.', start);
    std::string part =
        host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    long value = 0;
    if (!ReadNumber(part, 3, value) || value > 255) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts != 4) return false;
  address = host;
  port = static_cast<std::uint16_t>(portValue);
  return true;
}

int ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::ostream& out,
                    std::ostream& err) {
  CLI::App app{
      "parlex2-sim: a stand-in for the instrument and its boot loader, on TCP and/or a "
      "pseudo-terminal. Prints its endpoints and then \"ready\" on standard output; "
      "ends cleanly on SIGTERM or SIGINT.",
      "parlex2-sim"};
  std::string tcp;
  std::string mode = "normal";
  std::string okCase = "lower";
  std::vector<std::string> refusals;
  std::vector<std::string> readings;
  InstrumentConfig& instrument = options.instrument;

  app.add_option("--tcp", tcp, "listen on ADDRESS[:PORT] (default 127.0.0.1:10001 when no --pty)")
      ->type_name("ADDRESS[:PORT]");
  app.add_option("--pty", options.ptyPath,
                 "serve a pseudo-terminal and make PATH a symbolic link to it")
      ->type_name("PATH");
  app.add_flag("--discovery", options.discovery,
               "answer the UDP discovery enquiries on ports 65535 and 30718 (use only inside "
               "a network namespace)");
  app.add_option("--idn", instrument.idn, "reply to *IDN?")->capture_default_str();
  app.add_option("--calstr", instrument.calstr, "reply to calstr?")->capture_default_str();
  app.add_option("--calver", instrument.calver, "reply to calver?")->capture_default_str();
  // Bare, --version prints the program's version, as every program does; with
  // a value it sets the instrument's reply.
  std::vector<std::string> versionReply;
  auto* version = app.add_option("--version", versionReply,
                                 "reply to version? (default \"" + instrument.version +
                                     "\"); alone: print this program's version and exit")
                      ->expected(0, 1)
                      ->type_name("[TEXT]");
  app.add_option("--mode", mode,
                 "normal; bootcode (answers *IDN? with the bootcode signature and nothing "
                 "else; the boot loader works); silent (answers nothing)")
      ->check(CLI::IsMember({"normal", "bootcode", "silent"}))
      ->capture_default_str();
  app.add_option("--transcript", options.transcriptPath,
                 "write every byte received and sent, with direction and time in ms")
      ->type_name("FILE");
  app.add_option("--flash", options.flashPath,
                 "write the emulated flash (erase counts and programmed bytes per sector) at "
                 "exit and after every restart of the boot loader")
      ->type_name("FILE");
  app.add_option("--delay", options.delayMs, "wait MS before every reply")
      ->type_name("MS")
      ->check(CLI::Range(0, 600000));
  app.add_option("--baud", options.baud,
                 "pace the bytes both ways as a serial line at RATE bits a second would (10 bits "
                 "a byte): replies leave only when the command has fully arrived and each byte "
                 "takes its time")
      ->type_name("RATE")
      ->check(CLI::Range(300, 4000000));
  app.add_option("--refuse-record", refusals,
                 "answer the N-th record of a boot session K times with a refusal (repeatable)")
      ->type_name("N:K");
  app.add_option("--drop-after", instrument.dropAfter,
                 "close each connection after N received lines")
      ->type_name("N")
      ->check(CLI::Range(1, 1000000000));
  app.add_option("--mute-after", instrument.muteAfter, "answer N lines, then nothing more")
      ->type_name("N")
      ->check(CLI::Range(0, 1000000000));
  app.add_option("--ok-case", okCase, "spell the success reply ok, OK or Ok")
      ->check(CLI::IsMember({"lower", "upper", "mixed"}))
      ->capture_default_str();
  app.add_flag("--noise", instrument.noise,
               "send junk bytes where a correct program discards input: after the *IDN? "
               "reply, the boot loader's banner, \"z\" and the restart byte");
  app.add_option("--stream", instrument.streamRate,
                 "after \"stream on\", send a measurement line RATE times a second")
      ->type_name("RATE")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--reading", readings,
                 "answer COMMAND with VALUE (repeatable; before any built-in reply), e.g. "
                 "--reading volt?=4.98765; with ~AMPLITUDE after a plain decimal VALUE, add "
                 "noise spread evenly over +-AMPLITUDE, written with VALUE's decimals")
      ->type_name("COMMAND=VALUE[~AMPLITUDE]");
  app.add_option("--seed", instrument.seed, "seed of the readings' noise (default 1)")
      ->type_name("N");
  app.footer(
      "Commands: *IDN? calstr? calver? version?; config,240..245,VV (clock) and clock?; "
      "volt? curr? temp? meas? (text); bvolt? bcurr? btemp? bmeas? bin?0..bin?6 (4-byte "
      "binary values); stream on|off, stream rate,N; soak BYTES (numbered lines with checks, "
      "for the soak test). Anything else gets an ERROR: line. The byte 0x19 starts the boot "
      "loader: C7D2z, sector codes, x, Intel HEX records, z and 0x15. Exit status: 0, or 2 for "
      "a malformed option.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help exits 0; anything malformed exits 2, as parlex2's usage errors do.
    return app.exit(e, out, err) == 0 ? 0 : 2;
  }

  if (version->count() > 0) {
    if (versionReply.empty() || versionReply.front().empty()) {
      out << VersionLine("parlex2-sim") << "\n";
      return 0;
    }
    instrument.version = versionReply.front();
  }
  if (!tcp.empty()) {
    if (!ParseTcpEndpoint(tcp, options.tcpAddress, options.tcpPort)) {
      err << "--tcp: not an IPv4 ADDRESS[:PORT]: " << tcp << "\n";
      return 2;
    }
    options.tcp = true;
  } else {
    options.tcp = options.ptyPath.empty();
  }
  instrument.personality = mode == "bootcode" ? Personality::kBootcode
                           : mode == "silent" ? Personality::kSilent
                                              : Personality::kNormal;
  instrument.ok = okCase == "upper" ? "OK" : okCase == "mixed" ? "Ok" : "ok";
  for (const std::string& text : refusals) {
    std::size_t colon = text.find(':');
    long record = 0;
    long times = 0;
    if (colon == std::string::npos || !ReadNumber(text.substr(0, colon), 9, record) ||
        !ReadNumber(text.substr(colon + 1), 9, times) || record < 1) {
      err << "--refuse-record: expected N:K with N from 1, got " << text << "\n";
      return 2;
    }
    instrument.refusals.push_back({static_cast<int>(record), static_cast<int>(times)});
  }
  for (const std::string& text : readings) {
    Reading reading;
    if (!ParseReading(text, reading)) {
      err << "--reading: expected COMMAND=VALUE or COMMAND=NUMBER~AMPLITUDE, got " << text << "\n";
      return 2;
    }
    instrument.readings.push_back(std::move(reading));
  }
  return -1;
}

}  // namespace parlex2::sim
