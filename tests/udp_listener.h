// A UDP socket on 127.0.0.1, at a port of the system's choosing, that
// collects the datagrams sent to it: the remote log host of the tests.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testnet {

// Winsock's own calls on Windows, not the counted ones of lib/platform, so
// that the listener's start-up never shows in the layer's start-up count.
#if defined(_WIN32)
using Socket = SOCKET;
using AddressLength = int;
inline void CloseSocket(Socket s) { ::closesocket(s); }
inline bool Readable(Socket s, int waitMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &wait) > 0;
}
#else
using Socket = int;
using AddressLength = socklen_t;
inline void CloseSocket(Socket s) { ::close(s); }
inline bool Readable(Socket s, int waitMs) {
  pollfd p{s, POLLIN, 0};
  return ::poll(&p, 1, waitMs) > 0;
}
#endif

class Listener {
 public:
  Listener() {
#if defined(_WIN32)
    WSADATA data;
    started_ = ::WSAStartup(0x0202, &data) == 0;
#endif
    fd_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    AddressLength len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() {
    CloseSocket(fd_);
#if defined(_WIN32)
    if (started_) ::WSACleanup();
#endif
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  uint16_t port() const { return port_; }

  // Everything that arrives until nothing has come for waitMs; every
  // datagram must come from 127.0.0.1.
  std::vector<std::string> Drain(int waitMs = 200) {
    std::vector<std::string> got;
    while (Readable(fd_, waitMs)) {
      std::vector<char> buf(65536);
      sockaddr_in from{};
      AddressLength len = sizeof from;
      auto n = ::recvfrom(fd_, buf.data(), static_cast<int>(buf.size()), 0,
                          reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) break;
      EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
      got.emplace_back(buf.data(), static_cast<size_t>(n));
    }
    return got;
  }

 private:
  Socket fd_;
  [[maybe_unused]] bool started_ = false;  // Winsock was started here
  uint16_t port_ = 0;
};

}  // namespace testnet
