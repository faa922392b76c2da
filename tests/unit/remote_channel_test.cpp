// The options file's pairing rules, and the remote log channel in this
// process against a UDP listener on 127.0.0.1: lazy opening, the wire
// format, the send guard, and the network layer left alone without a host.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "msg/qlog.h"
#include "remote/qoptions.h"
#include "remote/qremotelog.h"
#include "net/qnstartup.h"
#include "platform/snmpagent.h"
#include "platform/winsock.h"
#include "udp_listener.h"
#include "unit_util.h"

namespace {

using testnet::Listener;

// Row 2 of the interface table the agent serves: fed by the tests on Linux,
// fixed by the stand-in agent beside the Windows tests.
#if defined(_WIN32)
const std::string kMacLine = "MAC Address of interface #2: 021122334455\n";
#else
const std::string kMacLine = "MAC Address of interface #2: 02000000002a\n";
#endif

struct Options {
  std::string content;
  std::string host;
  int port;
};

}  // namespace

TEST(RemoteOptions, PairingRules) {
  unit::ScopedTempCwd cwd;
  const std::string longHost(300, 'a');
  const Options cases[] = {
      {"remotehost 10.0.0.5 port 600", "10.0.0.5", 600},
      {"port 600\nremotehost 10.0.0.5\n", "10.0.0.5", 600},
      {"remotehost\th\r\nport\t0x258\r\n", "h", 600},
      {"Port 600 remotehost h", "h", 0},          // keys are case-sensitive
      {"remotehost: h port 1", "", 1},            // and whole tokens
      {"# log host\nremotehost h port 5", "", 0},  // no comments: the pairs shift
      {"remotehost a port 1 remotehost b", "b", 1},
      {"port 599+1", "", 600},
      {"port 65636", "", 65636},  // the socket layer keeps the low 16 bits: 100
      {"remotehost h port", "h", 0},  // a key without a value is ignored
      {"foo bar remotehost h", "h", 0},
      {"", "", 0},
      // Over-long tokens are cut at 255 characters; the rest of the token is
      // skipped, so the pairs after it keep their places.
      {"remotehost " + longHost + " port 7", longHost.substr(0, 255), 7},
      {std::string(400, 'k') + " v remotehost h", "h", 0},
  };
  for (const Options& c : cases) {
    unit::Spit(cwd / "opt.txt", c.content);
    QStr host(32);
    int port = 0;
    EXPECT_TRUE(QOptionsRead((cwd / "opt.txt").c_str(), &host, &port));
    EXPECT_EQ(host.CStr(), c.host) << c.content.substr(0, 60);
    EXPECT_EQ(port, c.port) << c.content.substr(0, 60);
  }
  QStr host(32);
  host.Assign("kept");
  int port = 9;
  EXPECT_FALSE(QOptionsRead((cwd / "absent.txt").c_str(), &host, &port));
  EXPECT_STREQ(host.CStr(), "kept");
  EXPECT_EQ(port, 9);
}

TEST(RemoteOptions, FixedPathOutsideTheWorkingDirectory) {
  QOptionsSetPathForTest(nullptr);
#if defined(_WIN32)
  EXPECT_STREQ(QOptionsPath(), "C:/trellisopt.txt");
#else
  EXPECT_STREQ(QOptionsPath(), "/etc/trellisopt.txt");
#endif
  QOptionsSetPathForTest("/tmp/x");
  EXPECT_STREQ(QOptionsPath(), "/tmp/x");
  QOptionsSetPathForTest("/nonexistent/trellisopt.txt");
}

namespace {

bool FailingResolver(const char*, uint32_t*, std::string*) { return false; }

class Remote : public testing::Test {
 protected:
  void SetUp() override {
    QOptionsSetPathForTest("/nonexistent/trellisopt.txt");
    QRemoteLogResetForTest();
    QPrintf("%s", "");  // the process's start marker, out of the way
    Reset();
#if !defined(_WIN32)
    win::SetInterfaceTable({{1, 24, {}}, {2, 6, {0x02, 0, 0, 0, 0, 0x2a}}});
#endif
    QOptionsSetPathForTest((cwd_ / "trellisopt.txt").c_str());
  }
  void TearDown() override {
    Reset();
    QOptionsSetPathForTest("/nonexistent/trellisopt.txt");
  }
  static void Reset() {
    QRemoteLogResetForTest();
    QNStartupResetForTest();
#if !defined(_WIN32)
    win::ClearInterfaceTable();
#endif
    win::SetResolverHook(nullptr);
  }
  void WriteOptions(const std::string& s) { unit::Spit(cwd_ / "trellisopt.txt", s); }
  // Offers texts to the channel and returns what the console showed.
  std::string Offer(const std::vector<std::string>& texts) {
    testing::internal::CaptureStderr();
    for (const auto& t : texts) QRemoteLogSend(t.c_str());
    return testing::internal::GetCapturedStderr();
  }

  unit::ScopedTempCwd cwd_;
  Listener sink_;
};

}  // namespace

