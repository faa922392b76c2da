// Output failures injected into the real programs: a full disk (/dev/full,
// a small tmpfs), a write or close that fails (a preloaded shim), a rename
// refused because the target is a mount point, a missing or read-only
// directory and a directory as target, each for tracepack's MAT-file and
// traceunpack's log. Every failure must leave the old target byte for byte,
// no new file in its directory, an exit status of 0 and a warning on the
// console and in QLOG.txt that names the failure.
//
// Each run goes through a small wrapper that prepares the directory (inside
// a private mount namespace where the case mounts something, so the mounts
// vanish with the run) and records the directory and the target before and
// after the program. Without the rights for a mount namespace those cases
// skip.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/shared_inputs.h"

#ifndef TRACEUNPACK_BIN
#define TRACEUNPACK_BIN ""
#endif

namespace {

const char kOld[] = "old target contents\n";

// $1 scratch, $2 test directory, $3 target; the rest: the command.
const char kWrapper[] = R"(#!/bin/sh
s=$1 t=$3; shift 3
if [ -f "$s/setup" ]; then . "$s/setup" || exit 97; fi
d=$(dirname "$t"); [ -d "$d" ] || d=.
ls -A "$d" > "$s/before" 2>&1
if [ -f "$t" ]; then cat "$t" > "$s/old"; fi
"$@"; rc=$?
ls -A "$d" > "$s/after" 2>&1
if [ -f "$t" ]; then cat "$t" > "$s/new"; fi
exit $rc
)";

std::string Namespace() {
  return ::geteuid() == 0 ? "unshare --mount --propagation private"
                          : "unshare --map-root-user --mount --propagation private";
}

std::string AsPlainUser() {
  return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
}

std::string Shim(const char* call) {
  return std::string("env LD_PRELOAD=") + FAULT_SHIM +
         " ASAN_OPTIONS=verify_asan_link_order=0 QFAULT=" + call + " QFAULT_SUFFIX=.tmp";
}

class Faults : public e2e::SharedInputs<Faults> {
 public:
  // One input of 200000 samples for every case: its MAT-file (1.6 MB) and
  // log (1.4 MB) pass QSafeFile's 1 MiB buffer, so writes fail while the
  // data go out as well as at the final flush.
  static std::string Log() {
    std::string log = "value\n";
    for (int i = 0; i < 200000; ++i) log += std::to_string(i) + ".25\n";
    return log;
  }
};

bool NamespaceUsable() {
  e2e::TempDir dir;
  return e2e::Run(dir.path(), "/bin/sh",
                  {"-c", "mkdir m && mount -t tmpfs -o size=64k tmpfs m"}, Namespace())
             .status == 0;
}

