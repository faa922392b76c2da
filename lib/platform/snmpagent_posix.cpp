#include "platform/snmpagent.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace win {

namespace {

// ARPHRD_ETHER and ARPHRD_LOOPBACK of the kernel; ifType values of MIB-II.
constexpr long kArphrdEther = 1;
constexpr long kArphrdLoopback = 772;
constexpr int32_t kIfTypeOther = 1;
constexpr int32_t kIfTypeEthernet = 6;
constexpr int32_t kIfTypeLoopback = 24;

// Any value of at least 32 reads as a loaded module to the walk.
const uintptr_t kAgentHandle = 0x1000;

DWORD lastError = 0;
bool agentPresent = true;
bool tableFed = false;
std::vector<InterfaceRow> fedTable;
int tableReads = 0;

// The table as the agent saw it at its initialisation, served by queries.
std::vector<InterfaceRow> served;

const UINT kInterfaceEntry[] = {1, 3, 6, 1, 2, 1, 2, 2, 1};
constexpr UINT kEntryLength = 9;
const UINT kColumns[] = {3, 6};

bool readLine(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  char buf[256];
  bool ok = std::fgets(buf, sizeof buf, f) != nullptr;
  std::fclose(f);
  if (!ok) return false;
  *out = buf;
  while (!out->empty() && (out->back() == '\n' || out->back() == '\r')) out->pop_back();
  return true;
}

// "02:fc:00:00:00:01" to its bytes; anything unreadable ends the address.
std::vector<uint8_t> parseAddress(const std::string& text) {
  std::vector<uint8_t> bytes;
  const char* p = text.c_str();
  while (*p) {
    char* end = nullptr;
    unsigned long byte = std::strtoul(p, &end, 16);
    if (end == p || byte > 255) break;
    bytes.push_back(static_cast<uint8_t>(byte));
    p = end;
    if (*p != ':') break;
    ++p;
  }
  return bytes;
}

int compareOid(const UINT* a, UINT alen, const UINT* b, UINT blen) {
  UINT n = std::min(alen, blen);
  for (UINT i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  if (alen == blen) return 0;
  return alen < blen ? -1 : 1;
}

struct Object {
  UINT ids[kEntryLength + 2];
  const InterfaceRow* row;
  UINT column;
};

Object objectAt(UINT column, const InterfaceRow& row) {
  Object o{};
  std::memcpy(o.ids, kInterfaceEntry, sizeof kInterfaceEntry);
  o.ids[kEntryLength] = column;
  o.ids[kEntryLength + 1] = row.index;
  o.row = &row;
  o.column = column;
  return o;
}

// The first object of the served columns that follows name, in the
// lexicographic order of identifiers that GETNEXT walks.
bool successor(const AsnObjectIdentifier& name, Object* next) {
  for (UINT column : kColumns) {
    for (const InterfaceRow& row : served) {
      Object o = objectAt(column, row);
      if (compareOid(o.ids, kEntryLength + 2, name.ids, name.ids ? name.idLength : 0) > 0) {
        *next = o;
        return true;
      }
    }
  }
  return false;
}

void freeValue(AsnAny* value) {
  switch (value->asnType) {
    case ASN_OBJECTIDENTIFIER:
      GlobalFree(value->asnValue.object.ids);
      break;
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
    case ASN_SEQUENCE:
      if (value->asnValue.string.dynamic) GlobalFree(value->asnValue.string.stream);
      break;
    default:
      break;
  }
  std::memset(value, 0, sizeof *value);
  value->asnType = ASN_NULL;
}

// Replaces the binding's name and value with those of the object, freeing
// what it held, as the platform agent does with the bindings it is handed.
bool store(SnmpVarBind* bind, const Object& o) {
  UINT* ids = static_cast<UINT*>(GlobalAlloc(GPTR, sizeof o.ids));
  BYTE* data = nullptr;
  size_t length = o.row->address.size();
  if (o.column == 6 && length > 0) data = static_cast<BYTE*>(GlobalAlloc(GPTR, length));
  if (!ids || (o.column == 6 && length > 0 && !data)) {
    GlobalFree(ids);
    GlobalFree(data);
    return false;
  }
  std::memcpy(ids, o.ids, sizeof o.ids);
  GlobalFree(bind->name.ids);
  bind->name.ids = ids;
  bind->name.idLength = kEntryLength + 2;
  freeValue(&bind->value);
  if (o.column == 3) {
    bind->value.asnType = ASN_INTEGER;
    bind->value.asnValue.number = o.row->type;
  } else {
    if (data) std::memcpy(data, o.row->address.data(), length);
    bind->value.asnType = ASN_OCTETSTRING;
    bind->value.asnValue.string.stream = data;
    bind->value.asnValue.string.length = static_cast<UINT>(length);
    bind->value.asnValue.string.dynamic = data != nullptr;
  }
  return true;
}

BOOL agentInit(DWORD, HANDLE* trapEvent, AsnObjectIdentifier* supportedView) {
  ++tableReads;
  served = tableFed ? fedTable : KernelInterfaceTable();
  if (trapEvent) *trapEvent = nullptr;
  if (supportedView) *supportedView = AsnObjectIdentifier{0, nullptr};
  return 1;
}

BOOL agentQuery(BYTE pduType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
                AsnInteger32* errorIndex) {
  AsnInteger32 status = SNMP_ERRORSTATUS_NOERROR;
  AsnInteger32 index = 0;
  BOOL ok = 1;
  if (pduType != SNMP_PDU_GETNEXT || !bindings || (bindings->len && !bindings->list)) {
    status = 5;  // genErr: the walk only ever asks GETNEXT
    ok = 0;
  } else {
    // A GETNEXT fails whole when any binding has run off the served view.
    std::vector<Object> next(bindings->len);
    for (UINT i = 0; ok && i < bindings->len; ++i) {
      if (!successor(bindings->list[i].name, &next[i])) {
        status = SNMP_ERRORSTATUS_NOSUCHNAME;
        index = static_cast<AsnInteger32>(i + 1);
        ok = 0;
      }
    }
    for (UINT i = 0; ok && i < bindings->len; ++i) {
      if (!store(&bindings->list[i], next[i])) {
        status = 5;
        index = static_cast<AsnInteger32>(i + 1);
        ok = 0;
      }
    }
  }
  if (errorStatus) *errorStatus = status;
  if (errorIndex) *errorIndex = index;
  return ok;
}

}  // namespace

void* GlobalAlloc(UINT, size_t bytes) { return std::calloc(bytes ? bytes : 1, 1); }
void GlobalFree(void* block) { std::free(block); }
void SetLastError(DWORD code) { lastError = code; }
DWORD GetLastError() { return lastError; }

HMODULE LoadLibraryA(const char* name) {
  if (!agentPresent || !name || std::strcmp(name, "inetmib1.dll") != 0) return nullptr;
  return reinterpret_cast<HMODULE>(kAgentHandle);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (module != reinterpret_cast<HMODULE>(kAgentHandle) || !name) return nullptr;
  if (std::strcmp(name, "SnmpExtensionInit") == 0)
    return reinterpret_cast<FARPROC>(&agentInit);
  if (std::strcmp(name, "SnmpExtensionQuery") == 0)
    return reinterpret_cast<FARPROC>(&agentQuery);
  return nullptr;
}

std::vector<InterfaceRow> KernelInterfaceTable() {
  std::vector<InterfaceRow> rows;
  const std::string base = "/sys/class/net/";
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return rows;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string path = base + e->d_name + "/";
    std::string index, type, address;
    if (!readLine(path + "ifindex", &index) || !readLine(path + "type", &type)) continue;
    readLine(path + "address", &address);
    InterfaceRow row;
    row.index = static_cast<uint32_t>(std::strtoul(index.c_str(), nullptr, 10));
    long arphrd = std::strtol(type.c_str(), nullptr, 10);
    row.type = arphrd == kArphrdEther      ? kIfTypeEthernet
               : arphrd == kArphrdLoopback ? kIfTypeLoopback
                                           : kIfTypeOther;
    row.address = parseAddress(address);
    rows.push_back(std::move(row));
  }
  ::closedir(dir);
  std::sort(rows.begin(), rows.end(),
            [](const InterfaceRow& a, const InterfaceRow& b) { return a.index < b.index; });
  return rows;
}

void SetInterfaceTable(std::vector<InterfaceRow> rows) {
  std::stable_sort(rows.begin(), rows.end(),
                   [](const InterfaceRow& a, const InterfaceRow& b) { return a.index < b.index; });
  fedTable = std::move(rows);
  tableFed = true;
}

void ClearInterfaceTable() {
  fedTable.clear();
  tableFed = false;
}

int TableReads() { return tableReads; }
void SetAgentPresent(bool present) { agentPresent = present; }

}  // namespace win
