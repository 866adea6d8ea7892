// The one connection between the program and one instrument, over a COM port
// or TCP, with the identity of the instrument on the other end.
//
// Calls come in strict request/reply order from one thread at a time. The UI
// thread uses the link unless a lease is out (LinkLease below): then only the
// lease's holder does, the upgrade worker's thread included, and every other
// user asks `leased()` first and leaves the link alone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/clock.h"
#include "link/transport.h"

namespace parlex2 {

// Stored as this number in the settings file.
enum class InterfaceKind : int { None = 0, Usb = 1, Lan = 2, Serial = 3 };

// "USB", "LAN" or "Serial", as the information panel and the reports name
// the interface; nullptr for None or a number no interface has.
inline const char* InterfaceKindName(InterfaceKind kind) {
  switch (kind) {
    case InterfaceKind::Usb:
      return "USB";
    case InterfaceKind::Lan:
      return "LAN";
    case InterfaceKind::Serial:
      return "Serial";
    default:
      return nullptr;
  }
}

inline constexpr std::size_t kComPortMax = 6;  // "COM254"
// The longest port name kept: a COM name on Windows, a device path such as
// /dev/ttyUSB0 elsewhere.
#ifdef _WIN32
inline constexpr std::size_t kComPortNameLimit = kComPortMax;
#else
inline constexpr std::size_t kComPortNameLimit = 127;
#endif
inline constexpr std::size_t kIpAddressMax = 15;  // "255.255.255.255"
inline constexpr std::size_t kIdnReplyMax = 127;
inline constexpr std::size_t kCalReplyMax = 255;
inline constexpr std::size_t kVersionReplyMax = 127;
inline constexpr std::uint32_t kUsbBaudRate = 19200;
inline constexpr std::uint32_t kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400};
// No serial line runs faster; a larger stored rate is damage, not a choice.
inline constexpr std::uint32_t kHighestBaudRate = 4000000;

inline constexpr char kWakeByte = 0x14;  // DC4: wakes the instrument's command interpreter

// Where the instrument is reached. Loaded from the settings file at start-up,
// written by the connection form, changed only while the link is closed.
struct ConnectionSettings {
  InterfaceKind interfaceKind = InterfaceKind::None;
  std::string comPort;    // COM7 on Windows (at most 6), a device path elsewhere
  std::string ipAddress;  // dotted IPv4, at most 15; empty when none
  std::uint32_t baudRate = 0;

  // The speed the COM port runs at: a USB connection always at 19200,
  // whatever baudRate holds; a serial one at baudRate.
  std::uint32_t LineBaudRate() const {
    return interfaceKind == InterfaceKind::Usb ? kUsbBaudRate : baudRate;
  }
};

// What identification found out. Kept across Close.
struct InstrumentInfo {
  std::int32_t modelNumber = 0;  // 0 not identified, 9998 boot code, else the model table's
  std::int32_t familyVariant = 0;
  std::int32_t modelVariant = 0;
  std::string idnReply;      // at most 127: maker,model,serial,...
  std::string calstrReply;   // at most 255
  std::string calverReply;   // at most 255
  std::string versionReply;  // at most 127
  bool connected = false;    // result of the last connect-and-identify
};

class LinkLease;

class InstrumentLink {
 public:
  // Opens the transport for `settings`: Ok with the transport, or Failed
  // with the system's reason in `error`.
  using TransportFactory =
      std::function<TransportStatus(const ConnectionSettings& settings,
                                    std::unique_ptr<Transport>& transport, std::string& error)>;

  // The link paces its waits and read time-outs on `clock` (the clock in
  // force when it is made, unless one is given), never on a process-wide one
  // read later: a worker thread using the link sees the same clock as the
  // thread that made it.
  explicit InstrumentLink(Clock& clock = GetClock());
  ~InstrumentLink();
  InstrumentLink(const InstrumentLink&) = delete;
  InstrumentLink& operator=(const InstrumentLink&) = delete;

  // Written by the settings loader and the connection form while the link is
  // closed (a change takes effect at the next Open), and read by the link
  // itself while it is open.
  ConnectionSettings settings;
  // Written by identification (and the callers of connect-and-identify) on
  // the thread that owns the link; the link reads the serial number from it
  // for every exchange line, so the upgrade worker's thread must not be
  // running while anyone else writes it.
  InstrumentInfo info;

  bool portOpen() const { return transport_ != nullptr; }
  // True when the link is open to the place `other` names: the same interface
  // and COM port and rate, or the same IP address.
  bool OpenTo(const ConnectionSettings& other) const;

