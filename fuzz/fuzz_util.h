// What the harnesses share: the input bytes as a file in a private temporary
// directory (the readers under test take file names), removed at exit.
//
// Messages land in QLOG.txt in the current directory, so run the harnesses
// from a scratch directory (fuzz/run.sh does). The options file is pointed
// at a path that does not exist: the remote log channel stays off whatever
// /etc holds, and no input ever reaches the network.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "remote/qoptions.h"

namespace fuzzutil {

class InputFile {
 public:
  explicit InputFile(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/trace-fuzz-XXXXXX";
    if (char* made = ::mkdtemp(templ.data())) dir_ = made;
    path_ = dir_.empty() ? std::string() : dir_ + "/" + name;
    QOptionsSetPathForTest("/nonexistent/trellisopt.txt");
  }
  ~InputFile() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  // Writes the bytes as the whole file; false when that failed (the input is
  // then skipped rather than read from a stale file). The old bytes are
  // overwritten and the rest cut off afterwards: a file truncated to nothing
  // and written anew is flushed to disk at its close by ext4 (its guard for
  // files replaced so), a wait of milliseconds per input.
  bool Write(const uint8_t* data, size_t size) {
    if (path_.empty()) return false;
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bool ok = done == size && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    return ::close(fd) == 0 && ok;
  }
  const char* Path() const { return path_.c_str(); }

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace fuzzutil
