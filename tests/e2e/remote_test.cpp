// The remote log channel of the real programs, with a UDP listener on
// 127.0.0.1 as the log host.
//
// The programs read their options from the fixed /etc/trellisopt.txt and
// have no other way in, so each run happens in a private mount namespace
// with an overlay over /etc: the test's options file (or none) appears at
// the fixed path for that one process, host look-ups are confined to
// /etc/hosts, and the machine's own /etc is never written. Without the
// rights for a mount namespace the tests skip.
//
// The Windows programs (see e2e_util.h) read C:/trellisopt.txt of their wine
// prefix instead: the test writes it there, holding the prefix's lock while
// it does, and no namespace is needed.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "udp_listener.h"

namespace {

using testnet::Listener;

const char* const kNamespaceScript = R"(#!/bin/sh
# $1: scratch directory (options file "opt" if any); the rest: the command.
s=$1; shift
mkdir -p "$s/m" && mount -t tmpfs tmpfs "$s/m" || exit 97
mkdir "$s/m/u" "$s/m/w" || exit 97
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$s/m/u,workdir=$s/m/w" /etc || exit 97
rm -f /etc/trellisopt.txt
if [ -f "$s/opt" ]; then cp "$s/opt" /etc/trellisopt.txt || exit 97; fi
# No name server is asked: only /etc/hosts answers.
sed -i 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf || exit 97
exec "$@"
)";

// Runs program in dir with options at /etc/trellisopt.txt (none when
// nullopt) in a mount namespace of its own.
class IsolatedRun {
 public:
  IsolatedRun() {
    e2e::WriteFile(scratch_ / "ns.sh", kNamespaceScript);
    std::string unshare = ::geteuid() == 0 ? "unshare --mount --propagation private"
                                           : "unshare --map-root-user --mount --propagation private";
    prefix_ = unshare + " /bin/sh " + e2e::Quote(scratch_ / "ns.sh") + " " +
              e2e::Quote(scratch_.path());
    if (e2e::OnWindows()) windowsOptions_ = std::make_unique<e2e::WindowsOptionsLock>();
  }
  bool Usable() {
    if (e2e::OnWindows()) return true;
    ::unlink((scratch_ / "opt").c_str());
    return e2e::Run(scratch_.path(), "/bin/true", {}, prefix_).status == 0;
  }
  e2e::Result Run(const std::string& dir, const std::string& program,
                  const std::vector<std::string>& args, const std::optional<std::string>& options) {
    if (e2e::OnWindows()) {
      ::unlink(e2e::WindowsOptionsFile().c_str());
      if (options) e2e::WriteFile(e2e::WindowsOptionsFile(), *options);
      return e2e::Run(dir, program, args);
    }
    ::unlink((scratch_ / "opt").c_str());
    if (options) e2e::WriteFile(scratch_ / "opt", *options);
    return e2e::Run(dir, program, args, prefix_);
  }

 private:
  e2e::TempDir scratch_;
  std::string prefix_;
  std::unique_ptr<e2e::WindowsOptionsLock> windowsOptions_;
};

#define REQUIRE_NAMESPACE(run)                                                        \
  if (!(run).Usable()) GTEST_SKIP() << "no private mount namespace with an overlay on /etc"

// QLOG entries with the process id taken out, so that two runs compare.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> out;
  for (std::string e : e2e::QlogEntries(dir)) {
    size_t from = e.find("[vovizi/");
    size_t to = from == std::string::npos ? from : e.find("] ", from);
    if (to != std::string::npos) e.replace(from, to - from, "[vovizi");
    out.push_back(e);
  }
  return out;
}

