#include "platform/snmpagent.h"

#include <cstring>

namespace win {

namespace {

bool agentPresent = true;
int agentLoads = 0;

// The module's own file name, without any directory; case does not matter
// to the loader.
bool namesAgent(const char* name) {
  const char* base = name;
  for (const char* p = name; *p; ++p)
    if (*p == '\\' || *p == '/') base = p + 1;
  return ::_stricmp(base, "inetmib1.dll") == 0;
}

}  // namespace

HMODULE LoadLibraryA(const char* name) {
  if (!name) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool agent = namesAgent(name);
  if (agent && !agentPresent) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE module = ::LoadLibraryA(name);
  if (module && agent) ++agentLoads;
  return module;
}

int TableReads() { return agentLoads; }
void SetAgentPresent(bool present) { agentPresent = present; }

}  // namespace win
