// Helpers for the end-to-end tests: a fresh temporary directory per test,
// running a built program there with its output captured, and file access.
//
// The same tests run the Windows programs under wine when the environment
// says so:
//   TRACE_E2E_WINDOWS=<Windows build folder>  Run starts <folder>/tracepack.exe
//       and traceunpack.exe in place of TRACEPACK_BIN and TRACEUNPACK_BIN, with
//       WINEPREFIX=<folder>/wineprefix (made on first use), WINEDEBUG=-all,
//       WINEDLLOVERRIDES=inetmib1=n (the stand-in agent beside the exes) and
//       DISPLAY unset. Their console text and QLOG.txt, which have CRLF line
//       ends on Windows by design, are read with LF line ends.
//   TRACE_E2E_WINE=<launcher>  the wine to use (default: wine from PATH).
// Unset, the Linux programs run and nothing is normalized.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_files.h"

namespace e2e {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// The Windows build folder of TRACE_E2E_WINDOWS, "" for a Linux run.
inline const std::string& WindowsBuild() {
  static const std::string dir = [] {
    // Absolute, since the programs run from the test's own directory.
    const char* v = std::getenv("TRACE_E2E_WINDOWS");
    return v && *v ? std::filesystem::absolute(v).lexically_normal().generic_string() : std::string();
  }();
  return dir;
}

inline bool OnWindows() { return !WindowsBuild().empty(); }

inline std::string WinePrefix() { return WindowsBuild() + "/wineprefix"; }

// Where the programs find their options file: C:/trellisopt.txt in the prefix.
inline std::string WindowsOptionsFile() { return WinePrefix() + "/drive_c/trellisopt.txt"; }

inline std::string WineEnv() {
  const char* wine = std::getenv("TRACE_E2E_WINE");
  return "env -u DISPLAY WINEPREFIX=" + Quote(WinePrefix()) +
         " WINEDEBUG=-all WINEDLLOVERRIDES=inetmib1=n " + Quote(wine && *wine ? wine : "wine");
}

// The .exe that stands for program on Windows, "" for any other program.
inline std::string WindowsExe(const std::string& program) {
  if (!OnWindows()) return "";
#ifdef TRACEPACK_BIN
  if (program == TRACEPACK_BIN) return WindowsBuild() + "/tracepack.exe";
#endif
#ifdef TRACEUNPACK_BIN
  if (program == TRACEUNPACK_BIN && !program.empty()) return WindowsBuild() + "/traceunpack.exe";
#endif
  return "";
}

// The prefix's options file is written by one test at a time, also across
// test processes: whoever holds this lock on the prefix folder (-1: none).
inline int LockWinePrefix() {
  int fd = ::open(WinePrefix().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) ::flock(fd, LOCK_EX);
  return fd;
}

// A fresh prefix is made once, before any program runs in it, so that wine
// does not make it by itself inside a test (with its messages on stderr, or
// in several concurrent runs at once). An options file left by an aborted
// run would turn on the remote channel in every later run: it goes.
inline void PrepareWinePrefix() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct stat st;
    if (::stat((WinePrefix() + "/system.reg").c_str(), &st) != 0) {
      // The registry reaches the disk when the server ends: waiting for that
      // makes a prefix that the next test process takes as made.
      std::string boot = "export WINEPREFIX=" + Quote(WinePrefix()) +
                         " WINEDEBUG=-all && unset DISPLAY && wineboot --init >/dev/null 2>&1 &&"
                         " wineserver -w";
      if (std::system(boot.c_str()) != 0) std::fprintf(stderr, "e2e: wineboot --init failed\n");
    }
    int lock = LockWinePrefix();
    ::unlink(WindowsOptionsFile().c_str());
    if (lock >= 0) ::close(lock);
  });
}

// The shell words that start program: on Windows, tracepack and traceunpack
// become their .exe under wine.
inline std::string Command(const std::string& program) {
  std::string exe = WindowsExe(program);
  if (exe.empty()) return Quote(program);
  PrepareWinePrefix();
  return WineEnv() + " " + Quote(exe);
}

// Windows text with its CRLF line ends as LF text.
inline std::string FromCrlf(std::string s) {
  size_t to = 0;
  for (size_t from = 0; from < s.size(); ++from)
    if (!(s[from] == '\r' && from + 1 < s.size() && s[from + 1] == '\n')) s[to++] = s[from];
  s.resize(to);
  return s;
}

// QLOG.txt (or QLOG_OLD.txt) with LF line ends on either system.
inline std::string ReadQlog(const std::string& path) {
  return OnWindows() ? FromCrlf(ReadFile(path)) : ReadFile(path);
}

// Runs program with args in dir; standard output and error are captured
// into files of a private scratch directory (not dir, which the test checks).
inline Result Run(const std::string& dir, const std::string& program,
                  const std::vector<std::string>& args, const std::string& env = "") {
  TempDir scratch;
  std::string cmd = "cd " + Quote(dir) + " && " + env + " " + Command(program);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " >" + Quote(scratch / "out") + " 2>" + Quote(scratch / "err") + " </dev/null";
  Result r;
  int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = ReadFile(scratch / "out");
  r.err = ReadFile(scratch / "err");
  // A program that wine could not start (its server was shutting down just
  // then) never ran: it is started once more.
  if (!WindowsExe(program).empty() && r.status != 0 &&
      r.err.find("wine client error") != std::string::npos) {
    rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = ReadFile(scratch / "out");
    r.err = ReadFile(scratch / "err");
  }
  if (!WindowsExe(program).empty()) {
    r.out = FromCrlf(r.out);
    r.err = FromCrlf(r.err);
  }
  return r;
}

// Holds the options file of the wine prefix for one test, which removes it
// again when done.
class WindowsOptionsLock {
 public:
  WindowsOptionsLock() {
    PrepareWinePrefix();
    fd_ = LockWinePrefix();
  }
  ~WindowsOptionsLock() {
    ::unlink(WindowsOptionsFile().c_str());
    if (fd_ >= 0) ::close(fd_);
  }
  WindowsOptionsLock(const WindowsOptionsLock&) = delete;
  WindowsOptionsLock& operator=(const WindowsOptionsLock&) = delete;

 private:
  int fd_ = -1;
};

// Runs Debian's python3 (the one with scipy) on a script text; returns its
// standard output, status in *status.
inline Result Python(const std::string& dir, const std::string& script) {
  TempDir scratch;
  WriteFile(scratch / "s.py", script);
  return Run(dir, PYTHON3, {scratch / "s.py"});
}

// The names in a directory.
inline std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

// QLOG.txt lines without their time stamps: "(LEVEL): [vovizi/pid] text".
inline std::vector<std::string> QlogEntries(const std::string& dir) {
  std::vector<std::string> lines;
  std::istringstream in(ReadQlog(dir + "/QLOG.txt"));
  std::string line;
  while (std::getline(in, line)) {
    size_t p = line.find(" (");
    lines.push_back(p == std::string::npos ? line : line.substr(p + 1));
  }
  return lines;
}

}  // namespace e2e
