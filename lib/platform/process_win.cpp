#include <windows.h>
#include <io.h>

#include "platform/process.h"
#include "platform/win_util.h"

namespace platform {

int ProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

// _isatty also says yes for NUL and other character devices: only a console
// counts as a terminal here.
bool IsTerminal(int fd) {
  void* h = win::HandleOf(fd);
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::_isatty(fd) && ::GetConsoleMode(static_cast<HANDLE>(h), &mode);
}

bool LocalTime(std::time_t t, std::tm* local) { return ::localtime_s(local, &t) == 0; }

}  // namespace platform
