// Inputs that claim or hold a lot, run under memory limits: MAT-files whose
// sizes promise gigabytes the file does not hold must end in a warning about
// damage without an allocation of that size; a compressed variable that does
// inflate to 128 MiB costs that much, not a multiple; logs with a 100 MB
// line, NUL bytes or no line end convert in bounded memory.
//
// An allocation limit catches what the programs try, not just what they
// touch: in the sanitizer build AddressSanitizer aborts on any single
// allocation above the limit (its own address space cannot be limited); in
// other builds the address space is limited and a refused allocation must
// be reported cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "e2e/e2e_util.h"

#ifndef TRACEUNPACK_BIN
#define TRACEUNPACK_BIN ""
#endif

namespace {

// Runs with no allocation beyond mib MiB; the peak resident size in KiB
// lands in rss (a file in dir's parent scratch).
std::string Limited(int mib, const std::string& rss) {
  std::string time = "/usr/bin/time -f %M -o " + e2e::Quote(rss);
  // Wine reserves most of the address space up front and the .exe has no
  // AddressSanitizer: on Windows only the peak is measured.
  if (e2e::OnWindows()) return time;
#ifdef E2E_SANITIZED
  return time + " env ASAN_OPTIONS=max_allocation_size_mb=" + std::to_string(mib) +
         ":allocator_may_return_null=0:quarantine_size_mb=0";
#else
  // Address space also covers the program, its libraries and thread stacks.
  return "ulimit -v " + std::to_string((mib + 256) * 1024) + " && " + time;
#endif
}

// The peak of a run beyond what wine itself takes (0 on Linux): that of a
// run that only prints its usage.
long PeakMiB(const std::string& rss) {
  static const long wine = [] {
    if (!e2e::OnWindows()) return 0L;
    e2e::TempDir dir, scratch;
    e2e::Run(dir.path(), TRACEPACK_BIN, {}, "/usr/bin/time -f %M -o " + e2e::Quote(scratch / "rss"));
    return std::atol(e2e::ReadFile(scratch / "rss").c_str()) / 1024;
  }();
  return std::atol(e2e::ReadFile(rss).c_str()) / 1024 - wine;
}

const char kMatFiles[] = R"(
import os, struct, zlib
def sub(t, data):
    b = struct.pack('<II', t, len(data)) + data
    return b + b'\0' * (-len(b) % 8)
def matrix(n, name, data_bytes, data):
    b = sub(6, struct.pack('<II', 6, 0)) + sub(5, struct.pack('<iI', 1, n)) + sub(1, name)
    b += struct.pack('<II', 9, data_bytes) + data
    return b + b'\0' * (-len(b) % 8)
def level5(t, body, claim):
    h = b'MATLAB 5.0 MAT-file, made by a test'.ljust(116, b' ') + b'\0' * 8 + b'\0\x01IM'
    return h + struct.pack('<II', t, claim) + body
def inner(n, data):
    b = matrix(n, b'x', n * 8 & 0xffffffff, data)
    return struct.pack('<II', 14, min(len(b) - len(data) + n * 8, 0xffffffff)) + b
# Level 4: 1 x 2^30 doubles, 8 bytes there.
open('v4.mat', 'wb').write(struct.pack('<5I', 0, 1, 1 << 30, 0, 2) + b'x\0' + b'\0' * 8)
# Level 5: 1 x 2^28 doubles (2 GiB) in an element that claims them, 16 bytes there.
b = matrix(1 << 28, b'x', 1 << 31, b'\0' * 16)
open('v5.mat', 'wb').write(level5(14, b, len(b) - 16 + (1 << 31)))
def compressed(name, data, level):
    z = zlib.compress(data, level)
    open(name, 'wb').write(level5(15, z, len(z)))
# Compressed: 1 x 2^31-1 doubles claimed by a stream of a few dozen bytes.
compressed('z_tiny.mat', inner((1 << 31) - 1, b'\0' * 16), 6)
# Compressed: 2 GiB claimed by 3 MiB of stored (incompressible) stream, which
# could inflate to 3 GiB: only reading it shows the claim false.
compressed('z_short.mat', inner((1 << 28) - 1, os.urandom(3 << 20)), 0)
# Compressed: 1 x 2^24 zeros (128 MiB) that really are there.
compressed('z_real.mat', inner(1 << 24, bytes(8 << 24)), 9)
)";

