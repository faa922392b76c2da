// QNSocket: one IPv4 socket of the networking layer, either a connected
// stream (TCP) or a datagram (UDP) socket, with the options the library
// needs and one Write that sends to the peer, a destination or broadcast.
//
// Every failure is reported through the message routines (most through
// QNReportError) and shows in the result: false from Open, the negative
// platform result elsewhere. Constructing the first socket of a process
// starts the network layer (QNStartup) if nothing has yet.
#pragma once

#include <cstdint>

#include "net/qnaddress.h"

class QNSocket {
 public:
  enum Type : int32_t { TypeStream = 0, TypeDatagram = 1 };
  enum Flag : uint32_t { FlagBroadcast = 0x01, FlagReuseAddr = 0x04, FlagNoBind = 0x20 };

  QNSocket();
  ~QNSocket();
  QNSocket(const QNSocket&) = delete;
  QNSocket& operator=(const QNSocket&) = delete;

  // port in host order; host may be null or empty. A datagram socket with a
  // host resolves it as its remote address and is not bound; without one it
  // is bound to INADDR_ANY at port unless FlagNoBind is set.
  bool Open(uint16_t port, int32_t type, uint32_t flags, const char* host);
  // These four return -1 at once, reporting nothing, on a socket not open.
  int32_t Bind(const QNAddress& address);
  int32_t SetReuseAddr(bool on);
  int32_t SetNonBlocking(bool on);
  int32_t SetBroadcast(bool on);
  // Bytes sent, 0 for a negative length, negative on failure (reported).
  int32_t Write(const void* buffer, int32_t length, const QNAddress* destination);

  int32_t Handle() const { return handle_; }
  uint32_t Flags() const { return flags_; }
  int32_t SocketType() const { return type_; }
  const QNAddress& LocalAddress() const { return local_; }
  const QNAddress& RemoteAddress() const { return remote_; }

 private:
  int32_t handle_ = 0;  // only a value above 0 is an open socket
  uint32_t flags_ = 0;
  int32_t type_ = TypeStream;
  QNAddress local_;
  QNAddress remote_;
  char text_[32];
};
