// Stand-in for the platform's SNMP extension agent of the Internet MIB and
// the few kernel calls the adapter walk (net/qnadapterlist) makes around it.
//
// The walk loads "inetmib1.dll" and asks its two entry points for GETNEXT
// over the MIB-II interface table. Here LoadLibraryA hands out a built-in
// agent under that name which serves just the two columns the walk reads,
// ifType (1.3.6.1.2.1.2.2.1.3) and ifPhysAddress (1.3.6.1.2.1.2.2.1.6), from
// the machine's interface table: rows in interface index order, type 6
// (ethernetCsmacd) for ARPHRD_ETHER, 24 for loopback, 1 otherwise, and the
// hardware address the kernel shows under /sys/class/net. Identifier arrays
// and octet strings live on the GlobalAlloc heap, as with the real agent, so
// the walk frees them with GlobalFree.
//
// Tests replace the table (SetInterfaceTable) or make the agent absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace win {

using BOOL = int;
using BYTE = uint8_t;
using UINT = unsigned int;
using DWORD = uint32_t;
using HANDLE = void*;
using HMODULE = void*;
using FARPROC = void (*)();
using AsnInteger32 = int32_t;

constexpr UINT GPTR = 0x40;

constexpr BYTE ASN_INTEGER = 0x02;
constexpr BYTE ASN_OCTETSTRING = 0x04;
constexpr BYTE ASN_NULL = 0x05;
constexpr BYTE ASN_OBJECTIDENTIFIER = 0x06;
constexpr BYTE ASN_SEQUENCE = 0x30;
constexpr BYTE ASN_IPADDRESS = 0x40;
constexpr BYTE ASN_OPAQUE = 0x44;

constexpr BYTE SNMP_PDU_GETNEXT = 0xA1;
constexpr AsnInteger32 SNMP_ERRORSTATUS_NOERROR = 0;
constexpr AsnInteger32 SNMP_ERRORSTATUS_NOSUCHNAME = 2;

struct AsnObjectIdentifier {
  UINT idLength;
  UINT* ids;
};

struct AsnOctetString {
  BYTE* stream;
  UINT length;
  BOOL dynamic;  // the stream is on the GlobalAlloc heap and owned by the binding
};

struct AsnAny {
  BYTE asnType;
  union {
    AsnInteger32 number;
    AsnOctetString string;
    AsnObjectIdentifier object;
  } asnValue;
};

struct SnmpVarBind {
  AsnObjectIdentifier name;
  AsnAny value;
};

struct SnmpVarBindList {
  SnmpVarBind* list;
  UINT len;
};

using SnmpExtensionInitFn = BOOL (*)(DWORD uptimeReference, HANDLE* trapEvent,
                                     AsnObjectIdentifier* supportedView);
using SnmpExtensionQueryFn = BOOL (*)(BYTE pduType, SnmpVarBindList* bindings,
                                      AsnInteger32* errorStatus, AsnInteger32* errorIndex);

// Fixed, zero-filled memory (GPTR) or null; GlobalFree(null) does nothing.
void* GlobalAlloc(UINT flags, size_t bytes);
void GlobalFree(void* block);
void SetLastError(DWORD code);
DWORD GetLastError();

// Only "inetmib1.dll" loads (a handle value of at least 32); anything else,
// or the agent made absent by a test, gives 0.
HMODULE LoadLibraryA(const char* name);
// "SnmpExtensionInit" and "SnmpExtensionQuery" of the built-in agent; null
// for any other name or handle.
FARPROC GetProcAddress(HMODULE module, const char* name);

// One row of the interface table as the agent serves it.
struct InterfaceRow {
  uint32_t index;              // ifIndex, the last sub-identifier of the row's objects
  int32_t type;                // ifType
  std::vector<uint8_t> address;  // ifPhysAddress; empty gives no data pointer
};

// The machine's table: /sys/class/net/*/ifindex, type and address, in index order.
std::vector<InterfaceRow> KernelInterfaceTable();

// --- For tests only; the programs never call these. ---

// Serves rows (sorted by index here) instead of the kernel's table until
// ClearInterfaceTable. Reading the table counts in TableReads.
void SetInterfaceTable(std::vector<InterfaceRow> rows);
void ClearInterfaceTable();
int TableReads();
// false makes LoadLibraryA("inetmib1.dll") fail, as on a platform without it.
void SetAgentPresent(bool present);

}  // namespace win
