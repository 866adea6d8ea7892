// An in-memory transport for tests: records what the program writes and hands
// out what the test (or a responder standing in for the instrument) queued.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "link/instrument_link.h"
#include "link/transport.h"

namespace parlex2::testing {

struct MemoryPeer {
  std::string written;               // every byte the program sent
  std::deque<unsigned char> pending; // bytes waiting for the program
  bool broken = false;               // ReadByte reports an error once pending is empty
  bool failWrites = false;
  bool countWrites = true;           // behave as a COM port (count) or as TCP (0/-1)
  std::uint32_t readTimeout = 5000;
  // Called after each write with the bytes written; may queue a reply.
  std::function<void(MemoryPeer&, const std::string&)> respond;

  void Queue(const std::string& bytes) { pending.insert(pending.end(), bytes.begin(), bytes.end()); }
};

class MemoryTransport final : public Transport {
 public:
  explicit MemoryTransport(std::shared_ptr<MemoryPeer> peer) : peer_(std::move(peer)) {}

  int Write(std::string_view bytes) override {
    if (peer_->failWrites) return peer_->countWrites ? 0 : -1;
    std::string chunk(bytes);
    peer_->written += chunk;
    if (peer_->respond) peer_->respond(*peer_, chunk);
    return peer_->countWrites ? static_cast<int>(bytes.size()) : 0;
  }
  // Reads as a LAN line: CR dropped, LF ends; -1 when nothing more comes.
  int ReadLine(char* buffer, std::size_t size) override {
    std::memset(buffer, 0, size);
    std::size_t stored = 0;
    for (;;) {
      int c = ReadByte();
      if (c < 0) return peer_->countWrites ? static_cast<int>(stored) : -1;
      if (c == '\n') return static_cast<int>(stored);
      if (c == '\r') continue;
      if (stored + 1 < size) buffer[stored++] = static_cast<char>(c);
    }
  }
  int ReadByte() override {
    if (peer_->pending.empty()) return peer_->broken ? -1 : -2;
    int c = peer_->pending.front();
    peer_->pending.pop_front();
    return c;
  }
  // Lets time pass instead of waiting, so a fake clock moves on.
  void WaitReadable(std::uint32_t milliseconds) override {
    if (peer_->pending.empty()) GetClock().SleepMs(milliseconds);
  }
  void SetReadTimeout(std::uint32_t milliseconds) override { peer_->readTimeout = milliseconds; }
  bool WriteReturnsCount() const override { return peer_->countWrites; }

 private:
  std::shared_ptr<MemoryPeer> peer_;
};

// Makes `link` open onto `peer` instead of a real port.
inline void UseMemoryPeer(InstrumentLink& link, std::shared_ptr<MemoryPeer> peer) {
  link.SetTransportFactory([peer](const ConnectionSettings&, std::string*) {
    return std::make_unique<MemoryTransport>(peer);
  });
}

}  // namespace parlex2::testing
