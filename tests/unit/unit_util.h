// Shared helpers of the unit tests: a per-test temporary working directory
// (the message routines write QLOG.txt into the current directory).
#pragma once

#include <filesystem>
#include <string>

#include "test_files.h"

namespace unit {

// A temporary directory that is the current one while the object lives.
class ScopedTempCwd {
 public:
  ScopedTempCwd() : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~ScopedTempCwd() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
  }
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }

 private:
  testfiles::TempDir dir_;
  std::filesystem::path old_;
};

inline std::string Slurp(const std::string& path) { return testfiles::ReadFile(path); }
inline void Spit(const std::string& path, const std::string& content) {
  testfiles::WriteFile(path, content);
}

}  // namespace unit
