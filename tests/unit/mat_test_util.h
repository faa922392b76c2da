// Helpers shared by the MAT layer's unit tests: a scratch directory and
// whole-file read and write.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_files.h"
#if defined(_WIN32)
#include "mat/hdf5_api.h"
#endif

namespace mattest {

class ScratchDir {
 public:
  std::string operator/(const std::string& name) const { return dir_ / name; }
  const std::string& path() const { return dir_.path(); }
  // Names in the directory, to see that no temporary file was left behind.
  std::vector<std::string> List() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path(), ec))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  testfiles::TempDir dir_;
};

// Windows machines have HDF5 only where the user installed it; on Linux it
// is part of the build, so there every 7.3 case runs.
inline bool NoHdf5() {
#if defined(_WIN32)
  return !hdf5api::Load(nullptr);
#else
  return false;
#endif
}

inline std::vector<unsigned char> ReadAll(const std::string& path) {
  std::vector<unsigned char> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}

inline bool WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace mattest
