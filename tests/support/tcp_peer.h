// A TCP peer on loopback standing in for an instrument's network interface:
// it listens on an ephemeral port, accepts one client, and lets a test send,
// receive or close.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/sockets.h"

namespace parlex2::testing {

class TcpPeer {
 public:
  // Listens on `address`:`port`, an ephemeral port when `port` is 0.
  explicit TcpPeer(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
  ~TcpPeer();
  TcpPeer(const TcpPeer&) = delete;
  TcpPeer& operator=(const TcpPeer&) = delete;

  bool listening() const { return listener_ != kNoSocket; }
  std::uint16_t port() const { return port_; }
  const std::string& address() const { return address_; }

  // Waits for the client's connection.
  bool Accept(int timeoutMs = 5000);
  // Sends every byte to the client.
  bool Send(std::string_view bytes);
  // Collects what the client sends until `count` bytes came or `timeoutMs`
  // passed without a byte.
  std::string Receive(std::size_t count, int timeoutMs = 2000);
  // Orderly close of the client connection.
  void Close();

 private:
  SocketsUser sockets_;  // first in, last out
  std::string address_;
  SocketHandle listener_ = kNoSocket;
  SocketHandle client_ = kNoSocket;
  std::uint16_t port_ = 0;
};

}  // namespace parlex2::testing
