// The Winsock calls the networking layer (lib/net) is written against.
//
// On Windows they are the real Winsock 2, with thin wrappers where the layer
// needs more than Winsock gives: start-ups counted and replaceable by tests,
// host look-ups replaceable by tests, sockets that no child process
// inherits, and sendto refusing the wildcard address 0.0.0.0 itself.
//
// Elsewhere they are stand-ins. The layer keeps the Winsock shape: a
// start-up that grants a version, a last socket error, closesocket and
// ioctlsocket, a host look-up returning a host entry. Here they sit on POSIX
// sockets: start-up needs no work and grants what is asked up to 2.2, the
// last socket error is errno, FIONBIO is the platform's own, and the host
// look-up is getaddrinfo for IPv4 with the canonical name. socket, connect,
// bind, setsockopt and send take Winsock's argument types; the byte-order
// and dotted-decimal helpers are functions, as Winsock has them.
//
// Nothing here throws or aborts; failures come back as the Winsock results
// (SOCKET_ERROR, INVALID_SOCKET, a null host entry) with the error in
// WSAGetLastError (errno for the stand-ins).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// Winsock makes these macros, which would rewrite the names win:: declares.
// They become constants of the same value, at global scope too, so that
// code written against the plain Winsock names still compiles.
namespace win::detail {
constexpr ::SOCKET kInvalidSocket = INVALID_SOCKET;
constexpr int kSocketError = SOCKET_ERROR;
constexpr int kNotSocket = WSAENOTSOCK;
}  // namespace win::detail
#undef INVALID_SOCKET
#undef SOCKET_ERROR
#undef WSAENOTSOCK
#undef MAKEWORD

namespace win {

using ::WORD;
using ::SOCKET;
using ::WSADATA;
constexpr SOCKET INVALID_SOCKET = detail::kInvalidSocket;
constexpr int SOCKET_ERROR = detail::kSocketError;
constexpr int WSAENOTSOCK = detail::kNotSocket;

constexpr WORD MAKEWORD(int low, int high) {
  return static_cast<WORD>((low & 0xFF) | ((high & 0xFF) << 8));
}

// Counted, so that StartupCount sees them, and replaceable by the hook;
// WSACleanup undoes the latest start-up, calling Winsock only for one that
// Winsock made.
int WSAStartup(WORD requested, WSADATA* data);
int WSACleanup();
using ::WSAGetLastError;
using ::WSASetLastError;

// Opens with WSA_FLAG_NO_HANDLE_INHERIT, so that no program started later
// inherits it.
SOCKET socket(int af, int type, int protocol);
using ::connect;
using ::bind;
using ::setsockopt;
// Windows raises no signal for a peer that has gone: the send just fails.
using ::send;
using ::closesocket;
using ::ioctlsocket;

// Winsock's sendto, taking the layer's argument types; the wildcard address
// 0.0.0.0 is refused here with WSAEADDRNOTAVAIL, as Winsock refuses it,
// because some Winsock implementations deliver such a datagram locally.
long sendto(SOCKET s, const void* buf, size_t len, int flags, const sockaddr* to,
            socklen_t tolen);

// IPv4 host look-up through Winsock's gethostbyname (per-thread entry that
// the next look-up overwrites); null with the Winsock error on failure, or
// for a null name.
const hostent* gethostbyname(const char* name);

using ::htonl;
using ::htons;
using ::ntohl;
using ::ntohs;
using ::inet_addr;

}  // namespace win

using win::INVALID_SOCKET;
using win::MAKEWORD;
using win::SOCKET_ERROR;
using win::WSAENOTSOCK;

#else  // !_WIN32

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

// glibc makes the byte-order helpers macros when optimising, which would
// rewrite the names declared below; its functions stay declared.
#undef htonl
#undef htons
#undef ntohl
#undef ntohs

namespace win {

using WORD = uint16_t;
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr WORD MAKEWORD(int low, int high) {
  return static_cast<WORD>((low & 0xFF) | ((high & 0xFF) << 8));
}

struct WSADATA {
  WORD wVersion = 0;      // low byte major, high byte minor
  WORD wHighVersion = 0;  // the highest version this stand-in offers: 2.2
};

// Grants the requested version when it is at least 1.1 and at most 2.2,
// else 2.2 (as Winsock answers a request above what it offers). Returns 0.
int WSAStartup(WORD requested, WSADATA* data);
// Undoes one start-up; SOCKET_ERROR when none is outstanding.
int WSACleanup();
// The error of the last failed socket call: errno.
int WSAGetLastError();
void WSASetLastError(int error);
// Winsock's name for a call on something that is not a socket.
constexpr int WSAENOTSOCK = ENOTSOCK;

// Opens close-on-exec, so that no program started later inherits it.
SOCKET socket(int af, int type, int protocol);
int connect(SOCKET s, const sockaddr* name, int namelen);
int bind(SOCKET s, const sockaddr* name, int namelen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
// Bytes sent or SOCKET_ERROR; a peer that has gone raises no SIGPIPE, the
// send fails with EPIPE instead.
int send(SOCKET s, const char* buf, int len, int flags);
int closesocket(SOCKET s);
// FIONBIO with *arg non-zero switches non-blocking mode on, zero off.
int ioctlsocket(SOCKET s, unsigned long cmd, unsigned long* arg);

// Like POSIX sendto, except that the wildcard address 0.0.0.0 is refused
// with EADDRNOTAVAIL, as Winsock refuses it. Linux would instead deliver
// such a datagram to a local port, so the logs of an unresolvable log host
// would land at whatever listens on this machine.
long sendto(SOCKET s, const void* buf, size_t len, int flags, const sockaddr* to,
            socklen_t tolen);

// IPv4 host look-up: h_name is the canonical name, h_addr_list[0] the first
// address (4 bytes, network order). The entry lives in static storage that
// the next look-up overwrites. On failure null, with errno set to the
// resolver's code (glibc's negative EAI_ value, or the system error).
const hostent* gethostbyname(const char* name);

uint32_t htonl(uint32_t hostlong);
uint16_t htons(uint16_t hostshort);
uint32_t ntohl(uint32_t netlong);
uint16_t ntohs(uint16_t netshort);
// The address (network order) of dotted-decimal text; INADDR_NONE for text
// that is not one.
uint32_t inet_addr(const char* cp);

}  // namespace win

#endif  // _WIN32

namespace win {

// --- For tests only; the programs never call these. ---

// Replaces the start-up: the hook fills *data and returns the result that
// WSAStartup should give. Null restores the platform's own start-up.
using StartupHook = int (*)(WORD requested, WSADATA* data);
void SetStartupHook(StartupHook hook);
// Number of successful WSAStartup calls not yet undone by WSACleanup.
int StartupCount();
// Forgets the outstanding start-ups. On Windows those Winsock made stay
// made: sockets of the test itself keep working.
void ResetStartupCount();

// Replaces the host look-up: return true and fill the IPv4 address (network
// order) and canonical name, or false for a name that does not resolve.
// Null restores the platform's look-up. Keeps unit tests off the network's
// resolver. A name that does not resolve fails as Winsock fails it
// (WSAHOST_NOT_FOUND on Windows, EAI_NONAME elsewhere).
using ResolverHook = bool (*)(const char* name, uint32_t* address, std::string* canonical);
void SetResolverHook(ResolverHook hook);

}  // namespace win
