#include "net/qnaddress.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/winsock.h"

QNAddress QNLoopback;

namespace {

// Shared by every address; holds "255.255.255.255" and its terminator.
char addressText[32];

}  // namespace

QNAddress::QNAddress() : name_(32) {
  std::memset(&addr_, 0, sizeof addr_);
  Set(AF_INET, INADDR_ANY, 0);
  name_.Assign("");
}

QNAddress::~QNAddress() {
  std::memset(&addr_, 0, sizeof addr_);
  name_.Release();
}

void QNAddress::Set(uint16_t family, uint32_t address, uint16_t port) {
  addr_.sin_family = family;
  addr_.sin_addr.s_addr = win::htonl(address);
  addr_.sin_port = win::htons(port);
}

bool QNAddress::GetByName(const char* host) {
  name_.Assign(host ? host : "");
  const char* text = name_.CStr();
  uint32_t dotted = win::inet_addr(text);
  if (dotted != INADDR_NONE) {
    addr_.sin_addr.s_addr = dotted;
    return true;
  }
  // A name server that did not answer the first time often does the second;
  // only the second success is worth a note.
  const hostent* entry = win::gethostbyname(text);
  if (entry && entry->h_addr_list && entry->h_addr_list[0]) {
    std::memcpy(&addr_.sin_addr.s_addr, entry->h_addr_list[0], 4);
    return true;
  }
  entry = win::gethostbyname(text);
  if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) {
    QNReportError("QNAddress:GetByName(%s) failed", text);
    return false;
  }
  std::memcpy(&addr_.sin_addr.s_addr, entry->h_addr_list[0], 4);
  QPrintf("QNAddress::GetByName(%s)='%s'\n", name_.CStr(), entry->h_name ? entry->h_name : "");
  return true;
}

const char* QNAddress::ToString() const {
  unsigned long a = win::ntohl(addr_.sin_addr.s_addr);
  std::snprintf(addressText, sizeof addressText, "%lu.%lu.%lu.%lu", a >> 24, (a >> 16) & 255,
                (a >> 8) & 255, a & 255);
  return addressText;
}

void QNReportError(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  int code = win::WSAGetLastError();
  QWarning("[QN] %s (%d)", text, code);
}