TEST_F(Faults, FailedOutputKeepsTheOldTargetAndSaysWhy) {
  struct Case {
    const char* what;
    std::string setup;    // shell run in the directory before the program; X: the extension
    std::string target;   // output argument; X stands for the extension
    std::string runner;   // prefix of the program itself
    const char* reason;   // the failure as strerror words it; "": the target can't be opened
    bool mounts;
    const char* linuxOnly = nullptr;  // why the case can't run on Windows
  };
  const std::string old = std::string("printf '") + kOld + "' > ";
  std::vector<Case> cases = {
      {"/dev/full behind a link", "ln -s /dev/full out.X", "out.X", "",
       "No space left on device", false, "a symbolic link to /dev/full"},
      {"small tmpfs fills up",
       "mkdir small && mount -t tmpfs -o size=256k tmpfs small && " + old + "small/out.X",
       "small/out.X", "", "No space left on device", true, "a tmpfs mount"},
      {"every write fails", old + "out.X", "out.X", Shim("write"), "Input/output error", false,
       "the LD_PRELOAD fault shim"},
      {"close fails", old + "out.X", "out.X", Shim("close"), "Input/output error", false,
       "the LD_PRELOAD fault shim"},
      {"rename refused: target is a mount point", old + "out.X && mount --bind out.X out.X",
       "out.X", "", "Device or resource busy", true, "a bind mount"},
      {"missing directory", "", "nodir/out.X", "", "", false},
      {"read-only directory",
       "mkdir ro && " + old + "ro/out.X && chmod 0666 ro/out.X && chmod 0555 ro", "ro/out.X",
       AsPlainUser(), "", false, "wine takes no notice of a directory's mode bits"},
      {"target is a directory", "mkdir out.X && touch out.X/keep", "out.X", "", "", false},
  };
  // As root on Linux a read-only target is replaced; Windows refuses to
  // replace a read-only file, whoever asks.
  if (e2e::OnWindows())
    cases.push_back({"read-only target", old + "out.X && chmod 0444 out.X", "out.X", "", "", false});
  bool namespaces = !e2e::OnWindows() && NamespaceUsable();
  int skipped = 0;
  for (bool pack : {true, false}) {
    for (Case c : cases) {
      std::string ext = pack ? "mat" : "log";
      for (std::string* s : {&c.setup, &c.target})
        for (size_t at; (at = s->find(".X")) != std::string::npos;) s->replace(at + 1, 1, ext);
      SCOPED_TRACE(std::string(pack ? "tracepack: " : "traceunpack: ") + c.what);
      if ((c.mounts && !namespaces) || (e2e::OnWindows() && c.linuxOnly)) {
        ++skipped;
        continue;
      }
      e2e::TempDir dir, scratch;
      std::string input = pack ? "in.log" : "in.mat";
      std::filesystem::copy_file(*inputs_ / input, dir / input);
      e2e::WriteFile(dir / "QLOG.txt", "");
      ::chmod((dir / "QLOG.txt").c_str(), 0666);
      ::chmod(dir.path().c_str(), 0777);  // a plain user keeps QLOG.txt here
      e2e::WriteFile(scratch / "wrap.sh", kWrapper);
      if (!c.setup.empty()) e2e::WriteFile(scratch / "setup", c.setup + "\n");
      std::string prefix = (c.mounts ? Namespace() + " " : "") + "/bin/sh " +
                           e2e::Quote(scratch / "wrap.sh") + " " + e2e::Quote(scratch.path()) +
                           " " + e2e::Quote(dir.path()) + " " + e2e::Quote(c.target) + " " +
                           c.runner;

      e2e::Result r = e2e::Run(dir.path(), pack ? TRACEPACK_BIN : TRACEUNPACK_BIN,
                               {input, c.target}, prefix);
      ASSERT_NE(r.status, 97) << "setup failed: " << r.err;
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(e2e::ReadFile(scratch / "new"), e2e::ReadFile(scratch / "old"));
      std::string before = e2e::ReadFile(scratch / "before");
      EXPECT_FALSE(before.empty());
      EXPECT_EQ(e2e::ReadFile(scratch / "after"), before);
      if (c.setup.find(old) != std::string::npos) {
        EXPECT_EQ(e2e::ReadFile(scratch / "old"), kOld);
      }

      // A target that can't be opened gets the programs' fixed warning;
      // every later failure names its reason.
      std::string warning = std::string("LogFile:Export") + (pack ? "Mat" : "Log") + "(); ";
      std::string opening = pack ? warning + "can't open Matlab file"
                                 : warning + "can't open " + c.target + " for writing.";
      std::string reason = *c.reason ? c.reason : opening;
      std::istringstream err(r.err);
      bool said = false;
      for (std::string line; std::getline(err, line);)
        said |= *c.reason ? line.rfind(warning, 0) == 0 && line.find(reason) != std::string::npos
                          : line == opening;
      EXPECT_TRUE(said) << r.err;
      bool logged = false;
      for (const std::string& e : e2e::QlogEntries(dir.path()))
        logged |= e.rfind("(WARN ): ", 0) == 0 && e.find(warning) != std::string::npos &&
                  e.find(reason) != std::string::npos;
      EXPECT_TRUE(logged);
    }
  }
  if (skipped && e2e::OnWindows())
    GTEST_SKIP() << skipped << " cases need Linux means (symbolic link, mounts, LD_PRELOAD, directory modes)";
  if (skipped) GTEST_SKIP() << skipped << " cases need a private mount namespace";
}

// Inputs are only ever read: a plain user converts a log and a MAT-file that
// are read-only and belong to someone else.
TEST_F(Faults, ReadOnlyInputsConvert) {
  e2e::TempDir dir;
  for (const char* input : {"in.log", "in.mat"}) {
    std::filesystem::copy_file(*inputs_ / input, dir / input);
    ::chmod((dir / input).c_str(), 0444);
  }
  ::chmod(dir.path().c_str(), 0777);
  // Windows refuses writes to read-only files even for an administrator:
  // there the plain user (a Linux means) is not needed.
  const std::string user = e2e::OnWindows() ? "" : AsPlainUser();
  e2e::Result pack = e2e::Run(dir.path(), TRACEPACK_BIN, {"in.log", "out.mat"}, user);
  e2e::Result unpack = e2e::Run(dir.path(), TRACEUNPACK_BIN, {"in.mat", "out.log"}, user);
  EXPECT_EQ(pack.status, 0);
  EXPECT_EQ(unpack.status, 0);
  EXPECT_EQ(pack.err.find("can't"), std::string::npos) << pack.err;
  EXPECT_EQ(unpack.err.find("can't"), std::string::npos) << unpack.err;
  // The same MAT-file as the root-made one, but for the time in its header.
  std::string mat = e2e::ReadFile(dir / "out.mat");
  ASSERT_GT(mat.size(), 116u);
  EXPECT_EQ(mat.substr(116), e2e::ReadFile(*inputs_ / "in.mat").substr(116));
  std::string log = e2e::ReadFile(dir / "out.log");
  EXPECT_NE(log.find("\nvalue\n0.25\n1.25\n"), std::string::npos);
  EXPECT_NE(log.find("\n199999\n"), std::string::npos);  // %g: six digits
}

}  // namespace
