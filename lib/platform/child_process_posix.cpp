#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "platform/file_io.h"

namespace platform {

bool OpenPipe(int* readEnd, int* writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  *readEnd = fds[0];
  *writeEnd = fds[1];
  return true;
}

// A forked child has its body at hand: nothing needs to be looked up.
ChildEntry::ChildEntry(const char* entryName, ChildBody entryBody) : name_(entryName), body_(entryBody) {}

int StartChild(const ChildEntry& entry, const ChildArgs& args, std::initializer_list<int> notForChild) {
  pid_t pid = ::fork();
  if (pid != 0) return pid < 0 ? -1 : static_cast<int>(pid);
  // Die by the signal itself rather than in a handler inherited from the
  // parent (a sanitizer's or a fuzzer's would take the fault for its own).
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::signal(sig, SIG_DFL);
  ::signal(SIGPIPE, SIG_IGN);
  for (int fd : notForChild) Close(fd);
  // An exception must not carry the child back into the parent's code.
  try {
    entry.body()(args);
  } catch (...) {
    ExitChild(1);
  }
  ExitChild(0);
}

void RunChildIfStarted() {}

void ExitChild(int status) { ::_exit(status); }

void LimitProcessorTime(uint64_t seconds) {
  struct rlimit cpu = {static_cast<rlim_t>(seconds), static_cast<rlim_t>(seconds) + 10};
  ::setrlimit(RLIMIT_CPU, &cpu);
}

bool KillChild(int id) {
  // Zero and negative ids would name whole process groups.
  if (id <= 0) {
    errno = ESRCH;
    return false;
  }
  return ::kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

ChildEnd WaitChild(int id) {
  ChildEnd end;
  int status = 0;
  if (id <= 0 || RetryInterrupted([&] { return ::waitpid(static_cast<pid_t>(id), &status, 0); }) < 0) return end;
  if (WIFSIGNALED(status)) {
    end.how = ChildEnd::kSignalled;
    end.code = WTERMSIG(status);
  } else if (WIFEXITED(status)) {
    end.how = ChildEnd::kExited;
    end.code = WEXITSTATUS(status);
  }
  return end;
}

}  // namespace platform