class Limits : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TRACEUNPACK_BIN).empty()) GTEST_SKIP() << "traceunpack not built";
  }
};

TEST_F(Limits, MatFileClaimsCostNoMoreThanTheirBytes) {
  e2e::TempDir dir, scratch;
  e2e::Result py = e2e::Python(dir.path(), kMatFiles);
  ASSERT_EQ(py.status, 0) << py.err;
  for (const char* mat : {"v4.mat", "v5.mat", "z_tiny.mat", "z_short.mat"}) {
    SCOPED_TRACE(mat);
    e2e::Result r = e2e::Run(dir.path(), TRACEUNPACK_BIN, {mat, "out.log"},
                             Limited(64, scratch / "rss"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("matGetNextVariable(); '") + mat + "' damaged at byte "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("too large"), std::string::npos) << r.err;
    EXPECT_LT(PeakMiB(scratch / "rss"), 64);
  }

  // The real thing: the variable and the table's copy of it, and little more.
  e2e::Result r = e2e::Run(dir.path(), TRACEUNPACK_BIN, {"z_real.mat", "out.log"},
                           Limited(128, scratch / "rss"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Traceunpack 1.0\n1x16777216 (=16777216)\n");
  EXPECT_EQ(r.err.find("matGetNextVariable"), std::string::npos) << r.err;
  std::string log = e2e::ReadFile(dir / "out.log");
  size_t body = log.find('\n') + 1;
  EXPECT_EQ(log.size() - body, 2u + 2 * (size_t{1} << 24));
  EXPECT_EQ(log.compare(body, 8, "x\n0\n0\n0\n"), 0);
  EXPECT_LT(PeakMiB(scratch / "rss"), 2 * 128 + 96);
}

// Logs read in bounded memory whatever their lines: the result of each is
// read back through traceunpack.
TEST_F(Limits, LogsWithAHugeLineNulBytesOrNoLineEndConvert) {
  e2e::TempDir dir, scratch;
  e2e::Result py = e2e::Python(dir.path(), R"(
with open('long.log', 'wb') as f:
    f.write(b'a b\n' + b'1 2 ' * (25 << 20) + b'\n7 8\n')
with open('oneline.log', 'wb') as f:
    f.write(b'1 2 ' * (25 << 20))
open('nulbytes.log', 'wb').write(b'a b\n1 2\n3\0' + b'4 5\n' + b'\0' * 8192 + b'\n8 9\n')
)");
  ASSERT_EQ(py.status, 0) << py.err;
  std::string zeros;  // the last piece is one blank: a sample of 100 zeros
  for (int k = 0; k < 99; ++k) zeros += "0 ";
  struct Case {
    const char* log;
    const char* records;  // the count tracepack reports
    const char* first;    // the names line and first sample of the log written back
    std::string last;     // its last sample
  } cases[] = {
      // 100 MiB in pieces of 10239 characters, each a sample.
      {"long.log", "10243 records.\n", "a b\n1 2\n", "\n0 0\n7 8\n"},
      // No line end at all: the names are the first piece, 100 of them kept.
      {"oneline.log", "10241 records.\n", "1 2 1 2 ", "\n" + zeros + "0\n"},
      // The samples around the NUL bytes keep their values. (Not "nul.log":
      // that names the NUL device on Windows.)
      {"nulbytes.log", " records.\n", "a b\n1 2\n", "\n8 9\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    e2e::Result pack =
        e2e::Run(dir.path(), TRACEPACK_BIN, {c.log, "out.mat"}, Limited(64, scratch / "rss"));
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_NE(pack.err.find(c.records), std::string::npos) << pack.err;
    // Wine keeps the pages of the mapped log resident where Windows lets them
    // go (VirtualUnlock), so there the peak says nothing.
    if (!e2e::OnWindows()) {
      EXPECT_LT(PeakMiB(scratch / "rss"), 64);
    }
    e2e::Result unpack = e2e::Run(dir.path(), TRACEUNPACK_BIN, {"out.mat", "out.log"});
    EXPECT_EQ(unpack.status, 0) << unpack.err;
    std::string log = e2e::ReadFile(dir / "out.log");
    std::string body = log.substr(log.find('\n') + 1);
    EXPECT_EQ(body.compare(0, std::strlen(c.first), c.first), 0) << body.substr(0, 80);
    ASSERT_GE(body.size(), c.last.size());
    EXPECT_EQ(body.substr(body.size() - c.last.size()), c.last);
  }
}

}  // namespace