  // Opens the transport, sends the wake byte and discards what answers within
  // 100 ms. 0 on success (also when already open), -1 on failure.
  int Open();
  void Close();

  // Sends `text` as it is (the caller supplies the line feed), counts and
  // logs it. Ok when every byte went out; Failed also when the link is closed.
  TransportStatus Write(std::string_view text);
  // Write with the system's result: COM ports: bytes written, 0 on failure;
  // LAN: 0 on success, -1 on failure; -1 when closed.
  int Send(std::string_view text);

  // Reads one reply line into `buffer` of `size` bytes and logs it; a line
  // starting with a byte of 0x80 or more is replaced by the binary value's
  // text. Returns the length read; LAN: -1 on time-out or lost connection.
  int ReadLine(char* buffer, std::size_t size);

  // The next waiting byte, -2 when nothing waits, -1 on error. Never waits.
  // Bytes read this way are not logged: whoever assembles them into lines
  // hands each line to LogReceivedLine.
  int ReadByte();
  // Logs a line received through ReadByte (the terminal's, a script's or the
  // command line's) as ReadLine logs its reply: one "<<" entry, numbered.
  void LogReceivedLine(std::string_view line);

  // Discards input until nothing has arrived and `milliseconds` have passed
  // since the call (0: only what waits now).
  void Drain(std::uint32_t milliseconds);

  // Waits at most `milliseconds` for a byte to arrive (returns at once when
  // one waits or the link is closed or broken). For pollers outside a window
  // timer, such as the command line.
  void WaitReadable(std::uint32_t milliseconds);

  // How long ReadLine waits. A COM port starts at 5000 ms at every Open; a
  // LAN link keeps what was set last (5000 ms at first), also while closed.
  void SetReadTimeout(std::uint32_t milliseconds);

  // The serial number (field 2 of the *IDN? reply, possibly empty), or
  // nothing when the reply has fewer than three fields.
  std::optional<std::string> SerialNumber() const;

  // The system's reason for the last failed Open.
  const std::string& LastError() const { return lastError_; }

  // Replaces how transports are opened (tests); null restores the real one.
  void SetTransportFactory(TransportFactory factory);

  Clock& clock() const { return clock_; }

  // Takes the lease when nobody holds it (see LinkLease); an empty lease
  // otherwise. UI thread.
  LinkLease Lease();
  // True while a lease is out.
  bool leased() const { return leased_.load(std::memory_order_acquire); }

 private:
  friend class LinkLease;

  // Discards input until nothing waits and more than `milliseconds` have
  // passed since `start` (a tick count); 0 discards only what waits now.
  void DrainSince(std::uint64_t start, std::uint32_t milliseconds);
  void LogExchange(const char* direction, std::string_view text, bool addLineFeed);
  // The LAN's results, or the COM port's: what the open transport (or, while
  // closed, the settings) is.
  bool IsLan() const;

  Clock& clock_;
  std::unique_ptr<Transport> transport_;
  ConnectionSettings openedWith_;  // the settings of the open transport
  TransportFactory factory_;
  std::string lastError_;
  std::uint32_t lanReadTimeout_ = kDefaultReadTimeoutMs;
  std::atomic<bool> leased_{false};
};

// Holding the link. The firmware upgrade takes one for its whole command, so
// that its worker thread can use the link; meanwhile the timer's poll, the
// script's tick, Set Date/Time, typed commands and the connect commands see
// `leased()` and leave the link alone. Movable, not copyable; the lease ends
// with its last holder. UI thread (taking and ending it).
class LinkLease {
 public:
  LinkLease() = default;
  LinkLease(LinkLease&& other) noexcept : link_(std::exchange(other.link_, nullptr)) {}
  LinkLease& operator=(LinkLease&& other) noexcept {
    if (this != &other) {
      Release();
      link_ = std::exchange(other.link_, nullptr);
    }
    return *this;
  }
  ~LinkLease() { Release(); }
  LinkLease(const LinkLease&) = delete;
  LinkLease& operator=(const LinkLease&) = delete;

  // False when the link was held already and this lease is empty.
  explicit operator bool() const { return link_ != nullptr; }
  void Release() {
    if (link_) link_->leased_.store(false, std::memory_order_release);
    link_ = nullptr;
  }

 private:
  friend class InstrumentLink;
  explicit LinkLease(InstrumentLink* link) : link_(link) {}
  InstrumentLink* link_ = nullptr;
};

}  // namespace parlex2
