#include "net/qnadapterlist.h"

#include <cstdio>
#include <cstring>

#include "msg/qlog.h"
#include "platform/perfcounter.h"
#include "platform/winsock.h"

namespace {

using namespace win;

UINT ifTypeIds[] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 3};
UINT ifPhysAddressIds[] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 6};
const AsnObjectIdentifier kIfType = {10, ifTypeIds};
const AsnObjectIdentifier kIfPhysAddress = {10, ifPhysAddressIds};

constexpr int32_t kEthernetCsmacd = 6;

}  // namespace

bool QNAdapterList::OidCopy(AsnObjectIdentifier* dst, const AsnObjectIdentifier* src) {
  dst->ids = static_cast<UINT*>(GlobalAlloc(GPTR, src->idLength * sizeof(UINT)));
  if (!dst->ids) {
    SetLastError(1);
    return false;
  }
  if (src->idLength) std::memcpy(dst->ids, src->ids, src->idLength * sizeof(UINT));
  dst->idLength = src->idLength;
  return true;
}

void QNAdapterList::OidFree(AsnObjectIdentifier* oid) {
  GlobalFree(oid->ids);
  oid->ids = nullptr;
  oid->idLength = 0;
}

int32_t QNAdapterList::OidCompare(const AsnObjectIdentifier* a, const AsnObjectIdentifier* b,
                                  uint32_t n) {
  uint32_t m = n;
  if (a->idLength < m) m = a->idLength;
  if (b->idLength < m) m = b->idLength;
  for (uint32_t i = 0; i < m; ++i)
    if (a->ids[i] != b->ids[i])
      return static_cast<int32_t>(a->ids[i] - b->ids[i]);
  return 0;
}

void QNAdapterList::VarBindFree(SnmpVarBind* bind) {
  OidFree(&bind->name);
  switch (bind->value.asnType) {
    case ASN_OBJECTIDENTIFIER:
      OidFree(&bind->value.asnValue.object);
      break;
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
    case ASN_SEQUENCE:
      if (bind->value.asnValue.string.dynamic) {
        GlobalFree(bind->value.asnValue.string.stream);
        bind->value.asnValue.string.stream = nullptr;
        bind->value.asnValue.string.dynamic = 0;
      }
      break;
    default:
      break;
  }
  bind->value.asnType = ASN_NULL;
}

QNAdapterList::QNAdapterList() {
  count_ = 0;
  WSADATA data;
  // Spelled win:: here: on Windows the plain names are also the system's
  // own, which win:: wraps.
  if (win::WSAStartup(0x0002, &data) != 0) {
    std::fputs("This program requires Winsock 2.x!\n", stderr);
    return;
  }
  HMODULE agent = win::LoadLibraryA("inetmib1.dll");
  if (reinterpret_cast<uintptr_t>(agent) >= 32) {
    // Through void (*)(), the generic function pointer, from the loader's own.
    auto init = reinterpret_cast<SnmpExtensionInitFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(agent, "SnmpExtensionInit")));
    auto query = reinterpret_cast<SnmpExtensionQueryFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(agent, "SnmpExtensionQuery")));
    // An agent without both entry points cannot be walked: stay empty.
    if (init && query) Walk(init, query);
  }
  win::WSACleanup();
}

void QNAdapterList::Walk(SnmpExtensionInitFn init, SnmpExtensionQueryFn query) {
  HANDLE trapEvent = nullptr;
  AsnObjectIdentifier supportedView{0, nullptr};
  init(GetTickCount(), &trapEvent, &supportedView);

  SnmpVarBind binds[2];
  std::memset(binds, 0, sizeof binds);
  binds[0].value.asnType = ASN_NULL;
  binds[1].value.asnType = ASN_NULL;
  SnmpVarBindList list{binds, 2};
  if (!OidCopy(&binds[0].name, &kIfType) || !OidCopy(&binds[1].name, &kIfPhysAddress)) {
    VarBindFree(&binds[0]);
    VarBindFree(&binds[1]);
    return;
  }

  int interfaceNumber = 0;
  for (;;) {
    AsnInteger32 errorStatus = 0;
    AsnInteger32 errorIndex = 0;
    if (!query(SNMP_PDU_GETNEXT, &list, &errorStatus, &errorIndex)) break;
    if (OidCompare(&binds[0].name, &kIfType, 10) != 0) break;
    ++interfaceNumber;  // every row counts, whatever its type
    if (binds[0].value.asnType != ASN_INTEGER || binds[0].value.asnValue.number != kEthernetCsmacd)
      continue;
    if (OidCompare(&binds[1].name, &kIfPhysAddress, 10) != 0) break;
    const AsnOctetString& phys = binds[1].value.asnValue.string;
    // Fewer than six bytes is no Ethernet address; the row is passed over.
    if (binds[1].value.asnType != ASN_OCTETSTRING || !phys.stream || phys.length < 6) continue;
    const uint8_t* mac = phys.stream;
    static const uint8_t kDest[5] = {0x44, 0x45, 0x53, 0x54, 0x00};
    if (std::memcmp(mac, kDest, 5) == 0) continue;
    static const uint8_t kZero[6] = {};
    if (std::memcmp(mac, kZero, 6) == 0) continue;
    if (count_ < kCapacity) {
      std::memcpy(addresses_[count_], mac, 6);
      ++count_;
    } else {
      QWarning("Too many network adapters found (max=%d)", kCapacity);
    }
    char text[13];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    QInfo("MAC Address of interface #%i: %s\n", interfaceNumber, text);
  }
  VarBindFree(&binds[0]);
  VarBindFree(&binds[1]);
}
