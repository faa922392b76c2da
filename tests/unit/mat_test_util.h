// Helpers shared by the MAT layer's unit tests: a scratch directory and
// whole-file read and write.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mattest {

class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/mat_test.XXXXXX";
    char* d = ::mkdtemp(tmpl);
    path_ = d ? d : "/tmp";
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  // Names in the directory, to see that no temporary file was left behind.
  std::vector<std::string> List() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path_.c_str())) {
      while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.' || (e->d_name[1] && e->d_name[1] != '.' )) names.push_back(e->d_name);
      ::closedir(d);
    }
    return names;
  }

 private:
  std::string path_;
};

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
