// The 7.3 reader in a child process. The HDF5 library trusts the structures
// of the files it opens: a damaged file can make it follow or free wild
// pointers (fuzzing found such files within seconds). So the reading runs
// in a child process that streams each variable through a pipe, and the
// parent hands them on as they come. A child that dies (a signal, or a
// stream cut short) is reported as damage; the variables before it stay
// converted, as with damage the other readers find.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mat/mat_hdf5.h"
#include "mat/mat_reader.h"
#include "msg/qlog.h"
#include "platform/child_process.h"
#include "platform/file_io.h"

// Present only in sanitizer builds: the child clears it so that a fault the
// sanitizer catches inside the HDF5 library ends the child and nothing else.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace matlayer {

namespace {

// kDamagedEnd ends a stream whose reading stopped at damage (reported before).
enum Record : uint32_t { kOpened = 1, kOpenFailed, kArray, kReport, kEnd, kDamagedEnd };

bool readAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    long long n = platform::Read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

template <class T>
bool put(int fd, T value) {
  return platform::WriteAll(fd, &value, sizeof value);
}

int childOut = -1;

void sendReport(const char* text) {
  uint32_t length = static_cast<uint32_t>(std::strlen(text));
  if (!put(childOut, kReport) || !put(childOut, length) || !platform::WriteAll(childOut, text, length))
    platform::ExitChild(0);
}

// Reads the whole file and streams it to out, in the child; never returns.
[[noreturn]] void runChild(const std::string& path, int fd, uint64_t size, int out) {
  // A library caught in an endless loop by a damaged file is stopped after
  // ten minutes of processor time and a minute more per gigabyte (reading
  // gigabytes takes seconds); the parent then reports the file as damaged
  // instead of waiting forever.
  platform::LimitProcessorTime(600 + (size >> 30) * 60);
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(nullptr);
  childOut = out;
  SetReportSink(sendReport);
  std::unique_ptr<MATFile> reader(OpenV73ReaderInProcess(path, fd, size));
  if (!reader) {
    put(out, kOpenFailed);
    platform::ExitChild(0);
  }
  if (!put(out, kOpened) || !put(out, static_cast<int64_t>(reader->CountRemaining()))) platform::ExitChild(0);
  const char* name = nullptr;
  while (mxArray* raw = reader->Next(&name)) {
    std::unique_ptr<mxArray> a(raw);
    uint32_t nameLength = static_cast<uint32_t>(a->name.size());
    uint32_t rank = static_cast<uint32_t>(a->dims.size());
    bool ok = put(out, kArray) && put(out, static_cast<int64_t>(reader->CountRemaining())) &&
              put(out, nameLength) && platform::WriteAll(out, a->name.data(), nameLength) && put(out, rank) &&
              platform::WriteAll(out, a->dims.data(), rank * sizeof(mwSize)) &&
              platform::WriteAll(out, a->pr, a->count * sizeof(double));
    if (!ok) platform::ExitChild(0);
  }
  put(out, reader->Damaged() ? kDamagedEnd : kEnd);
  platform::ExitChild(0);
}

// The child's side as a named entry, so that a child that is a new run of
// the program (Windows) finds it: data holds the file's size and its name,
// fds the file and the pipe's writing end.
void childBody(const platform::ChildArgs& args) {
  uint64_t size = 0;
  if (args.data.size() < sizeof size || args.fds.size() != 2) platform::ExitChild(1);
  std::memcpy(&size, args.data.data(), sizeof size);
  runChild(args.data.substr(sizeof size), args.fds[0], size, args.fds[1]);
}

const platform::ChildEntry v73Child("mat-v73-reader", childBody);

class V73ChildReader final : public ReaderBase {
 public:
  V73ChildReader(const std::string& path, int fd, uint64_t size) : ReaderBase(path, fd, size) {}
  ~V73ChildReader() override {
    if (in_ >= 0) platform::Close(in_);
    // A child still reading is not waited for: its variables are not wanted.
    if (child_ > 0) {
      platform::KillChild(child_);
      reap();
    }
  }

