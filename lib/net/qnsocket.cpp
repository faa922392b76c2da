#include "net/qnsocket.h"

#include <cstring>

#include "net/qnstartup.h"
#include "platform/winsock.h"

QNSocket::QNSocket() {
  if (!QNStarted) QNStartup();
  handle_ = 0;
  flags_ = 0;
  text_[0] = '\0';
}

QNSocket::~QNSocket() {
  if (handle_ > 0) win::closesocket(handle_);
}

bool QNSocket::Open(uint16_t port, int32_t type, uint32_t flags, const char* host) {
  flags_ |= flags;
  type_ = type;
  if (type == TypeStream) {
    handle_ = static_cast<int32_t>(win::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  } else if (type == TypeDatagram) {
    handle_ = static_cast<int32_t>(win::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  } else {
    QNReportError("QNSocket:Open(); unknown type %d", type);
    return false;
  }
  // Windows socket handles fit in 32 bits, as all kernel handles do.
  if (handle_ == static_cast<int32_t>(win::INVALID_SOCKET)) {
    QNReportError("QNSocket:Open(); can't create socket");
    return false;
  }

  if (type == TypeStream) {
    const hostent* entry = win::gethostbyname(host ? host : "");
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) {
      QWarning("QClientSocket::Open(); host '%s' unknown", host ? host : "");
      return false;
    }
    sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    size_t length = entry->h_length > 0 ? static_cast<size_t>(entry->h_length) : 0;
    if (length > sizeof peer.sin_addr) length = sizeof peer.sin_addr;
    std::memcpy(&peer.sin_addr, entry->h_addr_list[0], length);
    peer.sin_port = win::htons(port);
    if (win::connect(handle_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) ==
        win::SOCKET_ERROR) {
      QWarning("QSocket::Open(); can't connect to '%s'", host ? host : "");
      return false;
    }
    return true;
  }

  if ((flags_ & FlagReuseAddr) && SetReuseAddr(true) < 0) return false;
  local_.Set(AF_INET, INADDR_ANY, port);
  remote_.Set(AF_INET, INADDR_ANY, port);
  if (host && host[0]) {
    // An unresolvable host has been reported by GetByName; the socket stays
    // usable with the wildcard remote address.
    remote_.GetByName(host);
  } else if (!(flags_ & FlagNoBind)) {
    if (Bind(local_) < 0) return false;
  }
  if ((flags_ & FlagBroadcast) && SetBroadcast(true) < 0) return false;
  return true;
}

int32_t QNSocket::Bind(const QNAddress& address) {
  if (handle_ <= 0) return -1;
  int rc = win::bind(handle_, reinterpret_cast<const sockaddr*>(&address.SockAddr()),
                     sizeof(sockaddr_in));
  if (rc < 0) QNReportError("QNSocket:Bind(); can't bind to address %s", address.ToString());
  return rc;
}

int32_t QNSocket::SetReuseAddr(bool on) {
  if (handle_ <= 0) return -1;
  int32_t value = on ? 1 : 0;
  int rc = win::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&value),
                           sizeof value);
  if (rc < 0) QNReportError("QNSocket:SetReuseAddr(); can't set");
  return rc;
}

int32_t QNSocket::SetNonBlocking(bool on) {
  if (handle_ <= 0) return -1;
  unsigned long value = on ? 1 : 0;
  int rc = win::ioctlsocket(handle_, FIONBIO, &value);
  if (rc < 0) QNReportError("QNSocket:SetNonBlocking(); can't set");
  return rc;
}

int32_t QNSocket::SetBroadcast(bool on) {
  if (handle_ <= 0) return -1;
  int32_t value = on ? 1 : 0;
  int rc = win::setsockopt(handle_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&value),
                           sizeof value);
  if (rc < 0) QNReportError("QNSocket:SetBroadcast(); can't set");
  if (on)
    flags_ |= FlagBroadcast;
  else
    flags_ &= ~static_cast<uint32_t>(FlagBroadcast);
  return rc;
}

int32_t QNSocket::Write(const void* buffer, int32_t length, const QNAddress* destination) {
  if (length < 0) return 0;
  long rc;
  if (handle_ <= 0) {
    // Not open: descriptor 0 is this process's standard input, never a
    // socket of ours, so nothing may be sent on it. Fail as the platform
    // fails a send on something that is not a socket.
    win::WSASetLastError(win::WSAENOTSOCK);
    rc = win::SOCKET_ERROR;
  } else if (type_ != TypeDatagram) {
    rc = win::send(handle_, static_cast<const char*>(buffer), length, 0);
  } else if (flags_ & FlagBroadcast) {
    local_.SockAddr().sin_addr.s_addr = win::htonl(INADDR_BROADCAST);
    rc = win::sendto(handle_, buffer, static_cast<size_t>(length), 0,
                     reinterpret_cast<const sockaddr*>(&local_.SockAddr()), sizeof(sockaddr_in));
  } else if (destination) {
    rc = win::sendto(handle_, buffer, static_cast<size_t>(length), 0,
                     reinterpret_cast<const sockaddr*>(&destination->SockAddr()),
                     sizeof(sockaddr_in));
  } else {
    // No destination for an unconnected datagram: the platform call fails
    // and is reported like any other failed send.
    rc = win::sendto(handle_, buffer, static_cast<size_t>(length), 0, nullptr, 0);
  }
  if (rc < 0) {
    QNReportError("QNSocket:Write(); failed");
    if (destination) QInfo("Addr %s", destination->ToString());
  }
  return static_cast<int32_t>(rc);
}
