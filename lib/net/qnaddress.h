// QNAddress: an IPv4 endpoint of the networking layer, and QNReportError,
// the layer's reporter of socket-level failures.
//
// The address is the platform's 16-byte sockaddr_in record (family in host
// order, port and address in network order, zero filler), handed unchanged
// to bind, connect and sendto, plus the host name last given to GetByName.
// ToString returns text in one static buffer shared by all addresses: the
// next call overwrites it. Nothing throws; GetByName reports its own failure.
#pragma once

#include <cstdint>

#include "msg/qlog.h"
#include "platform/winsock.h"
#include "text/qstr.h"

class QNAddress {
 public:
  QNAddress();
  ~QNAddress();
  QNAddress(const QNAddress&) = delete;
  QNAddress& operator=(const QNAddress&) = delete;

  // Address and port in host order; the name is left as it is.
  void Set(uint16_t family, uint32_t address, uint16_t port);
  // Dotted decimal first, then two host look-ups. The name takes the text in
  // every case; on failure the address keeps its previous value and the
  // failure is reported as "QNAddress:GetByName(%s) failed".
  bool GetByName(const char* host);
  // Dotted decimal of the address, without the port.
  const char* ToString() const;

  const sockaddr_in& SockAddr() const { return addr_; }
  sockaddr_in& SockAddr() { return addr_; }
  const QStr& Name() const { return name_; }

 private:
  sockaddr_in addr_;
  QStr name_;
};

static_assert(sizeof(sockaddr_in) == 16, "the socket calls take a 16-byte record");

// Set to 127.0.0.1 by the network start-up; nothing else reads it.
extern QNAddress QNLoopback;

// Warns "[QN] %s (%d)" with the formatted text (cut to 1023 characters) and
// the platform's last socket error, read after the formatting.
void QNReportError(const char* format, ...) QPRINTF_CHECK(1, 2);
