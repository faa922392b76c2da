#include "platform/winsock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host_entry.h"

namespace win {

namespace {

int startups = 0;
StartupHook startupHook = nullptr;
ResolverHook resolverHook = nullptr;

}  // namespace

int WSAStartup(WORD requested, WSADATA* data) {
  WSADATA local;
  if (!data) data = &local;
  int result = 0;
  if (startupHook) {
    result = startupHook(requested, data);
  } else {
    int major = requested & 0xFF;
    int minor = requested >> 8;
    bool offered = (major == 1 && minor >= 1) || (major == 2 && minor <= 2);
    data->wVersion = offered ? requested : MAKEWORD(2, 2);
    data->wHighVersion = MAKEWORD(2, 2);
  }
  if (result == 0) ++startups;
  return result;
}

int WSACleanup() {
  if (startups == 0) return SOCKET_ERROR;
  --startups;
  return 0;
}

int WSAGetLastError() { return errno; }

void WSASetLastError(int error) { errno = error; }

SOCKET socket(int af, int type, int protocol) {
  return ::socket(af, type | SOCK_CLOEXEC, protocol);
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
  return ::connect(s, name, static_cast<socklen_t>(namelen)) == 0 ? 0 : SOCKET_ERROR;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  return ::bind(s, name, static_cast<socklen_t>(namelen)) == 0 ? 0 : SOCKET_ERROR;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  int rc = ::setsockopt(s, level, optname, optval, static_cast<socklen_t>(optlen));
  return rc == 0 ? 0 : SOCKET_ERROR;
}

int send(SOCKET s, const char* buf, int len, int flags) {
  if (len < 0) {
    errno = EINVAL;
    return SOCKET_ERROR;
  }
  ssize_t sent = ::send(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL);
  return sent < 0 ? SOCKET_ERROR : static_cast<int>(sent);
}

int closesocket(SOCKET s) { return ::close(s) == 0 ? 0 : SOCKET_ERROR; }

int ioctlsocket(SOCKET s, unsigned long cmd, unsigned long* arg) {
  if (cmd != static_cast<unsigned long>(FIONBIO) || !arg) {
    errno = EINVAL;
    return SOCKET_ERROR;
  }
  int on = *arg ? 1 : 0;
  return ::ioctl(s, FIONBIO, &on) == 0 ? 0 : SOCKET_ERROR;
}

long sendto(SOCKET s, const void* buf, size_t len, int flags, const sockaddr* to,
            socklen_t tolen) {
  if (to && tolen >= static_cast<socklen_t>(sizeof(sockaddr_in)) && to->sa_family == AF_INET &&
      reinterpret_cast<const sockaddr_in*>(to)->sin_addr.s_addr == htonl(INADDR_ANY)) {
    errno = EADDRNOTAVAIL;
    return SOCKET_ERROR;
  }
  ssize_t sent = ::sendto(s, buf, len, flags | MSG_NOSIGNAL, to, tolen);
  return sent < 0 ? SOCKET_ERROR : static_cast<long>(sent);
}

const hostent* gethostbyname(const char* name) {
  if (!name) {
    errno = EINVAL;
    return nullptr;
  }
  if (resolverHook) {
    uint32_t address = 0;
    std::string canonical;
    if (!resolverHook(name, &address, &canonical)) {
      errno = EAI_NONAME;
      return nullptr;
    }
    return FillHostEntry(address, canonical.c_str());
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(name, nullptr, &hints, &found);
  if (rc != 0 || !found) {
    if (rc != EAI_SYSTEM) errno = rc != 0 ? rc : EAI_NONAME;
    if (found) ::freeaddrinfo(found);
    return nullptr;
  }
  uint32_t address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  const hostent* entry = FillHostEntry(address, found->ai_canonname ? found->ai_canonname : name);
  ::freeaddrinfo(found);
  return entry;
}

uint32_t htonl(uint32_t hostlong) { return ::htonl(hostlong); }
uint16_t htons(uint16_t hostshort) { return ::htons(hostshort); }
uint32_t ntohl(uint32_t netlong) { return ::ntohl(netlong); }
uint16_t ntohs(uint16_t netshort) { return ::ntohs(netshort); }
uint32_t inet_addr(const char* cp) { return ::inet_addr(cp); }

void SetStartupHook(StartupHook hook) { startupHook = hook; }
int StartupCount() { return startups; }
void ResetStartupCount() { startups = 0; }
void SetResolverHook(ResolverHook hook) { resolverHook = hook; }

}  // namespace win