std::string Slurp(const std::string& path) {
  std::string s = e2e::ReadFile(path);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// What the adapter walk must report on this machine, worked out from the
// kernel's interface table independently of the library: rows in index
// order, Ethernet rows (ARPHRD 1) with a real address, ten kept.
std::vector<std::string> ExpectedMacLines() {
  // On Windows the stand-in agent beside the exes serves the table: its row
  // 2 is the one Ethernet adapter.
  if (e2e::OnWindows()) return {"INFO:MAC Address of interface #2: 021122334455\n"};
  struct Row {
    long index;
    long type;
    std::string address;
  };
  std::vector<Row> rows;
  if (DIR* d = ::opendir("/sys/class/net")) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string base = std::string("/sys/class/net/") + e->d_name + "/";
      std::string index = Slurp(base + "ifindex"), type = Slurp(base + "type");
      if (index.empty() || type.empty()) continue;
      rows.push_back({std::stol(index), std::stol(type), Slurp(base + "address")});
    }
    ::closedir(d);
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.index < b.index; });
  std::vector<std::string> lines;
  int number = 0, stored = 0;
  for (const Row& r : rows) {
    ++number;
    std::string hex;
    for (char c : r.address)
      if (c != ':') hex += c;
    if (r.type != 1 || hex.size() != 12 || hex == "000000000000" || hex.rfind("4445535400", 0) == 0)
      continue;
    if (stored++ >= 10) lines.push_back("WARN:Too many network adapters found (max=10)\n");
    lines.push_back("INFO:MAC Address of interface #" + std::to_string(number) + ": " + hex + "\n");
  }
  return lines;
}

std::string MacConsole() {
  std::string s;
  for (const std::string& l : ExpectedMacLines()) s += l.substr(5);
  return s;
}

std::vector<std::string> MacEntries() {
  std::vector<std::string> out;
  for (const std::string& l : ExpectedMacLines()) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "(%-5s): [vovizi] ", l.substr(0, 4).c_str());
    out.push_back(tag + l.substr(5, l.size() - 6));
  }
  return out;
}

const std::string kMarker = "--- application start ---\n";

// The console of a run with the channel, given that of the same run without
// it: the adapter walk reports while the start marker is being sent, which
// is right after the marker's console line, or, when the first message is a
// warning (whose marker stays off the console), right after that warning.
std::string WithMacs(const std::string& plainErr, const std::vector<std::string>& plainLog) {
  const std::string macs = MacConsole();
  if (plainErr.rfind(kMarker, 0) == 0) return kMarker + macs + plainErr.substr(kMarker.size());
  const std::string warn = "(WARN ): [vovizi] ";
  if (plainLog.size() > 1 && plainLog[1].rfind(warn, 0) == 0) {
    std::string first = plainLog[1].substr(warn.size()) + "\n";
    if (plainErr.rfind(first, 0) == 0) return first + macs + plainErr.substr(first.size());
  }
  return macs + plainErr;
}

// Checks the datagrams of a run against the console and QLOG of the same run
// without the channel: the start marker first, then every message once and
// in order, logged ones as "LEVEL: text", plain progress text as it stands,
// and nothing else.
void ExpectDatagramsMatch(const std::vector<std::string>& datagrams, const std::string& console,
                          const std::vector<std::string>& qlog) {
  ASSERT_FALSE(datagrams.empty());
  EXPECT_EQ(datagrams[0], "INFO: " + kMarker);
  ASSERT_FALSE(qlog.empty());
  EXPECT_EQ(qlog[0], "(INFO ): [vovizi] " + kMarker.substr(0, kMarker.size() - 1));
  std::string rest = console;
  if (rest.rfind(kMarker, 0) == 0) rest = rest.substr(kMarker.size());
  // The logged messages after the marker, as "LEVEL: text\n".
  std::vector<std::string> logged;
  for (size_t i = 1; i < qlog.size(); ++i) {
    const std::string& e = qlog[i];
    size_t level = e.find_first_of(" )");
    size_t text = e.find("] ");
    ASSERT_TRUE(e[0] == '(' && level != std::string::npos && text != std::string::npos) << e;
    logged.push_back(e.substr(1, level - 1) + ": " + e.substr(text + 2) + "\n");
  }
  size_t next = 0;
  for (size_t i = 1; i < datagrams.size(); ++i) {
    const std::string& d = datagrams[i];
    std::string shown = d;
    if (next < logged.size() && d == logged[next]) {
      ++next;
      if (d.rfind("ERR: ", 0) == 0) continue;  // QError never reaches the console
      shown = d.substr(d.find(": ") + 2);
    }
    ASSERT_EQ(rest.substr(0, shown.size()), shown) << "datagram " << i << ": " << d;
    rest = rest.substr(shown.size());
  }
  EXPECT_EQ(next, logged.size()) << "logged messages that were never sent";
  EXPECT_EQ(rest, "") << "console text that was never sent";
}

