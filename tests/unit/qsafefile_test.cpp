#include "io/qsafefile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "platform/signals.h"
#include "unit_util.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  for (auto& e : std::filesystem::directory_iterator(dir)) {
    (void)e;
    ++n;
  }
  return n;
}

}  // namespace

TEST(QSafeFile, CommitReplacesAndKeepsThePermissions) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "out", "old");
#if !defined(_WIN32)
  ::chmod((cwd / "out").c_str(), 0640);
#endif
  QSafeFile f;
  ASSERT_TRUE(f.Open((cwd / "out").c_str()));
  std::string big(3 << 20, 'b');  // larger than the buffer: goes straight through
  EXPECT_TRUE(f.Write("a", 1));
  EXPECT_TRUE(f.Write(big.data(), big.size()));
  EXPECT_EQ(unit::Slurp(cwd / "out"), "old");
  EXPECT_TRUE(f.Commit());
  EXPECT_EQ(unit::Slurp(cwd / "out"), "a" + big);
#if defined(_WIN32)
  // The one permission Windows files have: not read-only.
  platform::FileInfo info;
  ASSERT_TRUE(platform::StatPath((cwd / "out").c_str(), &info));
  EXPECT_EQ(info.mode, 0666u);
#else
  struct stat st;
  ::stat((cwd / "out").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
  EXPECT_EQ(FilesIn(cwd.path()), 1u);
}

#if !defined(_WIN32)  // hard links and a directory in a file's place, as POSIX has them
// An existing target is swapped out rather than renamed over: its other
// names keep the old contents, and a directory put in its place meanwhile is
// neither swapped in nor removed.
TEST(QSafeFile, ReplacingLeavesOtherNamesAndDirectoriesAlone) {
  unit::ScopedTempCwd cwd;
  QSafeFile f;
  // A large old file is freed by a process of its own: its name is gone all
  // the same when Commit returns, and another name of it keeps it whole.
  for (const std::string& old : {std::string("old"), std::string(17 << 20, 'o')}) {
    SCOPED_TRACE(old.size());
    unit::Spit(cwd / "out", old);
    ASSERT_EQ(::link((cwd / "out").c_str(), (cwd / "other").c_str()), 0);
    ASSERT_TRUE(f.Open((cwd / "out").c_str()));
    f.Write("new", 3);
    ASSERT_TRUE(f.Commit());
    EXPECT_EQ(unit::Slurp(cwd / "out"), "new");
    EXPECT_TRUE(unit::Slurp(cwd / "other") == old);
    EXPECT_EQ(FilesIn(cwd.path()), 2u);
    std::filesystem::remove(cwd / "other");
  }
  unit::Spit(cwd / "other", "old");

  for (bool empty : {true, false}) {
    SCOPED_TRACE(empty ? "an empty directory" : "a directory with a file");
    ASSERT_TRUE(f.Open((cwd / "out").c_str()));
    f.Write("newer", 5);
    std::filesystem::remove(cwd / "out");
    std::filesystem::create_directory(cwd / "out");
    if (!empty) unit::Spit(cwd / "out/keep", "k");
    EXPECT_FALSE(f.Commit());
    EXPECT_EQ(f.Error(), EISDIR);
    ASSERT_TRUE(std::filesystem::is_directory(cwd / "out"));
    EXPECT_EQ(FilesIn(cwd / "out"), empty ? 0u : 1u);
    EXPECT_EQ(FilesIn(cwd.path()), 2u);
    std::filesystem::remove_all(cwd / "out");
    unit::Spit(cwd / "out", "old");
  }
}
#endif

TEST(QSafeFile, AbandonedOrFailedLeavesTargetAndNoTemporary) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "out", "old");
  {
    QSafeFile f;
    ASSERT_TRUE(f.Open((cwd / "out").c_str()));
    f.Write("new", 3);
  }
  EXPECT_EQ(unit::Slurp(cwd / "out"), "old");
  EXPECT_EQ(FilesIn(cwd.path()), 1u);

