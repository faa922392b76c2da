// Shared helpers of the unit tests: a per-test temporary working directory
// (the message routines write QLOG.txt into the current directory).
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace unit {

class ScopedTempCwd {
 public:
  ScopedTempCwd() {
    char templ[] = "/tmp/trace-unit-XXXXXX";
    char* made = ::mkdtemp(templ);
    path_ = made ? made : "/tmp";
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScopedTempCwd() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::filesystem::path old_;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void Spit(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace unit
