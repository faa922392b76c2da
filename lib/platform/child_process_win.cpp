// Children on Windows, which has no fork: a child is a new run of this
// program's own executable, started with a private first argument that
// names its entry, the handles it is given (their numbers) and its data
// (in hexadecimal, "-" for none):
//   <program> --qplatform-child <entry> <handle>,<handle> <data>
// RunChildIfStarted, first in main, recognises that and runs the entry.
// Only the given handles pass to the child, as inheritable duplicates made
// for that one start. How a child ended comes from its exit code: a fault
// that ends it (an exception code such as 0xC0000005) is told as the signal
// the C runtime gives the same fault (SIGSEGV, SIGILL, SIGFPE, SIGABRT).
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/file_io.h"
#include "platform/win_util.h"

namespace platform {

namespace {

constexpr char kChildFlag[] = "--qplatform-child";

std::vector<const ChildEntry*>& entries() {
  static std::vector<const ChildEntry*> all;
  return all;
}

struct Child {
  HANDLE process;
  bool killed;
};
std::mutex childrenLock;
std::map<int, Child> children;
// Inheritable handles exist only while a child is being started, one start
// at a time, so that no other start hands them on.
std::mutex startLock;

std::string hex(const void* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string text;
  text.reserve(2 * size + 1);
  for (size_t i = 0; i < size; ++i) {
    text += digits[p[i] >> 4];
    text += digits[p[i] & 15];
  }
  return text.empty() ? "-" : text;
}

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool unhex(const char* text, std::string* out) {
  out->clear();
  if (std::strcmp(text, "-") == 0) return true;
  size_t n = std::strlen(text);
  if (n % 2) return false;
  for (size_t i = 0; i < n; i += 2) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

std::wstring programPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// A fault that reaches no handler ends the child at once, with the fault's
// code as its exit code: no debugger and no error report are started.
LONG WINAPI dieOfFault(EXCEPTION_POINTERS* exception) {
  ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// The C runtime's signal for the exception code that ended a child, or 0.
int signalOf(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_GUARD_PAGE:
      return SIGSEGV;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
      return SIGILL;
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
      return SIGFPE;
    case 0xC0000374:  // STATUS_HEAP_CORRUPTION
    case 0xC0000409:  // STATUS_STACK_BUFFER_OVERRUN: a fast fail, abort()
      return SIGABRT;
    default:
      return 0;
  }
}

}  // namespace

ChildEntry::ChildEntry(const char* entryName, ChildBody entryBody) : name_(entryName), body_(entryBody) {
  entries().push_back(this);
}

bool OpenPipe(int* readEnd, int* writeEnd) {
  HANDLE r = nullptr, w = nullptr;
  if (!::CreatePipe(&r, &w, nullptr, 0)) {
    win::SetErrnoFromLastError();
    return false;
  }
  int in = win::AdoptHandle(r, _O_RDONLY);
  if (in < 0) {
    ::CloseHandle(w);
    return false;
  }
  int out = win::AdoptHandle(w, _O_WRONLY);
  if (out < 0) {
    Close(in);
    return false;
  }
  *readEnd = in;
  *writeEnd = out;
  return true;
}

// notForChild needs nothing here: only args.fds pass to the child.
int StartChild(const ChildEntry& entry, const ChildArgs& args, std::initializer_list<int>) {
  std::wstring program = programPath();
  if (program.empty()) {
    win::SetErrnoFromLastError();
    return -1;
  }
  std::lock_guard<std::mutex> hold(startLock);
  std::vector<HANDLE> given;
  auto release = [&] {
    for (HANDLE h : given) ::CloseHandle(h);
  };
  std::string handles;
  for (int fd : args.fds) {
    void* h = win::HandleOf(fd);
    HANDLE dup = nullptr;
    if (h == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &dup, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
      if (h != INVALID_HANDLE_VALUE) win::SetErrnoFromLastError();
      release();
      return -1;
    }
    given.push_back(dup);
    uint64_t value = reinterpret_cast<uintptr_t>(dup);
    if (!handles.empty()) handles += ',';
    handles += std::to_string(value);
  }
  if (handles.empty()) handles = "-";
  std::string tail = std::string(" ") + kChildFlag + " " + entry.name() + " " + handles + " " +
                     hex(args.data.data(), args.data.size());
  std::wstring command = L"\"" + program + L"\"" + std::wstring(tail.begin(), tail.end());

  // Where the system can, the child inherits the given handles and nothing
  // else that happens to be inheritable.
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  DWORD flags = 0;
  std::vector<char> attributeSpace;
  SIZE_T attributeSize = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
  if (!given.empty() && attributeSize > 0) {
    attributeSpace.resize(attributeSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeSpace.data());
    if (::InitializeProcThreadAttributeList(list, 1, 0, &attributeSize)) {
      if (::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, given.data(),
                                      given.size() * sizeof(HANDLE), nullptr, nullptr)) {
        startup.lpAttributeList = list;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
      } else {
        ::DeleteProcThreadAttributeList(list);
      }
    }
  }
  PROCESS_INFORMATION info = {};
  BOOL started = ::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, !given.empty(), flags, nullptr,
                                  nullptr, &startup.StartupInfo, &info);
  DWORD error = ::GetLastError();
  if (startup.lpAttributeList) ::DeleteProcThreadAttributeList(startup.lpAttributeList);
  release();
  if (!started) {
    errno = win::ErrnoOf(error);
    return -1;
  }
  ::CloseHandle(info.hThread);
  int id = static_cast<int>(info.dwProcessId);
  std::lock_guard<std::mutex> holdChildren(childrenLock);
  children[id] = Child{info.hProcess, false};
  return id;
}

