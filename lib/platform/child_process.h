// Child processes for work that may crash or hang on what it is given (a
// library that trusts a damaged file): the child runs a function of this
// program and talks back through a pipe, and how it ended, by its own exit
// or by a signal, is the parent's to tell. A child dies of its faults rather
// than in a handler it inherited, and a write to a pipe nobody reads any
// more fails (EPIPE) instead of ending it. Children are known by int ids;
// failures come back as false or -1 with the reason in errno.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace platform {

// A pipe: what is written to *writeEnd comes out of *readEnd (file_io.h's
// Read, Write and Close serve both). Neither end passes to programs that
// are started later.
bool OpenPipe(int* readEnd, int* writeEnd);

// What a child is started with: bytes for its own use, and descriptors of
// the parent's it is given, in this order (its numbers for them may differ).
struct ChildArgs {
  std::string data;
  std::vector<int> fds;
};

// A function of this program that children run, known by name: where the
// system has no fork (Windows) a child is a new run of the program, which
// finds its body by that name. One object per body, defined at namespace
// scope, so that every run of the program knows them all before main.
using ChildBody = void (*)(const ChildArgs& args);
class ChildEntry {
 public:
  ChildEntry(const char* entryName, ChildBody entryBody);
  const char* name() const { return name_; }
  ChildBody body() const { return body_; }

 private:
  const char* name_;
  ChildBody body_;
};

// Starts a child that runs entry's body(args) and ends when it does (status
// 0, or 1 when it throws). The descriptors in notForChild, the parent's own
// ends of its pipes, are not held by the child. The parent gets the child's
// id, or -1.
int StartChild(const ChildEntry& entry, const ChildArgs& args, std::initializer_list<int> notForChild = {});

// Called first thing in main. In a run of the program that StartChild began
// as a child, runs the child's body and never returns; otherwise (and always
// where children are forks) returns at once.
void RunChildIfStarted();

// Ends the calling child now with status, without the exit handlers and
// unwritten stdio buffers it shares with the parent.
[[noreturn]] void ExitChild(int status);

// Has the calling child ended by a signal once it has used seconds of
// processor time, and killed ten seconds later if it still runs (Windows:
// ended then, with the exit code ERROR_NOT_ENOUGH_QUOTA).
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