#if !defined(_WIN32)  // Windows has no file size limit to stand in for a full disk.
  // A file size limit makes the writes fail as a full disk would.
  struct rlimit old;
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_FSIZE, &small);
  QSafeFile f;
  ASSERT_TRUE(f.Open((cwd / "out").c_str()));
  std::string big(3 << 20, 'b');
  bool wrote = f.Write(big.data(), big.size());
  bool committed = f.Commit();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(committed);
  EXPECT_EQ(f.Error(), EFBIG);
  EXPECT_EQ(unit::Slurp(cwd / "out"), "old");
  EXPECT_EQ(FilesIn(cwd.path()), 1u);
#endif
}

#if !defined(_WIN32)  // a sparse file stands in for a large one
// A large target has its cached pages let go of when the output opens, both
// halves of it, but only once none waits to be written out; its contents
// stay all the same.
TEST(QSafeFile, LargeTargetLetGoOfFromTheCacheKeepsItsContents) {
  unit::ScopedTempCwd cwd;
  std::string path = cwd / "out";
  const off_t size = off_t{256} << 20;
  const off_t page = ::sysconf(_SC_PAGESIZE);
  const off_t probes[] = {0, size / 2 - page, size / 2 + page, size - page};
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
  ASSERT_EQ(::pwrite(fd, "tail", 4, size - 4), 4);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto cached = [&] {  // how many of the probed pages the cache holds
    int n = 0;
    for (off_t at : probes) {
      unsigned char in = 0;
      if (::mincore(static_cast<char*>(map) + at, 1, &in) == 0) n += in & 1;
    }
    return n;
  };
  auto readProbes = [&] {
    char c;
    for (off_t at : probes) EXPECT_EQ(::pread(fd, &c, 1, at), 1);
  };
  auto at = [&](off_t offset) {
    char text[5] = {};
    EXPECT_EQ(::pread(fd, text, 4, offset), 4);
    return std::string(text);
  };
  auto openAndAbandon = [&] {
    QSafeFile f;
    ASSERT_TRUE(f.Open(path.c_str()));
    f.Write("new", 3);
  };
  // The file's pages still to be written out, -1 where the kernel cannot
  // tell (it then keeps every page).
  auto dirty = [&] {
    struct {
      uint64_t offset = 0, length = 0;
    } range;
    uint64_t counts[5] = {};  // cached, dirty, writeback, evicted, recently evicted
    return ::syscall(451, fd, &range, counts, 0) == 0 ? static_cast<long long>(counts[1]) : -1;
  };
  readProbes();
  openAndAbandon();  // head and tail still to be written out: all stays
  if (dirty() != 0) {
    EXPECT_EQ(cached(), 4);
  }
  ASSERT_EQ(::fsync(fd), 0);
  readProbes();
  openAndAbandon();
  if (dirty() == 0) {
    EXPECT_EQ(cached(), 0);
  }
  EXPECT_EQ(at(0), "head");
  EXPECT_EQ(at(size - 4), "tail");
  ::munmap(map, size);
  ::close(fd);
  QSafeFile f;
  ASSERT_TRUE(f.Open(path.c_str()));
  EXPECT_TRUE(f.Write("new!", 4));
  EXPECT_TRUE(f.Commit());
  EXPECT_EQ(unit::Slurp(cwd / "out"), "new!");
}
#endif

// The removal a signal's handler makes, without the signal: the registered
// names go, the temporary file of an output in flight too (still open, which
// Windows allows only to files opened sharing delete), and nothing else; the
// commit that follows fails and keeps the target.
TEST(QSafeFile, InterruptRemovesOnlyTheFilesInFlight) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "out", "old");
  unit::Spit(cwd / "listed", "l");
  unit::Spit(cwd / "dropped", "d");
  int listed = platform::RemoveOnSignal((cwd / "listed").c_str());
  int dropped = platform::RemoveOnSignal((cwd / "dropped").c_str());
  ASSERT_GE(listed, 0);
  ASSERT_GE(dropped, 0);
  platform::ForgetOnSignal(dropped);
  QSafeFile done, inFlight;
  ASSERT_TRUE(done.Open((cwd / "done").c_str()));
  ASSERT_TRUE(done.Write("c", 1) && done.Commit());
  ASSERT_TRUE(inFlight.Open((cwd / "out").c_str()));
  inFlight.Write("new", 3);

  platform::RemoveRegisteredFiles();
  EXPECT_FALSE(inFlight.Commit());
  platform::ForgetOnSignal(listed);
  EXPECT_EQ(unit::Slurp(cwd / "out"), "old");
  EXPECT_EQ(unit::Slurp(cwd / "done"), "c");
  EXPECT_EQ(unit::Slurp(cwd / "dropped"), "d");
  EXPECT_FALSE(std::filesystem::exists(cwd / "listed"));
  EXPECT_EQ(FilesIn(cwd.path()), 3u);
}

