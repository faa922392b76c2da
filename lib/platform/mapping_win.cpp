#include <windows.h>

#include <cerrno>
#include <mutex>

#include "platform/mapping.h"
#include "platform/win_util.h"

namespace platform {

namespace {

// A read of a mapped file whose pages cannot be brought in (the file cut
// short elsewhere, a network share gone) raises EXCEPTION_IN_PAGE_ERROR.
// Inside RunGuarded a vectored handler sends the faulting thread on to
// recover(), which jumps back to the guard; anywhere else the exception goes
// on to whatever handles it otherwise. The thread's guard is kept in a
// system TLS slot, which the handler may read without allocating.
DWORD guardSlot = TLS_OUT_OF_INDEXES;

[[noreturn]] __attribute__((noinline)) void recover() {
  __builtin_longjmp(static_cast<void**>(::TlsGetValue(guardSlot)), 1);
}

LONG CALLBACK onException(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_IN_PAGE_ERROR) return EXCEPTION_CONTINUE_SEARCH;
  DWORD lastError = ::GetLastError();
  void* jump = ::TlsGetValue(guardSlot);
  ::SetLastError(lastError);
  if (!jump) return EXCEPTION_CONTINUE_SEARCH;
  // Resume in recover() as if it had been called, well below the faulting
  // frame: the stack pointer aligned as at a function's entry.
  CONTEXT* context = exception->ContextRecord;
  context->Rsp = ((context->Rsp - 512) & ~DWORD64{15}) - 8;
  context->Rip = reinterpret_cast<DWORD64>(&recover);
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool installGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    guardSlot = ::TlsAlloc();
    if (guardSlot != TLS_OUT_OF_INDEXES) ::AddVectoredExceptionHandler(1, onException);
  });
  return guardSlot != TLS_OUT_OF_INDEXES;
}

}  // namespace

const char* MapFile(int fd, uint64_t size) {
  if (size == 0 || size > SIZE_MAX) return nullptr;
  installGuard();
  void* file = win::HandleOf(fd);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE mapping = ::CreateFileMappingW(static_cast<HANDLE>(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return nullptr;
  // The view keeps the mapping object alive; its handle is not needed.
  void* map = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  ::CloseHandle(mapping);
  return static_cast<const char*>(map);
}

void UnmapFile(const char* map, uint64_t) {
  if (map) ::UnmapViewOfFile(map);
}

int RunGuarded(void (*fn)(void*), void* arg) {
  // Without a TLS slot there is no guard: fn runs as it would without one.
  if (!installGuard()) {
    fn(arg);
    return 0;
  }
  // The guard a caller had is back in place however this ends: normally,
  // by the jump, or by an exception from fn.
  struct Restore {
    void* outer;
    ~Restore() { ::TlsSetValue(guardSlot, outer); }
  } restore{::TlsGetValue(guardSlot)};
  void* jump[5];
  if (__builtin_setjmp(jump) != 0) return EIO;
  ::TlsSetValue(guardSlot, jump);
  fn(arg);
  return 0;
}

}  // namespace platform
