// A stand-in for the system's MIB-II extension agent "inetmib1.dll", built
// beside the Windows test programs and loaded in place of the system's one
// (under wine: WINEDLLOVERRIDES=inetmib1=n). It serves the two columns the
// adapter walk reads, ifType and ifPhysAddress, for a fixed table, so the
// walk's report does not depend on the machine or on wine's own agent:
//   row 1: loopback (type 24), no hardware address
//   row 2: Ethernet (type 6), 02:11:22:33:44:55
// Like the system's agent, it replaces the bindings it is handed, freeing
// what they held and allocating the new names and values with
// SnmpUtilMemAlloc, which the caller frees with GlobalFree.
#include <windows.h>
#include <snmp.h>

#include <cstring>

namespace {

UINT interfacesIds[] = {1, 3, 6, 1, 2, 1, 2};
AsnObjectIdentifier interfacesView = {7, interfacesIds};

const UINT kEntry[] = {1, 3, 6, 1, 2, 1, 2, 2, 1};  // ifEntry
constexpr UINT kEntryLength = 9;
constexpr UINT kObjectLength = kEntryLength + 2;      // column and ifIndex follow

struct Row {
  UINT index;
  AsnInteger32 type;
  BYTE address[6];
  UINT addressLength;
};
const Row kRows[] = {
    {1, 24, {}, 0},
    {2, 6, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, 6},
};
const UINT kColumns[] = {3, 6};  // ifType, ifPhysAddress

void objectIds(UINT column, const Row& row, UINT* ids) {
  std::memcpy(ids, kEntry, sizeof kEntry);
  ids[kEntryLength] = column;
  ids[kEntryLength + 1] = row.index;
}

int compare(const UINT* a, UINT alen, const UINT* b, UINT blen) {
  UINT n = alen < blen ? alen : blen;
  for (UINT i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  if (alen == blen) return 0;
  return alen < blen ? -1 : 1;
}

// The first served object after name in the order GETNEXT walks: column by
// column, rows in index order.
bool successor(const AsnObjectIdentifier& name, UINT* column, const Row** row) {
  UINT ids[kObjectLength];
  for (UINT c : kColumns) {
    for (const Row& r : kRows) {
      objectIds(c, r, ids);
      if (compare(ids, kObjectLength, name.ids, name.ids ? name.idLength : 0) > 0) {
        *column = c;
        *row = &r;
        return true;
      }
    }
  }
  return false;
}

bool store(SnmpVarBind* bind, UINT column, const Row& row) {
  UINT* ids = static_cast<UINT*>(SnmpUtilMemAlloc(kObjectLength * sizeof(UINT)));
  if (!ids) return false;
  BYTE* data = nullptr;
  if (column == 6 && row.addressLength > 0) {
    data = static_cast<BYTE*>(SnmpUtilMemAlloc(row.addressLength));
    if (!data) {
      SnmpUtilMemFree(ids);
      return false;
    }
    std::memcpy(data, row.address, row.addressLength);
  }
  objectIds(column, row, ids);
  SnmpUtilOidFree(&bind->name);
  bind->name.ids = ids;
  bind->name.idLength = kObjectLength;
  SnmpUtilAsnAnyFree(&bind->value);
  if (column == 3) {
    bind->value.asnType = ASN_INTEGER;
    bind->value.asnValue.number = row.type;
  } else {
    bind->value.asnType = ASN_OCTETSTRING;
    bind->value.asnValue.string.stream = data;
    bind->value.asnValue.string.length = data ? row.addressLength : 0;
    bind->value.asnValue.string.dynamic = data != nullptr;
  }
  return true;
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI SnmpExtensionInit(DWORD, HANDLE* trapEvent,
                                                    AsnObjectIdentifier* supportedView) {
  if (trapEvent) *trapEvent = nullptr;
  if (supportedView) *supportedView = interfacesView;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI SnmpExtensionQuery(BYTE pduType, SnmpVarBindList* bindings,
                                                     AsnInteger32* errorStatus,
                                                     AsnInteger32* errorIndex) {
  AsnInteger32 status = SNMP_ERRORSTATUS_NOERROR;
  AsnInteger32 index = 0;
  if (pduType != SNMP_PDU_GETNEXT || !bindings || (bindings->len && !bindings->list)) {
    status = SNMP_ERRORSTATUS_GENERR;
  } else {
    // Every binding must have a successor before any is replaced: a GETNEXT
    // that runs off the table fails whole and leaves the bindings as they were.
    for (UINT i = 0; i < bindings->len && status == SNMP_ERRORSTATUS_NOERROR; ++i) {
      UINT column;
      const Row* row;
      if (!successor(bindings->list[i].name, &column, &row)) {
        status = SNMP_ERRORSTATUS_NOSUCHNAME;
        index = static_cast<AsnInteger32>(i + 1);
      }
    }
    for (UINT i = 0; i < bindings->len && status == SNMP_ERRORSTATUS_NOERROR; ++i) {
      UINT column;
      const Row* row;
      successor(bindings->list[i].name, &column, &row);
      if (!store(&bindings->list[i], column, *row)) {
        status = SNMP_ERRORSTATUS_GENERR;
        index = static_cast<AsnInteger32>(i + 1);
      }
    }
  }
  if (errorStatus) *errorStatus = status;
  if (errorIndex) *errorIndex = index;
  return status == SNMP_ERRORSTATUS_NOERROR;
}

}  // extern "C"
