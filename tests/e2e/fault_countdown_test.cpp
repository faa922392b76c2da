// Every single I/O call of a conversion made to fail, one run per call: the
// preloaded fault shim counts the calls on the conversion's own files (reads
// of the input, writes of the temporary output, closes, the rename, the
// synchronisations of file and directory) and fails the Nth with EIO. For
// every N, tracepack (log to MAT-file) and traceunpack (MAT-file to log)
// must end with status 0 and leave either the complete new output or the
// old target byte for byte, the latter with a warning on the console and in
// QLOG.txt; never a temporary file, never a sanitizer report.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
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

// Past its header (whose text carries the time of writing) for a MAT-file,
// past its first comment line (the same) for a log.
std::string Stable(const std::string& file, bool mat) {
  if (mat) return file.size() > 116 ? file.substr(116) : "";
  size_t eol = file.find('\n');
  return eol == std::string::npos ? "" : file.substr(eol + 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Outcome {
  std::string folder;               // the name of the run's directory
  e2e::Result result;
  std::string target;               // the target after the run
  std::set<std::string> listing;    // the run's directory after it
  std::vector<std::string> trace;   // the counted calls, "<n> <call> <file>[ EIO]"
  std::vector<std::string> qlog;
};

class FaultCountdown : public e2e::SharedInputs<FaultCountdown> {
 public:
  // A log of a few hundred samples and its MAT-file: small, so that a run
  // makes a few dozen calls at most.
  static std::string Log() {
    std::string log = "value\n";
    for (int i = 0; i < 300; ++i) log += std::to_string(i) + ".5\n";
    return log;
  }
  static const char* SkipReason() {
    return e2e::OnWindows() ? "the fault shim needs LD_PRELOAD, a Linux means" : nullptr;
  }

 protected:
  // Runs program on input in a fresh directory that holds an old target,
  // failing the nth counted call (0: none).
  static Outcome Convert(const char* program, const std::string& input, const std::string& target,
                     long nth) {
    e2e::TempDir dir, scratch;
    std::filesystem::copy_file(*inputs_ / input, dir / input);
    e2e::WriteFile(dir / target, kOld);
    std::string env = std::string("env LD_PRELOAD=") + FAULT_SHIM +
                      " ASAN_OPTIONS=verify_asan_link_order=0 QFAULT_NTH=" + std::to_string(nth) +
                      " QFAULT_TRACE=" + e2e::Quote(scratch / "trace");
    Outcome run;
    run.folder = std::filesystem::path(dir.path()).filename().string();
    run.result = e2e::Run(dir.path(), program, {input, target}, env);
    run.target = e2e::ReadFile(dir / target);
    run.listing = e2e::Listing(dir.path());
    run.trace = Lines(e2e::ReadFile(scratch / "trace"));
    run.qlog = e2e::QlogEntries(dir.path());
    EXPECT_EQ(e2e::ReadFile(dir / input), e2e::ReadFile(*inputs_ / input)) << "input changed";
    return run;
  }

};

bool Sanitized(const std::string& err) {
  for (const char* report : {"ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer"})
    if (err.find(report) != std::string::npos) return true;
  return false;
}

TEST_F(FaultCountdown, EveryFailedCallLeavesTheNewOutputOrTheOldOneWithAWarning) {
  struct Case {
    const char* program;
    const char* input;
    const char* target;
    const char* warning;  // how the export's warnings begin
  };
  const Case cases[] = {
      {TRACEPACK_BIN, "in.log", "out.mat", "LogFile:ExportMat(); "},
      {TRACEUNPACK_BIN, "in.mat", "out.log", "LogFile:ExportLog(); "},
  };
  for (const Case& c : cases) {
    const bool mat = std::string(c.target).ends_with(".mat");
    SCOPED_TRACE(c.program);
    const std::set<std::string> files = {c.input, c.target, "QLOG.txt"};

    // The run without a fault gives the reference output and the calls to fail.
    Outcome clean = Convert(c.program, c.input, c.target, 0);
    ASSERT_EQ(clean.result.status, 0) << clean.result.err;
    ASSERT_FALSE(Sanitized(clean.result.err)) << clean.result.err;
    const std::string reference = Stable(clean.target, mat);
    ASSERT_FALSE(reference.empty());
    ASSERT_EQ(clean.listing, files);
    // Each kind of call is seen, or the countdown would silently miss it.
    std::string calls;
    for (const std::string& line : clean.trace) calls += line.substr(line.find(' ')) + "\n";
    const std::string input = c.input, target = c.target;
    for (const std::string& kind :
         {" pread " + input, " close " + input, (mat ? " pwrite " : " write ") + target + ".",
          " fsync " + target + ".", " rename " + target, " fsync " + clean.folder})
      EXPECT_NE(calls.find(kind), std::string::npos) << kind << " not counted in\n" << calls;
    const long count = static_cast<long>(clean.trace.size());
    ASSERT_LT(count, 100) << calls;

    int fresh = 0, kept = 0;
    for (long n = 1; n <= count; ++n) {
      Outcome run = Convert(c.program, c.input, c.target, n);
      const std::string failed = clean.trace[n - 1];
      SCOPED_TRACE("failing call " + failed);
      const e2e::Result& r = run.result;
      ASSERT_GE(run.trace.size(), static_cast<size_t>(n)) << r.err;
      EXPECT_TRUE(run.trace[n - 1].ends_with(" EIO")) << run.trace[n - 1];
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_FALSE(Sanitized(r.err)) << r.err;
      EXPECT_EQ(run.listing, files);
      if (run.target == kOld) {
        ++kept;
        // The user learns that the target was not written, on the console
        // and in QLOG.txt.
        bool said = false, logged = false;
        for (const std::string& line : Lines(r.err)) {
          if (line.rfind(c.warning, 0) != 0 || line.find(c.target) == std::string::npos) continue;
          said = true;
          for (const std::string& e : run.qlog)
            logged |= e.rfind("(WARN ): ", 0) == 0 && e.ends_with(line);
        }
        EXPECT_TRUE(said) << r.err;
        EXPECT_TRUE(logged) << r.err;
      } else {
        ++fresh;
        EXPECT_TRUE(Stable(run.target, mat) == reference) << "a torn or wrong output:\n" << r.err;
      }
    }
    // A failed rename keeps the old target, a failed directory sync the new
    // one: a run that shows only one of them has not failed what it counted.
    EXPECT_GT(kept, 0);
    EXPECT_GT(fresh, 0);
    std::printf("%s: %ld calls counted; %d runs ended with the new output, %d with the old\n",
                c.program, count, fresh, kept);
  }
}

}  // namespace
