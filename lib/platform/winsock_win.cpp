#include "platform/winsock.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/host_entry.h"

namespace win {

namespace {

// The outstanding start-ups, latest last: true for one Winsock made, false
// for one the test hook granted, which Winsock must not be asked to undo.
std::vector<bool> startups;
StartupHook startupHook = nullptr;
ResolverHook resolverHook = nullptr;

}  // namespace

int WSAStartup(WORD requested, WSADATA* data) {
  WSADATA local{};
  if (!data) data = &local;
  bool made = startupHook == nullptr;
  int result = made ? ::WSAStartup(requested, data) : startupHook(requested, data);
  if (result != 0) return result;
  try {
    startups.push_back(made);
  } catch (const std::bad_alloc&) {
    if (made) ::WSACleanup();
    return WSAENOBUFS;
  }
  return 0;
}

int WSACleanup() {
  if (startups.empty()) {
    ::WSASetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
  }
  bool made = startups.back();
  startups.pop_back();
  return made ? ::WSACleanup() : 0;
}

SOCKET socket(int af, int type, int protocol) {
  // WSA_FLAG_OVERLAPPED as plain socket() has it.
  SOCKET s = ::WSASocketW(af, type, protocol, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s != INVALID_SOCKET || ::WSAGetLastError() != WSAEINVAL) return s;
  // Windows before 7 SP1 does not know the flag: clear inheritance afterwards.
  s = ::socket(af, type, protocol);
  if (s != INVALID_SOCKET)
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return s;
}

long sendto(SOCKET s, const void* buf, size_t len, int flags, const sockaddr* to,
            socklen_t tolen) {
  if (to && tolen >= static_cast<socklen_t>(sizeof(sockaddr_in)) && to->sa_family == AF_INET &&
      reinterpret_cast<const sockaddr_in*>(to)->sin_addr.s_addr == htonl(INADDR_ANY)) {
    ::WSASetLastError(WSAEADDRNOTAVAIL);
    return SOCKET_ERROR;
  }
  if (len > static_cast<size_t>(INT_MAX)) {
    ::WSASetLastError(WSAEMSGSIZE);
    return SOCKET_ERROR;
  }
  return ::sendto(s, static_cast<const char*>(buf), static_cast<int>(len), flags, to, tolen);
}

const hostent* gethostbyname(const char* name) {
  // Winsock would answer a null name with this machine's own entry.
  if (!name) {
    ::WSASetLastError(WSAEINVAL);
    return nullptr;
  }
  if (resolverHook) {
    uint32_t address = 0;
    std::string canonical;
    if (!resolverHook(name, &address, &canonical)) {
      ::WSASetLastError(WSAHOST_NOT_FOUND);
      return nullptr;
    }
    return FillHostEntry(address, canonical.c_str());
  }
  return ::gethostbyname(name);
}

void SetStartupHook(StartupHook hook) { startupHook = hook; }
int StartupCount() { return static_cast<int>(startups.size()); }
void ResetStartupCount() { startups.clear(); }
void SetResolverHook(ResolverHook hook) { resolverHook = hook; }

}  // namespace win
