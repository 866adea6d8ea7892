// A listening TCP socket on 127.0.0.1 for the benchmarks' raw-socket peers and
// baselines, at a port the system chooses.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace parlex2::bench {

// The listening socket; its port is put in `port`.
inline int ListenOnLoopback(std::uint16_t& port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  listen(fd, backlog);
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
  port = ntohs(at.sin_port);
  return fd;
}

}  // namespace parlex2::bench