  // Starts the child; false (reported) when it cannot start, fails on the
  // file's first structures or finds no HDF5 file it can open.
  bool Open() {
    // The library is loaded here, once, rather than in each child.
    const char* why = nullptr;
    if (!QuietHdf5(&why)) {
      report("matOpen(); can't read '%s': no HDF5 library (%s)", path_.c_str(), why);
      return false;
    }
    int in = -1, out = -1;
    if (!platform::OpenPipe(&in, &out)) {
      report("matOpen(); can't read '%s': no pipe to the reader process (%s)", path_.c_str(), std::strerror(errno));
      return false;
    }
    platform::ChildArgs args;
    args.data.assign(reinterpret_cast<const char*>(&size_), sizeof size_);
    args.data += path_;
    args.fds = {fd_, out};
    int id = platform::StartChild(v73Child, args, {in});
    int err = errno;
    platform::Close(out);
    if (id < 0) {
      report("matOpen(); can't read '%s': no reader process (%s)", path_.c_str(), std::strerror(err));
      platform::Close(in);
      return false;
    }
    child_ = id;
    in_ = in;
    uint32_t kind = 0;
    if (!readAll(in_, &kind, sizeof kind)) {
      report("matOpen(); '%s' damaged: the HDF5 library failed opening it (%s)", path_.c_str(),
             childEnd().c_str());
      return false;
    }
    return kind == kOpened && readAll(in_, &remaining_, sizeof remaining_);
  }

  long CountRemaining() override { return done_ ? 0 : static_cast<long>(remaining_); }

  mxArray* Next(const char**) override {
    while (!done_) {
      uint32_t kind = 0;
      if (!readAll(in_, &kind, sizeof kind)) return failed();
      if (kind == kEnd || kind == kDamagedEnd) {
        done_ = true;
        damaged_ = kind == kDamagedEnd;
        break;
      }
      if (kind == kReport) {
        uint32_t length = 0;
        if (!readAll(in_, &length, sizeof length) || length >= QLOG_BUFSIZE) return failed();
        std::string text(length, '\0');
        if (!readAll(in_, text.data(), length)) return failed();
        report("%s", text.c_str());
        continue;
      }
      if (kind != kArray) return failed();
      return array();
    }
    return nullptr;
  }

 private:
  mxArray* array() {
    uint32_t nameLength = 0, rank = 0;
    std::string name;
    std::vector<mwSize> dims;
    if (!readAll(in_, &remaining_, sizeof remaining_) || !readAll(in_, &nameLength, sizeof nameLength) ||
        nameLength > (1u << 20))
      return failed();
    name.resize(nameLength);
    if (!readAll(in_, name.data(), nameLength) || !readAll(in_, &rank, sizeof rank) || rank > 64) return failed();
    dims.resize(rank);
    if (!readAll(in_, dims.data(), rank * sizeof(mwSize))) return failed();
    mxArray* a = NewArray(dims, false, false, true);
    if (!a) {
      // The child could hold it, this process cannot: skip its values.
      size_t count = 0;
      CountOf(dims, &count);
      char scratch[65536];
      for (uint64_t left = uint64_t{count} * sizeof(double); left > 0;) {
        size_t n = left < sizeof scratch ? static_cast<size_t>(left) : sizeof scratch;
        if (!readAll(in_, scratch, n)) return failed();
        left -= n;
      }
      tooLarge(name, dims);
      return Next(nullptr);
    }
    std::unique_ptr<mxArray> hold(a);
    if (!readAll(in_, a->pr, a->count * sizeof(double))) return failed();
    a->name = std::move(name);
    ++index_;
    return hold.release();
  }

  mxArray* failed() {
    report("matGetNextVariable(); '%s' damaged in variable %d: the HDF5 library failed reading it (%s)",
           path_.c_str(), index_ + 1, childEnd().c_str());
    done_ = true;
    damaged_ = true;
    return nullptr;
  }

  // How the child ended, once the stream broke off.
  std::string childEnd() {
    if (in_ >= 0) platform::Close(in_);
    in_ = -1;
    platform::ChildEnd end = reap();
    if (end.how == platform::ChildEnd::kSignalled) return "signal " + std::to_string(end.code);
    if (end.how == platform::ChildEnd::kExited) return "exit status " + std::to_string(end.code);
    return "reader process lost";
  }

  platform::ChildEnd reap() {
    platform::ChildEnd end;
    if (child_ > 0) end = platform::WaitChild(child_);
    child_ = -1;
    return end;
  }

  int child_ = -1;
  int in_ = -1;
  int64_t remaining_ = 0;
};

}  // namespace

MATFile* OpenV73Reader(const std::string& path, int fd, uint64_t size) {
  return Opened(new V73ChildReader(path, fd, size));
}

}  // namespace matlayer
