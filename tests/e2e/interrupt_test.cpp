// Conversions ended by a signal while they write: the directory of the
// output is left as it was (the old target byte for byte, no temporary
// file), and the process ends by that signal, so that the shell can tell.
// A signal the program was started ignoring (SIGHUP under nohup) stays
// ignored. Under wine, SIGINT reaches the Windows programs as Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/shared_inputs.h"

#ifndef TRACEUNPACK_BIN
#define TRACEUNPACK_BIN ""
#endif

namespace {

// Starts program in dir with its output thrown away, the signals in ignored
// ignored from the start and the others at their default action. The shell
// gives way to the program (wine too keeps its process), so the id is the
// program's.
pid_t Start(const std::string& dir, const std::string& program, const std::vector<std::string>& args,
            const std::vector<int>& ignored) {
  std::string command = "exec " + e2e::Command(program);
  for (const std::string& a : args) command += " " + e2e::Quote(a);
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int null = ::open("/dev/null", O_RDWR);
  if (::chdir(dir.c_str()) != 0 || null < 0) ::_exit(127);
  ::dup2(null, 0);
  ::dup2(null, 1);
  ::dup2(null, 2);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
  for (int s : ignored) ::signal(s, SIG_IGN);
  ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
  ::_exit(127);
}

class Interrupt : public e2e::SharedInputs<Interrupt> {
 public:
  // A log large enough that its conversion writes for a while even without
  // the sanitizers, and the MAT-file made from it for traceunpack.
  static std::string Log() {
    std::string log = "time speed gear\n";
    for (int i = 0; i < 2000000; ++i)
      log += std::to_string(i) + ".001 " + std::to_string(i % 977) + ".25 " + std::to_string(i % 7) + "\n";
    return log;
  }
};

TEST_F(Interrupt, SignalWhileWritingLeavesTheDirectoryAsItWas) {
  struct Case {
    std::string program;
    const char* input;
    const char* target;
    int signal;
    std::vector<int> ignored;  // ignored from the start, and sent first
  };
  const Case cases[] = {
      {TRACEPACK_BIN, "in.log", "out.mat", SIGINT, {}},
      {TRACEUNPACK_BIN, "in.mat", "out.log", SIGINT, {}},
      {TRACEPACK_BIN, "in.log", "out.mat", SIGTERM, {SIGHUP}},
      {TRACEUNPACK_BIN, "in.mat", "out.log", SIGTERM, {SIGPIPE}},
  };
  int skipped = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + strsignal(c.signal));
    // Windows has no signals but Ctrl-C and its kin, which wine makes of
    // SIGINT; SIGTERM or SIGHUP end a program under wine at once.
    if (e2e::OnWindows() && c.signal != SIGINT) {
      ++skipped;
      continue;
    }
    e2e::TempDir dir;
    const std::string out = dir / "out", target = out + "/" + c.target;
    std::filesystem::create_directory(out);
    e2e::WriteFile(target, "old target contents\n");
    std::filesystem::copy_file(*inputs_ / c.input, dir / c.input);
    const std::set<std::string> before = e2e::Listing(out);

    pid_t pid = Start(dir.path(), c.program, {c.input, std::string("out/") + c.target}, c.ignored);
    ASSERT_GT(pid, 0);
    // A case that fails half-way leaves no program running.
    struct Reaper {
      pid_t& pid;
      ~Reaper() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
      }
    } reaper{pid};
    // Until the temporary file is there, the program has not begun writing.
    int status = 0;
    bool writing = false;
    for (int i = 0; i < 60000 && !writing; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      writing = e2e::Listing(out).size() > before.size();
      if (!writing && ::waitpid(pid, &status, WNOHANG) == pid) pid = 0;
      if (pid == 0) break;
    }
    ASSERT_TRUE(writing) << "no temporary file appeared";
    for (int s : c.ignored) ::kill(pid, s);
    std::this_thread::sleep_for(std::chrono::milliseconds(c.ignored.empty() ? 0 : 50));
    pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) pid = 0;
    ASSERT_EQ(ended, 0) << "ended by an ignored signal, or done too soon";
    ::kill(pid, c.signal);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    pid = 0;

    if (e2e::OnWindows()) {
      // wine reports a process ended by Ctrl-C with status 0, and its server
      // drops the files pending removal a moment after the process is gone.
      for (int i = 0; i < 5000 && e2e::Listing(out) != before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
    }
    EXPECT_EQ(e2e::Listing(out), before);
    EXPECT_EQ(e2e::ReadFile(target), "old target contents\n");
  }
  if (skipped) GTEST_SKIP() << skipped << " cases send signals Windows has no counterpart of";
}

}  // namespace
