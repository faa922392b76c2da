// The progress line: shown on a terminal after its delay, erased at the end,
// never written anywhere else.
#include "msg/qprogress.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <pty.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

std::string Drain(int fd) {
  std::string text;
  char buf[4096];
  long long n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  return text;
}

int MakePipe(int fds[2]) {
#if defined(_WIN32)
  return ::_pipe(fds, 65536, _O_BINARY);
#else
  return ::pipe(fds);
#endif
}

}  // namespace

TEST(QProgress, ShownOnATerminalAndErasedAtTheEnd) {
#if defined(_WIN32)
  GTEST_SKIP() << "no pseudo-terminal on Windows to read the line back from";
#else
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pty";
  struct termios raw;
  ::tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  {
    QProgress progress("Reading log file", 200, slave, 0, 10);
    QProgressAdvance(50, 3000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  std::string text = Drain(master);
  EXPECT_NE(text.find("\rReading log file:  25%, "), std::string::npos) << text;
  EXPECT_NE(text.find(" MB/s "), std::string::npos) << text;
  // The last thing written blanks the line and returns to its start.
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.back(), '\r');
  size_t blank = text.rfind('\r', text.size() - 2);
  EXPECT_EQ(text.find_first_not_of(' ', blank + 1), text.size() - 1) << text;
  ::close(master);
  ::close(slave);
#endif
}

TEST(QProgress, NothingWhenNotATerminalOrQuick) {
  int fds[2];
  ASSERT_EQ(MakePipe(fds), 0);
  {
    QProgress progress("Reading log file", 100, fds[1], 0, 10);
    QProgressAdvance(10, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
#if !defined(_WIN32)  // no pseudo-terminal on Windows
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
    // A terminal, but the work ends before the delay.
    QProgress progress("Reading log file", 100, slave, 10000, 10);
    QProgressAdvance(10, 10);
  }
#endif
  ::close(fds[1]);
  EXPECT_EQ(Drain(fds[0]), "");
  ::close(fds[0]);
#if !defined(_WIN32)
  if (master >= 0) {
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    EXPECT_EQ(Drain(master), "");
    ::close(master);
    ::close(slave);
  }
#endif
}
