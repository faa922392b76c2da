// The guard of reads from a mapped file: a page that cannot be read inside
// RunGuarded comes back as EIO, guards nest, and the outer guard is in
// place again however the inner one ended. Windows refuses to cut short a
// mapped file, so there the fault the guard catches is raised directly, as
// the system raises it for a page it cannot bring in (a network file gone).
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "platform/file_io.h"
#include "platform/mapping.h"
#include "unit_util.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

class MappingGuard : public testing::Test {
 protected:
  void SetUp() override {
    unit::Spit(cwd_ / "m.bin", std::string(3 * 65536, 'x'));
    fd_ = platform::OpenRead("m.bin");
    ASSERT_GE(fd_, 0);
    map_ = platform::MapFile(fd_, 3 * 65536);
    ASSERT_NE(map_, nullptr);
#if defined(_WIN32)
    int writer = platform::OpenWrite("m.bin");
    ASSERT_GE(writer, 0);
    FILE_END_OF_FILE_INFO end = {};
    EXPECT_FALSE(::SetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(writer)), FileEndOfFileInfo,
                                              &end, sizeof end));
    platform::Close(writer);
#else
    ASSERT_EQ(::truncate("m.bin", 0), 0);
#endif
  }
  void TearDown() override {
    platform::UnmapFile(map_, 3 * 65536);
    platform::Close(fd_);
  }

  // Reads the last page, which is gone.
  void readLost() {
#if defined(_WIN32)
    ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 0, nullptr);
#endif
    sink_ = sink_ + map_[2 * 65536];
  }

  unit::ScopedTempCwd cwd_;
  int fd_ = -1;
  const char* map_ = nullptr;
  char volatile sink_ = 0;
};

TEST_F(MappingGuard, LostPageIsEIO) {
  bool after = false;
  auto read = [&] {
    readLost();
    after = true;
  };
  EXPECT_EQ(platform::RunGuarded(read), EIO);
  EXPECT_FALSE(after);
  auto fine = [] {};
  EXPECT_EQ(platform::RunGuarded(fine), 0);
}

TEST_F(MappingGuard, OuterGuardHoldsAfterInnerEnds) {
  int inner = -1;
  auto afterFault = [&] {
    auto lost = [&] { readLost(); };
    inner = platform::RunGuarded(lost);
    readLost();
  };
  EXPECT_EQ(platform::RunGuarded(afterFault), EIO);
  EXPECT_EQ(inner, EIO);
  auto afterThrow = [&] {
    auto thrower = [] { throw std::runtime_error("inner"); };
    EXPECT_THROW(platform::RunGuarded(thrower), std::runtime_error);
    readLost();
  };
  EXPECT_EQ(platform::RunGuarded(afterThrow), EIO);
}

}  // namespace
