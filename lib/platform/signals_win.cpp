// The console control handler runs on a thread of its own while the program
// goes on. Files are opened sharing delete (file_io_win.cpp), so DeleteFileW
// removes one still open: the name goes at once or, where the system keeps
// it pending, when the process ends and its handles close; either way a
// rename that would commit it fails and the target stays as it was.
#include <windows.h>

#include <mutex>

#include "platform/signals.h"
#include "platform/signals_table.h"

namespace platform {

namespace {

void removeFile(const char* path) {
  WCHAR wide[signals::kPathSize];
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, signals::kPathSize) > 0) ::DeleteFileW(wide);
}

void pause1ms() { ::Sleep(1); }

BOOL WINAPI onControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Another event's thread may be removing them; the default handling
      // that follows this one would end the process before it is done.
      signals::RemoveAllOnce(static_cast<int>(::GetCurrentProcessId()), removeFile, pause1ms);
      break;
    default:
      break;
  }
  // Not handled: the next handler, in the end the default one, ends the
  // process. A process started with Ctrl-C ignored gets no CTRL_C_EVENT.
  return FALSE;
}

}  // namespace

int RemoveOnSignal(const char* path) {
  static std::once_flag once;
  std::call_once(once, [] { ::SetConsoleCtrlHandler(onControl, TRUE); });
  return signals::Register(path, static_cast<int>(::GetCurrentProcessId()));
}

void ForgetOnSignal(int id) { signals::Unregister(id, pause1ms); }

void RemoveRegisteredFiles() { signals::RemoveAll(static_cast<int>(::GetCurrentProcessId()), removeFile); }

}  // namespace platform