TEST_F(Remote, WithoutHostTheNetworkNeverStarts) {
  const std::string cases[] = {
      "",                                                    // no options file at all
      "port " + std::to_string(sink_.port()),                // no remotehost key
      "remotehost: 127.0.0.1 port " + std::to_string(sink_.port()),
  };
  for (const std::string& options : cases) {
    Reset();
#if defined(_WIN32)
    std::remove((cwd_ / "trellisopt.txt").c_str());
#else
    win::SetInterfaceTable({{2, 6, {0x02, 0, 0, 0, 0, 0x2a}}});
    ::unlink((cwd_ / "trellisopt.txt").c_str());
#endif
    if (!options.empty()) WriteOptions(options);
    int reads = win::TableReads();
    EXPECT_EQ(Offer({"INFO: one\n", "two\n"}), "");
    // No start-up means no adapter walk and no socket (the first socket
    // would have started the layer).
    EXPECT_FALSE(QNStarted) << options;
    EXPECT_EQ(win::TableReads(), reads);
    // The file is not looked for again in this process.
    WriteOptions("remotehost 127.0.0.1 port " + std::to_string(sink_.port()));
    EXPECT_EQ(Offer({"three\n"}), "");
    EXPECT_FALSE(QNStarted);
    EXPECT_TRUE(sink_.Drain(50).empty());
  }
}

TEST_F(Remote, EveryTextOneDatagram) {
  // 65536 more than the listener's port: only the low 16 bits count.
  WriteOptions("port " + std::to_string(sink_.port()) + "+65536 remotehost 127.0.0.1\n");
  std::string console = Offer({"INFO: --- application start ---\n", "plain text", "", "WARN: w\n"});
  EXPECT_EQ(console, kMacLine);
  EXPECT_TRUE(QNStarted);
  EXPECT_EQ(sink_.Drain(), (std::vector<std::string>{"INFO: --- application start ---\n",
                                                     "plain text", "", "WARN: w\n"}));
  // Reports raised while the channel opened stayed off the wire but reached QLOG.
  EXPECT_NE(unit::Slurp(cwd_ / "QLOG.txt").find(kMacLine.substr(0, kMacLine.size() - 1)),
            std::string::npos);
}

TEST_F(Remote, MessagesGoThroughTheLoggerToTheWire) {
  WriteOptions("remotehost 127.0.0.1 port " + std::to_string(sink_.port()));
  testing::internal::CaptureStderr();
  QInfo("info %d", 1);
  QWarning("warn");
  QError("error\n");
  QPrintf("progress\n");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(sink_.Drain(), (std::vector<std::string>{"INFO: info 1\n", "WARN: warn\n",
                                                     "ERR: error\n", "progress\n"}));
}

TEST_F(Remote, FailingSendsAreReportedNotSent) {
  // No port: every datagram goes to port 0, which the stack refuses.
  WriteOptions("remotehost 127.0.0.1");
  std::string console = Offer({"a\n", "b\n"});
#if defined(_WIN32)
  // Wine refuses port 0 with WSAEINVAL, Windows with WSAEADDRNOTAVAIL.
  const std::string failure = R"(\[QN\] QNSocket:Write\(\); failed \((10022|10049)\)\nAddr 127\.0\.0\.1\n)";
  EXPECT_TRUE(std::regex_match(console, std::regex(kMacLine + failure + failure))) << console;
#else
  const std::string failure =
      "[QN] QNSocket:Write(); failed (" + std::to_string(EINVAL) + ")\nAddr 127.0.0.1\n";
  EXPECT_EQ(console, kMacLine + failure + failure);
#endif
  std::string qlog = unit::Slurp(cwd_ / "QLOG.txt");
  EXPECT_NE(qlog.find("QNSocket:Write(); failed"), std::string::npos);
  EXPECT_NE(qlog.find("Addr 127.0.0.1"), std::string::npos);
}

TEST_F(Remote, UnresolvableHostSendsNothing) {
  win::SetResolverHook(&FailingResolver);
  WriteOptions("remotehost nohost.invalid port " + std::to_string(sink_.port()));
  std::string console = Offer({"INFO: --- application start ---\n", "x\n"});
#if defined(_WIN32)
  const int notFound = WSAHOST_NOT_FOUND, notAvailable = WSAEADDRNOTAVAIL;
#else
  const int notFound = EAI_NONAME, notAvailable = EADDRNOTAVAIL;
#endif
  const std::string resolve = "[QN] QNAddress:GetByName(nohost.invalid) failed (" +
                              std::to_string(notFound) + ")\n";
  // While the socket opens the destination is still unset, afterwards it is
  // 0.0.0.0 at the port: either way the wildcard, refused as Winsock refuses it.
  const std::string wildcard = "[QN] QNSocket:Write(); failed (" +
                               std::to_string(notAvailable) + ")\nAddr 0.0.0.0\n";
  EXPECT_EQ(console, kMacLine + resolve + wildcard + resolve +
                         wildcard + wildcard + wildcard);
  EXPECT_TRUE(sink_.Drain().empty());
}
