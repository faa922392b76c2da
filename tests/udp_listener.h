// A UDP socket on 127.0.0.1, at a port of the system's choosing, that
// collects the datagrams sent to it: the remote log host of the tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testnet {

class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  uint16_t port() const { return port_; }

  // Everything that arrives until nothing has come for waitMs; every
  // datagram must come from 127.0.0.1.
  std::vector<std::string> Drain(int waitMs = 200) {
    std::vector<std::string> got;
    pollfd p{fd_, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0) {
      std::vector<char> buf(65536);
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) break;
      EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
      got.emplace_back(buf.data(), static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace testnet