void RunChildIfStarted() {
  if (__argc != 5 || !__argv || std::strcmp(__argv[1], kChildFlag) != 0) return;
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(dieOfFault);
  const ChildEntry* entry = nullptr;
  for (const ChildEntry* e : entries())
    if (std::strcmp(e->name(), __argv[2]) == 0) entry = e;
  ChildArgs args;
  if (!entry || !unhex(__argv[4], &args.data)) ExitChild(2);
  if (std::strcmp(__argv[3], "-") != 0) {
    for (const char* p = __argv[3]; *p;) {
      char* end = nullptr;
      unsigned long long value = std::strtoull(p, &end, 10);
      if (end == p || (*end && *end != ',')) ExitChild(2);
      int fd = win::AdoptHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)), 0);
      if (fd < 0) ExitChild(2);
      args.fds.push_back(fd);
      p = *end ? end + 1 : end;
    }
  }
  // An exception must not carry the child on into the program's own main.
  try {
    entry->body()(args);
  } catch (...) {
    ExitChild(1);
  }
  ExitChild(0);
}

// TerminateProcess rather than ExitProcess: no exit handlers run, nor the
// detaching of libraries (HDF5 would close its files and flush its state).
void ExitChild(int status) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  ::ExitProcess(static_cast<UINT>(status));
}

// A job of its own limits the child's processor time (user time, as Windows
// counts it); the system ends it when the time is used up, with the exit
// code ERROR_NOT_ENOUGH_QUOTA. A watchdog thread ends it the same way once
// user and kernel time together reach the limit, as RLIMIT_CPU counts, and
// also where the job's limit is not enforced (wine, or Windows 7 when the
// child already runs inside another job).
void LimitProcessorTime(uint64_t seconds) {
  uint64_t ticks = seconds > (uint64_t{INT64_MAX} / 10000000) ? uint64_t{INT64_MAX} : seconds * 10000000;
  if (HANDLE job = ::CreateJobObjectW(nullptr, nullptr)) {
    JOBOBJECT_BASIC_LIMIT_INFORMATION limits = {};
    limits.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_TIME;
    limits.PerProcessUserTimeLimit.QuadPart = static_cast<LONGLONG>(ticks);
    // The job's handle is kept until the child ends.
    if (!::SetInformationJobObject(job, JobObjectBasicLimitInformation, &limits, sizeof limits) ||
        !::AssignProcessToJobObject(job, ::GetCurrentProcess()))
      ::CloseHandle(job);
  }
  static uint64_t limit;
  limit = ticks;
  auto watch = [](void*) -> DWORD {
    for (;;) {
      ::Sleep(1000);
      FILETIME created, exited, kernel, user;
      if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) continue;
      uint64_t used = ((uint64_t{kernel.dwHighDateTime} << 32) | kernel.dwLowDateTime) +
                      ((uint64_t{user.dwHighDateTime} << 32) | user.dwLowDateTime);
      if (used >= limit) ::TerminateProcess(::GetCurrentProcess(), ERROR_NOT_ENOUGH_QUOTA);
    }
  };
  if (HANDLE thread = ::CreateThread(nullptr, 64 * 1024, watch, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr))
    ::CloseHandle(thread);
}

bool KillChild(int id) {
  std::lock_guard<std::mutex> hold(childrenLock);
  auto it = children.find(id);
  if (it == children.end()) {
    errno = ESRCH;
    return false;
  }
  if (!::TerminateProcess(it->second.process, 1)) {
    win::SetErrnoFromLastError();
    return false;
  }
  it->second.killed = true;
  return true;
}

ChildEnd WaitChild(int id) {
  ChildEnd end;
  Child child;
  {
    std::lock_guard<std::mutex> hold(childrenLock);
    auto it = children.find(id);
    if (it == children.end()) return end;
    child = it->second;
    children.erase(it);
  }
  DWORD code = 0;
  if (::WaitForSingleObject(child.process, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(child.process, &code)) {
    int sig = child.killed ? 9 : signalOf(code);  // 9: as SIGKILL is told on POSIX
    if (sig != 0) {
      end.how = ChildEnd::kSignalled;
      end.code = sig;
    } else {
      end.how = ChildEnd::kExited;
      end.code = static_cast<int>(code);
    }
  }
  ::CloseHandle(child.process);
  return end;
}

}  // namespace platform
