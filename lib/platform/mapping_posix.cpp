#include "platform/mapping.h"

#include <sys/mman.h>

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <mutex>

namespace platform {

namespace {

// A read of a mapped file past its end (the file shrank after it was
// mapped) raises SIGBUS. Inside RunGuarded that read jumps back to the
// guard, which reports it; anywhere else the signal keeps the disposition it
// had before.
thread_local sigjmp_buf* busJump = nullptr;
struct sigaction previousBus;

void onBus(int signal, siginfo_t* info, void* context) {
  // Only a fault of this thread's own read counts; a SIGBUS sent by another
  // process (si_code <= 0) is left to the disposition it had before.
  bool fault = info && info->si_code > 0;
  if (busJump && fault) siglongjmp(*busJump, 1);
  if (previousBus.sa_flags & SA_SIGINFO) {
    if (previousBus.sa_sigaction) {
      previousBus.sa_sigaction(signal, info, context);
      return;
    }
  } else if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN) {
    previousBus.sa_handler(signal);
    return;
  }
  // The default: returning runs the faulting read again, which now ends
  // the process as it would have without us; a sent signal is sent again.
  ::sigaction(SIGBUS, &previousBus, nullptr);
  if (!fault) ::raise(SIGBUS);
}

void installBusGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = onBus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    struct sigaction current = {};
    if (::sigaction(SIGBUS, nullptr, &current) == 0) action.sa_flags |= current.sa_flags & SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBus);
  });
}

}  // namespace

const char* MapFile(int fd, uint64_t size) {
  if (size == 0 || size > SIZE_MAX) return nullptr;
  installBusGuard();
  void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  return map == MAP_FAILED ? nullptr : static_cast<const char*>(map);
}

void UnmapFile(const char* map, uint64_t size) {
  if (map) ::munmap(const_cast<char*>(map), static_cast<size_t>(size));
}

int RunGuarded(void (*fn)(void*), void* arg) {
  // The guard a caller had is back in place however this ends: normally,
  // by the jump, or by an exception from fn.
  struct Restore {
    sigjmp_buf* outer;
    ~Restore() { busJump = outer; }
  } restore{busJump};
  sigjmp_buf jump;
  if (sigsetjmp(jump, 1) != 0) return EIO;
  busJump = &jump;
  fn(arg);
  return 0;
}

}  // namespace platform
