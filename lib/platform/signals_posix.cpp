#include "platform/signals.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/signals_table.h"

namespace platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void removeFile(const char* path) { ::unlink(path); }

void pause1ms() {
  struct timespec ms = {0, 1000000};
  ::nanosleep(&ms, nullptr);
}

void onSignal(int signal) {
  int savedErrno = errno;
  // A thread that took a signal at the same time may be removing the files:
  // they must be gone before this one ends the process. The handler blocks
  // all four signals, so that thread is not this one.
  signals::RemoveAllOnce(static_cast<int>(::getpid()), removeFile, pause1ms);
  struct sigaction byDefault = {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  ::sigaction(signal, &byDefault, nullptr);
  // Blocked while the handler runs, the signal raised again ends the
  // process as soon as the handler returns.
  ::raise(signal);
  errno = savedErrno;
}

void install() {
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kSignals) {
    struct sigaction current = {};
    if (::sigaction(signal, nullptr, &current) != 0) continue;
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int RemoveOnSignal(const char* path) {
  static std::once_flag once;
  std::call_once(once, install);
  return signals::Register(path, static_cast<int>(::getpid()));
}

void ForgetOnSignal(int id) { signals::Unregister(id, pause1ms); }

void RemoveRegisteredFiles() { signals::RemoveAll(static_cast<int>(::getpid()), removeFile); }

}  // namespace platform
