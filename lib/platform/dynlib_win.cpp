#include <windows.h>

#include <string>

#include "platform/dynlib.h"
#include "platform/win_util.h"

namespace platform {

namespace {

// The loader's reason, in the system's words, with the error number.
const char* describe(DWORD error) {
  static thread_local std::string text;
  char buffer[512] = "";
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
    buffer[--n] = '\0';
  text = n > 0 ? buffer : "the library cannot be loaded";
  text += " (error " + std::to_string(error) + ")";
  return text.c_str();
}

}  // namespace

// The name is 8-bit in the ANSI code page, as file names are. A library
// that cannot be found raises no dialog box.
void* LoadSharedLibrary(const char* name, const char** why) {
  std::wstring wide;
  if (!win::Widen(name, &wide)) {
    if (why) *why = "no library name";
    return nullptr;
  }
  UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ::SetErrorMode(previous | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = ::LoadLibraryW(wide.c_str());
  DWORD error = ::GetLastError();
  ::SetErrorMode(previous);
  if (!library && why) *why = describe(error);
  return reinterpret_cast<void*>(library);
}

void* SharedLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform
