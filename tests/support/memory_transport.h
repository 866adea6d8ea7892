// An in-memory transport for tests: records what the program writes and hands
// out what the test (or a responder standing in for the instrument) queued.
// Which results the link gives (COM port or LAN) follows the link's interface
// kind, as with the real transports.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "common/clock.h"
#include "link/instrument_link.h"
#include "link/transport.h"

namespace parlex2::testing {

struct MemoryPeer {
  std::string written;                // every byte the program sent
  std::deque<unsigned char> pending;  // bytes waiting for the program
  bool broken = false;                // ReadByte reports an error once pending is empty
  bool failWrites = false;
  std::uint32_t readTimeout = 5000;
  // Called after each write with the bytes written; may queue a reply.
  std::function<void(MemoryPeer&, const std::string&)> respond;

  void Queue(const std::string& bytes) {
    pending.insert(pending.end(), bytes.begin(), bytes.end());
  }
};

// An instrument that answers each command (sent with its line feed) from
// `replies`; any other command gets no answer.
inline std::function<void(MemoryPeer&, const std::string&)> Answers(
    std::map<std::string, std::string> replies) {
  return [replies = std::move(replies)](MemoryPeer& peer, const std::string& command) {
    if (auto it = replies.find(command); it != replies.end()) peer.Queue(it->second);
  };
}

class MemoryTransport final : public Transport {
 public:
  explicit MemoryTransport(std::shared_ptr<MemoryPeer> peer, Clock& clock = GetClock())
      : peer_(std::move(peer)), clock_(clock) {}

  TransportStatus Write(std::string_view bytes) override {
    if (peer_->failWrites) return TransportStatus::Failed;
    std::string chunk(bytes);
    peer_->written += chunk;
    if (peer_->respond) peer_->respond(*peer_, chunk);
    return TransportStatus::Ok;
  }
  // Reads as a LAN line: CR dropped, LF ends; a line that does not end has
  // timed out (at once: nothing more will come).
  TransportStatus ReadLine(char* buffer, std::size_t size, std::size_t& length) override {
    std::memset(buffer, 0, size);
    length = 0;
    for (;;) {
      unsigned char c = 0;
      const TransportStatus status = ReadByte(c);
      if (status == TransportStatus::Failed) return status;
      if (status == TransportStatus::NothingWaiting) return TransportStatus::TimedOut;
      if (c == '\n') return TransportStatus::Ok;
      if (c == '\r') continue;
      if (length + 1 < size) buffer[length++] = static_cast<char>(c);
    }
  }
  TransportStatus ReadByte(unsigned char& byte) override {
    if (peer_->pending.empty()) {
      return peer_->broken ? TransportStatus::Failed : TransportStatus::NothingWaiting;
    }
    byte = peer_->pending.front();
    peer_->pending.pop_front();
    return TransportStatus::Ok;
  }
  // Lets time pass instead of waiting, so a fake clock moves on.
  void WaitReadable(std::uint32_t milliseconds) override {
    if (peer_->pending.empty() && !peer_->broken) clock_.SleepMs(milliseconds);
  }
  void SetReadTimeout(std::uint32_t milliseconds) override { peer_->readTimeout = milliseconds; }

 private:
  std::shared_ptr<MemoryPeer> peer_;
  Clock& clock_;
};

// A transport factory opening onto the peer `peerFor` answers for the
// settings; none (a null peer) fails the open.
inline InstrumentLink::TransportFactory PeerFactory(
    std::function<std::shared_ptr<MemoryPeer>(const ConnectionSettings&)> peerFor) {
  return [peerFor = std::move(peerFor)](const ConnectionSettings& settings,
                                        std::unique_ptr<Transport>& transport, std::string&) {
    std::shared_ptr<MemoryPeer> peer = peerFor(settings);
    if (!peer) return TransportStatus::Failed;
    transport = std::make_unique<MemoryTransport>(std::move(peer));
    return TransportStatus::Ok;
  };
}

// Makes `link` open onto `peer` instead of a real port (the link's clock
// passes time).
inline void UseMemoryPeer(InstrumentLink& link, std::shared_ptr<MemoryPeer> peer) {
  link.SetTransportFactory([&link, peer](const ConnectionSettings&,
                                         std::unique_ptr<Transport>& transport, std::string&) {
    transport = std::make_unique<MemoryTransport>(peer, link.clock());
    return TransportStatus::Ok;
  });
}

}  // namespace parlex2::testing