TEST(QSafeFile, MissingDirectoryOrDirectoryTargetFailsToOpen) {
  unit::ScopedTempCwd cwd;
  QSafeFile f;
  EXPECT_FALSE(f.Open((cwd / "no/such/out").c_str()));
  EXPECT_EQ(f.Error(), ENOENT);
  EXPECT_FALSE(f.Open(cwd.path().c_str()));
  EXPECT_FALSE(f.Commit());
}

TEST(QSafeFile, LinksDevicesAndReadOnlyTargetsBehaveLikeOpeningThem) {
  unit::ScopedTempCwd cwd;
  QSafeFile f;
#if defined(_WIN32)
  // Windows links want a privilege, and the library does not follow them.
  unit::Spit(cwd / "real", "new");
#else
  unit::Spit(cwd / "real", "old");
  ::symlink("real", (cwd / "link").c_str());
  ASSERT_TRUE(f.Open((cwd / "link").c_str()));
  f.Write("new", 3);
  ASSERT_TRUE(f.Commit());
  EXPECT_EQ(unit::Slurp(cwd / "real"), "new");
  struct stat st;
  ASSERT_EQ(::lstat((cwd / "link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A dangling link creates the file it names, relative to the link.
  ::mkdir((cwd / "sub").c_str(), 0755);
  ::symlink("made", (cwd / "sub/dangling").c_str());
  ASSERT_TRUE(f.Open((cwd / "sub/dangling").c_str()));
  f.Write("m", 1);
  ASSERT_TRUE(f.Commit());
  EXPECT_EQ(unit::Slurp(cwd / "sub/made"), "m");
  ASSERT_EQ(::lstat((cwd / "sub/dangling").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A loop of links is refused as opening it would be, and stays a loop.
  ::symlink("loop-b", (cwd / "loop-a").c_str());
  ::symlink("loop-a", (cwd / "loop-b").c_str());
  EXPECT_FALSE(f.Open((cwd / "loop-a").c_str()));
  EXPECT_EQ(f.Error(), ELOOP);
  ASSERT_EQ(::lstat((cwd / "loop-a").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
#endif

  // A device is written in place, never replaced by a regular file.
#if defined(_WIN32)
  ASSERT_TRUE(f.Open("NUL"));
  f.Write("x", 1);
  EXPECT_TRUE(f.Commit());
  platform::FileInfo info;
  ASSERT_TRUE(platform::StatPath("NUL", &info));
  EXPECT_FALSE(info.isRegular);
  EXPECT_FALSE(info.isDirectory);

  // The read-only attribute refuses even an administrator.
  namespace fs = std::filesystem;
  fs::permissions(cwd / "real", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_FALSE(f.Open((cwd / "real").c_str()));
  EXPECT_EQ(f.Error(), EACCES);
  EXPECT_EQ(unit::Slurp(cwd / "real"), "new");
  // Read-only files cannot be deleted on Windows: let the cleanup remove it.
  fs::permissions(cwd / "real", fs::perms::owner_write, fs::perm_options::add);
#else
  ASSERT_TRUE(f.Open("/dev/null"));
  f.Write("x", 1);
  EXPECT_TRUE(f.Commit());
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  if (::geteuid() != 0) {
    ::chmod((cwd / "real").c_str(), 0444);
    EXPECT_FALSE(f.Open((cwd / "real").c_str()));
    EXPECT_EQ(f.Error(), EACCES);
    EXPECT_EQ(unit::Slurp(cwd / "real"), "new");
  }
#endif
}
