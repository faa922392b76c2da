#include "io/qsafefile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "unit_util.h"

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
  ::chmod((cwd / "out").c_str(), 0640);
  QSafeFile f;
  ASSERT_TRUE(f.Open((cwd / "out").c_str()));
  std::string big(3 << 20, 'b');  // larger than the buffer: goes straight through
  EXPECT_TRUE(f.Write("a", 1));
  EXPECT_TRUE(f.Write(big.data(), big.size()));
  EXPECT_EQ(unit::Slurp(cwd / "out"), "old");
  EXPECT_TRUE(f.Commit());
  EXPECT_EQ(unit::Slurp(cwd / "out"), "a" + big);
  struct stat st;
  ::stat((cwd / "out").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FilesIn(cwd.path()), 1u);
}

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
  unit::Spit(cwd / "real", "old");
  ::symlink("real", (cwd / "link").c_str());
  QSafeFile f;
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

  // A device is written in place, never replaced by a regular file.
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
}
