// Helpers for the end-to-end tests: a fresh temporary directory per test,
// running a built program there with its output captured, and file access.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// Runs program with args in dir; standard output and error are captured
// into files of a private scratch directory (not dir, which the test checks).
inline Result Run(const std::string& dir, const std::string& program,
                  const std::vector<std::string>& args, const std::string& env = "") {
  TempDir scratch;
  std::string cmd = "cd " + Quote(dir) + " && " + env + " " + Quote(program);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " >" + Quote(scratch / "out") + " 2>" + Quote(scratch / "err") + " </dev/null";
  Result r;
  int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = ReadFile(scratch / "out");
  r.err = ReadFile(scratch / "err");
  return r;
}

// Runs Debian's python3 (the one with scipy) on a script text; returns its
// standard output, status in *status.
inline Result Python(const std::string& dir, const std::string& script) {
  TempDir scratch;
  WriteFile(scratch / "s.py", script);
  return Run(dir, PYTHON3, {scratch / "s.py"});
}

// QLOG.txt lines without their time stamps: "(LEVEL): [vovizi/pid] text".
inline std::vector<std::string> QlogEntries(const std::string& dir) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(dir + "/QLOG.txt"));
  std::string line;
  while (std::getline(in, line)) {
    size_t p = line.find(" (");
    lines.push_back(p == std::string::npos ? line : line.substr(p + 1));
  }
  return lines;
}

}  // namespace e2e