// One program run without and one with the channel, in two fresh
// directories prepared alike; the listener must get every message.
void CompareRuns(IsolatedRun& run, const std::string& program,
                 const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& files,
                 const std::string& optionsBeforePort, const std::string& optionsAfterPort) {
  e2e::TempDir plain, remote;
  for (const e2e::TempDir* d : {&plain, &remote})
    for (const auto& f : files) e2e::WriteFile(*d / f.first, f.second);
  Listener sink;
  e2e::Result without = run.Run(plain.path(), program, args, std::nullopt);
  e2e::Result with =
      run.Run(remote.path(), program, args, optionsBeforePort + std::to_string(sink.port()) + optionsAfterPort);
  std::vector<std::string> datagrams = sink.Drain();
  EXPECT_EQ(with.status, 0);
  EXPECT_EQ(with.out, without.out);
  // The console and QLOG carry what they carry without the channel, plus
  // the adapter walk's reports; in QLOG these come before the marker's line,
  // which is written after the marker has been sent.
  std::vector<std::string> plainLog = Entries(plain.path());
  EXPECT_EQ(with.err, WithMacs(without.err, plainLog));
  std::vector<std::string> expectedLog = MacEntries();
  expectedLog.insert(expectedLog.end(), plainLog.begin(), plainLog.end());
  EXPECT_EQ(Entries(remote.path()), expectedLog);
  ExpectDatagramsMatch(datagrams, without.err, plainLog);
}

struct Scenario {
  const char* name;
  std::string log;  // empty: the log file does not exist
};

const Scenario kScenarios[] = {
    {"normal run", "time speed gear\n0 10.5 1\n0.1 11 1\n0.2 11.5 2\n"},
    {"missing input", ""},
    {"names MATLAB cannot load", "time 1abc time\n0 1 2\n"},
};

}  // namespace

TEST(RemoteE2E, TracepackDeliversEveryMessage) {
  IsolatedRun run;
  REQUIRE_NAMESPACE(run);
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    std::vector<std::pair<std::string, std::string>> files;
    if (!s.log.empty()) files.push_back({"run.log", s.log});
    CompareRuns(run, TRACEPACK_BIN, {"run.log", "run.mat"}, files, "remotehost 127.0.0.1\nport ",
                "\n");
  }
}

#ifdef TRACEUNPACK_BIN
TEST(RemoteE2E, TraceunpackDeliversEveryMessage) {
  IsolatedRun run;
  REQUIRE_NAMESPACE(run);
  // A MAT-file to read, made by tracepack without the channel.
  e2e::TempDir source;
  e2e::WriteFile(source / "run.log", kScenarios[0].log);
  ASSERT_EQ(run.Run(source.path(), TRACEPACK_BIN, {"run.log", "run.mat"}, std::nullopt).status, 0);
  std::string mat = e2e::ReadFile(source / "run.mat");
  ASSERT_FALSE(mat.empty());
  {
    SCOPED_TRACE("normal run");
    CompareRuns(run, TRACEUNPACK_BIN, {"run.mat", "back.log"}, {{"run.mat", mat}}, "port ",
                " remotehost 127.0.0.1");
  }
  {
    SCOPED_TRACE("missing input");
    CompareRuns(run, TRACEUNPACK_BIN, {"none.mat", "back.log"}, {}, "port ",
                " remotehost 127.0.0.1");
  }
}
#endif

