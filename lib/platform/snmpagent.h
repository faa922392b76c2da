// The platform's SNMP extension agent of the Internet MIB and the few kernel
// calls the adapter walk (net/qnadapterlist) makes around it.
//
// The walk loads "inetmib1.dll" and asks its two entry points for GETNEXT
// over the MIB-II interface table, reading ifType (1.3.6.1.2.1.2.2.1.3) and
// ifPhysAddress (1.3.6.1.2.1.2.2.1.6). Identifier arrays and octet strings
// live on the GlobalAlloc heap, as the agent keeps them, so the walk frees
// them with GlobalFree.
//
// On Windows every name here is the real one (<snmp.h>, kernel32), except
// LoadLibraryA, which a test can make fail for the agent.
//
// Elsewhere they are stand-ins: LoadLibraryA hands out a built-in agent
// under that name which serves just those two columns from the machine's
// interface table: rows in interface index order, type 6 (ethernetCsmacd)
// for ARPHRD_ETHER, 24 for loopback, 1 otherwise, and the hardware address
// the kernel shows under /sys/class/net. Tests replace the table
// (SetInterfaceTable).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <snmp.h>

// <snmp.h> and <winbase.h> make these macros, which would rewrite the names
// win:: declares. They become constants of the same value, at global scope
// too, so that code written against the plain names still compiles.
namespace win::detail {
constexpr UINT kGptr = GPTR;
constexpr BYTE kAsnInteger = ASN_INTEGER;
constexpr BYTE kAsnOctetString = ASN_OCTETSTRING;
constexpr BYTE kAsnNull = ASN_NULL;
constexpr BYTE kAsnObjectIdentifier = ASN_OBJECTIDENTIFIER;
constexpr BYTE kAsnSequence = ASN_SEQUENCE;
constexpr BYTE kAsnIpAddress = ASN_IPADDRESS;
constexpr BYTE kAsnOpaque = ASN_OPAQUE;
constexpr BYTE kPduGetNext = SNMP_PDU_GETNEXT;
constexpr AsnInteger32 kNoError = SNMP_ERRORSTATUS_NOERROR;
constexpr AsnInteger32 kNoSuchName = SNMP_ERRORSTATUS_NOSUCHNAME;
}  // namespace win::detail
#undef GPTR
#undef ASN_INTEGER
#undef ASN_OCTETSTRING
#undef ASN_NULL
#undef ASN_OBJECTIDENTIFIER
#undef ASN_SEQUENCE
#undef ASN_IPADDRESS
#undef ASN_OPAQUE
#undef SNMP_PDU_GETNEXT
#undef SNMP_ERRORSTATUS_NOERROR
#undef SNMP_ERRORSTATUS_NOSUCHNAME

namespace win {

using ::AsnInteger32;
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::FARPROC;
using ::HANDLE;
using ::HMODULE;
using ::UINT;

constexpr UINT GPTR = detail::kGptr;
constexpr BYTE ASN_INTEGER = detail::kAsnInteger;
constexpr BYTE ASN_OCTETSTRING = detail::kAsnOctetString;
constexpr BYTE ASN_NULL = detail::kAsnNull;
constexpr BYTE ASN_OBJECTIDENTIFIER = detail::kAsnObjectIdentifier;
constexpr BYTE ASN_SEQUENCE = detail::kAsnSequence;
constexpr BYTE ASN_IPADDRESS = detail::kAsnIpAddress;
constexpr BYTE ASN_OPAQUE = detail::kAsnOpaque;
constexpr BYTE SNMP_PDU_GETNEXT = detail::kPduGetNext;
constexpr AsnInteger32 SNMP_ERRORSTATUS_NOERROR = detail::kNoError;
constexpr AsnInteger32 SNMP_ERRORSTATUS_NOSUCHNAME = detail::kNoSuchName;

using ::AsnAny;
using ::AsnObjectIdentifier;
using ::AsnOctetString;
using ::SnmpVarBind;
using ::SnmpVarBindList;
using SnmpExtensionInitFn = ::PFNSNMPEXTENSIONINIT;
using SnmpExtensionQueryFn = ::PFNSNMPEXTENSIONQUERY;

using ::GetLastError;
using ::GetProcAddress;
using ::GlobalAlloc;
using ::GlobalFree;
using ::SetLastError;

// The real LoadLibraryA, except that "inetmib1.dll" fails with
// ERROR_MOD_NOT_FOUND while a test has made the agent absent.
HMODULE LoadLibraryA(const char* name);

}  // namespace win

using win::ASN_INTEGER;
using win::ASN_IPADDRESS;
using win::ASN_NULL;
using win::ASN_OBJECTIDENTIFIER;
using win::ASN_OCTETSTRING;
using win::ASN_OPAQUE;
using win::ASN_SEQUENCE;
using win::GPTR;
using win::SNMP_ERRORSTATUS_NOERROR;
using win::SNMP_ERRORSTATUS_NOSUCHNAME;
using win::SNMP_PDU_GETNEXT;

#else  // !_WIN32

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
// ClearInterfaceTable.
void SetInterfaceTable(std::vector<InterfaceRow> rows);
void ClearInterfaceTable();

}  // namespace win

#endif  // _WIN32

namespace win {

// --- For tests only; the programs never call these. ---

// How often the agent has read the interface table: once per initialisation
// of the built-in agent; on Windows, once per load of "inetmib1.dll" through
// LoadLibraryA (each walk loads it once and initialises it once).
int TableReads();
// false makes LoadLibraryA("inetmib1.dll") fail, as on a platform without it.
void SetAgentPresent(bool present);

}  // namespace win
