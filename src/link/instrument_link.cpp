#include "link/instrument_link.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <optional>

#include "common/clock.h"
#include "common/text.h"
#include "link/binary_value.h"
#include "link/comms_log.h"
#include "link/lan.h"

namespace parlex2 {
namespace {

// Every Send and ReadLine of the program, numbered in the log (also counted
// while logging is off).
std::atomic<std::uint64_t> exchangeCounter{0};

// How often a drain looks again while nothing waits.
constexpr std::uint64_t kDrainLookMs = 10;

TransportStatus OpenRealTransport(const ConnectionSettings& settings, Clock& clock,
                                  std::unique_ptr<Transport>& transport, std::string& error) {
  switch (settings.interfaceKind) {
    case InterfaceKind::Usb:
    case InterfaceKind::Serial:
      return OpenSerialTransport(settings.comPort, settings.LineBaudRate(), transport, error);
    case InterfaceKind::Lan:
      return LanConnect(settings.ipAddress, kInstrumentPort, clock, transport, error);
    default:
      error = "no interface is configured";
      return TransportStatus::Failed;
  }
}

}  // namespace

InstrumentLink::InstrumentLink(Clock& clock) : clock_(clock) {}

InstrumentLink::~InstrumentLink() { Close(); }

void InstrumentLink::SetTransportFactory(TransportFactory factory) {
  factory_ = std::move(factory);
}

int InstrumentLink::Open() {
  if (transport_) return 0;
  lastError_.clear();
  std::unique_ptr<Transport> opened;
  const TransportStatus status = factory_ ? factory_(settings, opened, lastError_)
                                          : OpenRealTransport(settings, clock_, opened, lastError_);
  if (status != TransportStatus::Ok || !opened) return -1;
  transport_ = std::move(opened);
  openedWith_ = settings;
  if (IsLan()) transport_->SetReadTimeout(lanReadTimeout_);
  // Wake the command interpreter, then throw away whatever the instrument had
  // queued or answers to the wake byte.
  const std::uint64_t start = clock_.TickMs();
  Send(std::string_view(&kWakeByte, 1));
  DrainSince(start, 100);
  return 0;
}

bool InstrumentLink::OpenTo(const ConnectionSettings& other) const {
  if (!transport_ || openedWith_.interfaceKind != other.interfaceKind) return false;
  if (other.interfaceKind == InterfaceKind::Lan) return openedWith_.ipAddress == other.ipAddress;
  return openedWith_.comPort == other.comPort && openedWith_.baudRate == other.baudRate;
}

void InstrumentLink::Close() {
  transport_.reset();  // a LAN transport lets go of the sockets layer itself
}

std::optional<std::string> InstrumentLink::SerialNumber() const {
  auto fields = SplitText(info.idnReply, ',');
  if (fields.size() < 3) return std::nullopt;
  return fields[2];
}

void InstrumentLink::LogExchange(const char* direction, std::string_view text, bool addLineFeed) {
  const std::uint64_t exchange = ++exchangeCounter;
  if (!CommsLog::IsTraceKept()) return;
  try {
    const std::optional<std::string> serial = SerialNumber();
    char number[32];
    std::snprintf(number, sizeof number, "(%05llu) ", static_cast<unsigned long long>(exchange));
    std::string entry(number);
    entry += serial ? "[serial:" + *serial + "]" : std::string("[serial:unknown] ");
    entry += direction;
    entry += '\t';
    if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x20 && text[0] != '\n') {
      // A lone control byte (the wake byte 0x14, the boot loader's 0x19 and
      // 0x15) stands in the log as its octal escape, so the log stays text.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\%03o\n", static_cast<unsigned>(text[0]));
      entry += escaped;
    } else {
      entry += text;
      // Every entry ends its line, also a command sent without a line feed
      // (the boot loader's access codes): the next entry starts a line of its own.
      if (addLineFeed || text.empty() || text.back() != '\n') entry += '\n';
    }
    CommsLog::Write(entry, clock_);
  } catch (const std::exception& e) {
    std::cout << (e.what() && *e.what() ? e.what() : "Unknown exception") << std::endl;
  } catch (...) {
    std::cout << "Unknown error" << std::endl;
  }
}

bool InstrumentLink::IsLan() const {
  return (transport_ ? openedWith_ : settings).interfaceKind == InterfaceKind::Lan;
}

TransportStatus InstrumentLink::Write(std::string_view text) {
  if (!transport_) return TransportStatus::Failed;
  const TransportStatus status = transport_->Write(text);
  LogExchange(">>", text, false);
  return status;
}

int InstrumentLink::Send(std::string_view text) {
  if (!transport_) return -1;
  const bool sent = Write(text) == TransportStatus::Ok;
  if (IsLan()) return sent ? 0 : -1;
  return sent ? static_cast<int>(text.size()) : 0;
}

int InstrumentLink::ReadLine(char* buffer, std::size_t size) {
  if (size == 0) return -1;
  if (!transport_) {
    std::memset(buffer, 0, size);
    return -1;
  }
  std::size_t length = 0;
  const TransportStatus status = transport_->ReadLine(buffer, size, length);
  // A COM port answers the length of what came; the LAN -1 for a line that
  // did not end (time-out or lost connection).
  const int count = IsLan() && status != TransportStatus::Ok ? -1 : static_cast<int>(length);
  LogExchange("<<", std::string_view(buffer, std::strlen(buffer)), true);
  const auto first = static_cast<unsigned char>(buffer[0]);
  if (first >= 0x80) {
    unsigned char value[4] = {first, 0, 0, 0};
    for (std::size_t i = 1; i < 4 && i < size; ++i)
      value[i] = static_cast<unsigned char>(buffer[i]);
    std::string text;
    BinaryValueToText(value, &text);
    std::memset(buffer, 0, size);
    text.copy(buffer, size - 1);  // the zeroed tail ends it
  }
  return count;
}

void InstrumentLink::LogReceivedLine(std::string_view line) { LogExchange("<<", line, true); }

int InstrumentLink::ReadByte() {
  if (!transport_) return -1;
  unsigned char byte = 0;
  switch (transport_->ReadByte(byte)) {
    case TransportStatus::Ok:
      return byte;
    case TransportStatus::NothingWaiting:
      return -2;
    default:
      return -1;
  }
}

void InstrumentLink::Drain(std::uint32_t milliseconds) {
  if (transport_) DrainSince(clock_.TickMs(), milliseconds);
}

void InstrumentLink::DrainSince(std::uint64_t start, std::uint32_t milliseconds) {
  for (;;) {
    const int c = ReadByte();
    if (c >= 0) continue;
    if (c == -1 || milliseconds == 0) return;
    const std::uint64_t elapsed = clock_.TickMs() - start;
    if (elapsed > milliseconds) return;
    // Paced on the link's clock, so a test's clock (or a benchmark's faster
    // one) sets how long the drain takes.
    clock_.SleepMs(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(kDrainLookMs, std::uint64_t{milliseconds} + 1 - elapsed)));
  }
}

void InstrumentLink::WaitReadable(std::uint32_t milliseconds) {
  if (transport_) transport_->WaitReadable(milliseconds);
}

void InstrumentLink::SetReadTimeout(std::uint32_t milliseconds) {
  if (IsLan()) lanReadTimeout_ = milliseconds;
  if (transport_) transport_->SetReadTimeout(milliseconds);
}

LinkLease InstrumentLink::Lease() {
  bool free = false;
  if (!leased_.compare_exchange_strong(free, true, std::memory_order_acq_rel)) return LinkLease();
  return LinkLease(this);
}

}  // namespace parlex2
