// The host entry the look-up hands out when it answers itself (a test's
// resolver, or getaddrinfo on POSIX): one entry, kept like Winsock's own
// until the next look-up overwrites it. Include after platform/winsock.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace win {

inline const hostent* FillHostEntry(uint32_t address, const char* canonical) {
  static struct {
    hostent entry;
    char name[256];
    in_addr address;
    char* addresses[2];
    char* aliases[1];
  } host;
  std::memset(&host, 0, sizeof host);
  std::snprintf(host.name, sizeof host.name, "%s", canonical ? canonical : "");
  host.address.s_addr = address;
  host.addresses[0] = reinterpret_cast<char*>(&host.address);
  host.entry.h_name = host.name;
  host.entry.h_aliases = host.aliases;
  host.entry.h_addrtype = AF_INET;
  host.entry.h_length = 4;
  host.entry.h_addr_list = host.addresses;
  return &host.entry;
}

}  // namespace win