TEST(RemoteE2E, WithoutHostNothingStartsOrIsSent) {
  IsolatedRun run;
  REQUIRE_NAMESPACE(run);
  Listener sink;
  const std::optional<std::string> options[] = {
      std::nullopt,
      "port " + std::to_string(sink.port()) + "\n",
      "Remotehost 127.0.0.1 port " + std::to_string(sink.port()) + "\n",
      "remotehost:127.0.0.1 port " + std::to_string(sink.port()) + "\n",
  };
  e2e::TempDir baseDir;
  e2e::WriteFile(baseDir / "run.log", kScenarios[0].log);
  e2e::Result base = run.Run(baseDir.path(), TRACEPACK_BIN, {"run.log", "run.mat"}, std::nullopt);
  for (const auto& o : options) {
    e2e::TempDir dir;
    e2e::WriteFile(dir / "run.log", kScenarios[0].log);
    e2e::Result r = run.Run(dir.path(), TRACEPACK_BIN, {"run.log", "run.mat"}, o);
    SCOPED_TRACE(o ? *o : "no options file");
    // No adapter walk (no MAC lines), no warning of any kind, no datagram.
    EXPECT_EQ(r.err, base.err);
    EXPECT_EQ(Entries(dir.path()), Entries(baseDir.path()));
    EXPECT_TRUE(sink.Drain().empty());
  }
}

TEST(RemoteE2E, FailingSendsAreReportedNeverSent) {
  IsolatedRun run;
  REQUIRE_NAMESPACE(run);
  Listener sink;
  struct Row {
    std::string options;
    std::string afterOpen;  // reports raised while the channel opens
    std::string failure;    // the report that follows every message offered
  };
  // Winsock's codes on Windows: WSAEADDRNOTAVAIL, and WSAEINVAL for port 0,
  // which wine passes on from Linux.
  const bool windows = e2e::OnWindows();
  const std::string wildcard = std::string("[QN] QNSocket:Write(); failed (") +
                               (windows ? "10049" : "99") + ")\nAddr 0.0.0.0\n";
  const std::string resolve = "[QN] QNAddress:GetByName(nohost.invalid) failed (N)\n";
  const Row rows[] = {
      // Unresolvable: reported while the socket opens and again for the
      // destination; the wildcard destination that stays is refused.
      {"remotehost nohost.invalid port " + std::to_string(sink.port()), resolve + wildcard + resolve + wildcard,
       wildcard},
      // No port: port 0 is refused (EINVAL).
      {"remotehost 127.0.0.1", "",
       std::string("[QN] QNSocket:Write(); failed (") + (windows ? "10022" : "22") + ")\nAddr 127.0.0.1\n"},
  };
  e2e::TempDir baseDir;
  e2e::WriteFile(baseDir / "run.log", kScenarios[0].log);
  e2e::Result base = run.Run(baseDir.path(), TRACEPACK_BIN, {"run.log", "run.mat"}, std::nullopt);
  for (const Row& row : rows) {
    e2e::TempDir dir;
    e2e::WriteFile(dir / "run.log", kScenarios[0].log);
    e2e::Result r = run.Run(dir.path(), TRACEPACK_BIN, {"run.log", "run.mat"}, row.options);
    SCOPED_TRACE(row.options);
    EXPECT_TRUE(sink.Drain().empty());
    // Every message is followed by one failure report; the reports are not
    // offered again (no recursion), and the run ends normally.
    std::string expected = kMarker + MacConsole() + row.afterOpen + row.failure;
    std::string rest = base.err.substr(kMarker.size());
    for (size_t p = 0; p < rest.size();) {
      size_t eol = rest.find('\n', p);
      size_t end = eol == std::string::npos ? rest.size() : eol + 1;
      expected += rest.substr(p, end - p) + row.failure;
      p = end;
    }
    // Only the resolver's code varies between systems.
    std::string got = r.err;
    const std::string failed = "GetByName(nohost.invalid) failed (";
    for (size_t p = got.find(failed); p != std::string::npos; p = got.find(failed, p + 1)) {
      size_t code = p + failed.size();
      got.replace(code, got.find(')', code) - code, "N");
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(e2e::Exists(dir / "run.mat"));
    // QLOG has every report as well.
    std::string qlog = e2e::ReadFile(dir / "QLOG.txt");
    EXPECT_NE(qlog.find("QNSocket:Write(); failed"), std::string::npos);
  }
}
