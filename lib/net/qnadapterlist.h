// QNAdapterList: the hardware (MAC) addresses of the machine's Ethernet
// adapters, found and reported once, by the network start-up.
//
// The constructor walks the MIB-II interface table (ifType and ifPhysAddress
// columns) with GETNEXT through the SNMP extension agent "inetmib1.dll" and
// reports "MAC Address of interface #%i: %s\n" for every Ethernet row with a
// real address, the number being the row's place in the table. At most ten
// addresses are kept; each further one is warned about and still reported.
// Without the agent the list stays empty and nothing is said.
#pragma once

#include <cstdint>

#include "platform/snmpagent.h"

class QNAdapterList {
 public:
  static constexpr int kCapacity = 10;

  QNAdapterList();

  int Count() const { return count_; }
  const uint8_t* Address(int i) const { return addresses_[i]; }

  // Identifier helpers of the walk, on the agent's GlobalAlloc heap.
  static bool OidCopy(win::AsnObjectIdentifier* dst, const win::AsnObjectIdentifier* src);
  static void OidFree(win::AsnObjectIdentifier* oid);
  static int32_t OidCompare(const win::AsnObjectIdentifier* a, const win::AsnObjectIdentifier* b,
                            uint32_t n);
  static void VarBindFree(win::SnmpVarBind* bind);

 private:
  void Walk(win::SnmpExtensionInitFn init, win::SnmpExtensionQueryFn query);

  uint8_t addresses_[kCapacity][6] = {};
  int32_t count_ = 0;
};
