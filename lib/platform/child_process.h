// Child processes for work that may crash or hang on what it is given (a
// library that trusts a damaged file): the child runs a function of this
// program and talks back through a pipe, and how it ended, by its own exit
// or by a signal, is the parent's to tell. A child dies of its faults rather
// than in a handler it inherited, and a write to a pipe nobody reads any
// more fails (EPIPE) instead of ending it. Children are known by int ids;
// failures come back as false or -1 with the reason in errno.
#pragma once

#include <cstdint>

namespace platform {

// A pipe: what is written to *writeEnd comes out of *readEnd (file_io.h's
// Read, Write and Close serve both). Neither end passes to programs that
// are started later.
bool OpenPipe(int* readEnd, int* writeEnd);

// Starts a child that runs body(arg) and ends when body does (status 0, or
// 1 when it throws): the child never comes back from this call. The parent
// gets the child's id, or -1.
int StartChild(void (*body)(void*), void* arg);

template <class F>
int StartChild(F& body) {
  return StartChild([](void* f) { (*static_cast<F*>(f))(); }, &body);
}

// Ends the calling child now with status, without the exit handlers and
// unwritten stdio buffers it shares with the parent.
[[noreturn]] void ExitChild(int status);

// Has the calling child ended by a signal once it has used seconds of
// processor time, and killed ten seconds later if it still runs.
void LimitProcessorTime(uint64_t seconds);

struct ChildEnd {
  enum How { kLost, kExited, kSignalled };
  How how = kLost;  // kLost: the child could not be waited for
  int code = 0;     // the exit status, or the number of the signal
};

// Ends the child at once, however busy it is.
bool KillChild(int id);
// Waits for the child to end and lets go of it: its id means nothing after.
ChildEnd WaitChild(int id);

}  // namespace platform
