// The networking layer on loopback: addresses and their look-ups, datagram
// and stream sockets, the one-time start-up with its version checks, and the
// adapter walk over an interface table the test feeds to the agent.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "msg/qlog.h"
#include "remote/qoptions.h"
#include "remote/qremotelog.h"
#include "net/qnadapterlist.h"
#include "net/qnaddress.h"
#include "net/qnsocket.h"
#include "net/qnstartup.h"
#include "platform/file_io.h"
#include "platform/snmpagent.h"
#include "platform/winsock.h"
#include "udp_listener.h"
#include "unit_util.h"

namespace {

using testnet::Listener;

#if defined(_WIN32)
constexpr int kAddrInUse = WSAEADDRINUSE;
constexpr int kAddrNotAvail = WSAEADDRNOTAVAIL;
using RawSocket = SOCKET;
void CloseRaw(SOCKET s) { ::closesocket(s); }
#else
constexpr int kAddrInUse = EADDRINUSE;
constexpr int kAddrNotAvail = EADDRNOTAVAIL;
using RawSocket = int;
void CloseRaw(int s) { ::close(s); }
#endif

int lookups = 0;
// "flaky" resolves on its second look-up only, "loghost" always, anything
// else never; keeps the tests away from the machine's name servers.
bool FakeResolver(const char* name, uint32_t* address, std::string* canonical) {
  ++lookups;
  std::string n = name;
  if (n == "loghost" || (n == "flaky" && lookups % 2 == 0)) {
    *address = htonl(INADDR_LOOPBACK);
    *canonical = n + ".example.test";
    return true;
  }
  return false;
}

uint16_t BoundPort(const QNSocket& s) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(s.Handle(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

// Fresh layer state for every test: no start-up yet, an empty interface
// table, the fake resolver, no remote channel, QLOG.txt in a scratch dir.
class Net : public testing::Test {
 protected:
  void SetUp() override {
    QOptionsSetPathForTest("/nonexistent/trellisopt.txt");
    QRemoteLogResetForTest();
    QPrintf("%s", "");  // the process's start marker, out of the way of captures
    Reset();
    EmptyAgent();
    win::SetResolverHook(&FakeResolver);
    lookups = 0;
#if defined(_WIN32)
    // The test's own sockets need Winsock even where the layer's start-up
    // is faked.
    win::WSADATA data;
    ASSERT_EQ(::WSAStartup(0x0202, &data), 0);
#endif
  }
  void TearDown() override {
    Reset();
#if defined(_WIN32)
    ::WSACleanup();
#endif
  }
  static void Reset() {
    QRemoteLogResetForTest();
    QNStartupResetForTest();
#if !defined(_WIN32)
    win::ClearInterfaceTable();
#endif
    win::SetAgentPresent(true);
    win::SetResolverHook(nullptr);
    win::SetStartupHook(nullptr);
  }
  // An adapter walk that finds nothing: an empty table where the test feeds
  // the agent, no agent on Windows, whose real agent cannot be fed.
  static void EmptyAgent() {
#if defined(_WIN32)
    win::SetAgentPresent(false);
#else
    win::SetInterfaceTable({});
#endif
  }
  std::string Qlog() { return unit::Slurp(cwd_ / "QLOG.txt"); }

  unit::ScopedTempCwd cwd_;
};

std::string ErrCode(int code) { return " (" + std::to_string(code) + ")\n"; }

}  // namespace

TEST_F(Net, AddressRecordLayout) {
  QNAddress a;
  EXPECT_STREQ(a.ToString(), "0.0.0.0");
  EXPECT_EQ(a.SockAddr().sin_family, 2);
  EXPECT_EQ(a.SockAddr().sin_port, 0);
  EXPECT_TRUE(a.Name().IsEmpty());

  a.Set(2, 0, 258);
  EXPECT_STREQ(a.ToString(), "0.0.0.0");
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&a.SockAddr());
  EXPECT_EQ(raw[2], 0x01);
  EXPECT_EQ(raw[3], 0x02);
  a.Set(2, 0xC0A80A05, 1);
  EXPECT_EQ(raw[4], 0xC0);
  EXPECT_EQ(raw[7], 0x05);
  EXPECT_STREQ(a.ToString(), "192.168.10.5");

  // One buffer for all addresses: the second result overwrites the first.
  QNAddress b;
  b.Set(2, 0x7F000001, 0);
  const char* first = a.ToString();
  const char* second = b.ToString();
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "127.0.0.1");
}

TEST_F(Net, GetByNameOutcomes) {
  QNAddress a;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(a.GetByName("127.0.0.1"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(lookups, 0);  // dotted decimal needs no look-up
  EXPECT_STREQ(a.ToString(), "127.0.0.1");

  testing::internal::CaptureStderr();
  EXPECT_TRUE(a.GetByName("loghost"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(lookups, 1);

  a.Set(2, 0x0A000005, 7);
  lookups = 0;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(a.GetByName("flaky"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "QNAddress::GetByName(flaky)='flaky.example.test'\n");
  EXPECT_STREQ(a.ToString(), "127.0.0.1");

  // A failure keeps the old address but takes the new text as the name.
  a.Set(2, 0x0A000005, 7);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(a.GetByName("nohost"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("[QN] QNAddress:GetByName(nohost) failed (", 0), 0u) << err;
  EXPECT_STREQ(a.ToString(), "10.0.0.5");
  EXPECT_STREQ(a.Name().CStr(), "nohost");
  EXPECT_NE(Qlog().find("(WARN ): [vovizi/"), std::string::npos);

  // 255.255.255.255 parses to the all-ones value and goes on to the look-ups.
  lookups = 0;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(a.GetByName("255.255.255.255"));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(lookups, 2);
}

TEST_F(Net, ReportErrorFramesAndCuts) {
  testing::internal::CaptureStderr();
#if defined(_WIN32)
  win::WSASetLastError(11);
#else
  errno = 11;
#endif
  QNReportError("QNSocket:Open(); unknown type %d", 5);
  QNReportError("%s", std::string(3000, 'z').c_str());
  std::string err = testing::internal::GetCapturedStderr();
  std::string first = "[QN] QNSocket:Open(); unknown type 5" + ErrCode(11);
  ASSERT_EQ(err.substr(0, first.size()), first);
  std::string second = err.substr(first.size());
  EXPECT_EQ(second.rfind("[QN] " + std::string(1023, 'z') + " (", 0), 0u);
  EXPECT_EQ(second.find("zzz", 5 + 1023), std::string::npos);
}

TEST_F(Net, DatagramOpenBindsOnlyWithoutHost) {
  uint16_t freePort;
  {
    QNSocket s;
    ASSERT_TRUE(s.Open(0, QNSocket::TypeDatagram, 0, nullptr));
    freePort = BoundPort(s);
    ASSERT_NE(freePort, 0);
  }
  struct Row {
    const char* host;
    uint32_t flags;
    bool bound;
  };
  const Row rows[] = {
      {"127.0.0.1", 0, false}, {"", 0, true}, {nullptr, 0, true},
      {nullptr, QNSocket::FlagNoBind, false}, {nullptr, QNSocket::FlagReuseAddr, true},
  };
  for (const Row& r : rows) {
    QNSocket s;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(s.Open(freePort, QNSocket::TypeDatagram, r.flags, r.host));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(s.Handle(), 0);
    EXPECT_EQ(BoundPort(s), r.bound ? freePort : 0) << (r.host ? r.host : "(null)");
    EXPECT_EQ(s.Flags(), r.flags);
    EXPECT_EQ(ntohs(s.RemoteAddress().SockAddr().sin_port), freePort);
  }
  // An unresolvable host is reported and the socket still opens.
  QNSocket s;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(s.Open(9, QNSocket::TypeDatagram, 0, "nohost"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("[QN] QNAddress:GetByName(nohost) failed (", 0), 0u) << err;
  EXPECT_STREQ(s.RemoteAddress().ToString(), "0.0.0.0");
}

TEST_F(Net, OpenFailuresAndOptionGuards) {
  QNSocket unopened;
  testing::internal::CaptureStderr();
  EXPECT_EQ(unopened.SetNonBlocking(true), -1);
  EXPECT_EQ(unopened.SetReuseAddr(true), -1);
  EXPECT_EQ(unopened.SetBroadcast(true), -1);
  EXPECT_EQ(unopened.Bind(QNLoopback), -1);
  EXPECT_EQ(unopened.Flags(), 0u);  // the early return leaves the flags alone
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  QNSocket odd;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(odd.Open(9, 2, 0, nullptr));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("[QN] QNSocket:Open(); unknown type 2 (", 0), 0u) << err;
  EXPECT_EQ(odd.Handle(), 0);  // no socket was created

  // Binding a port that another socket holds fails and fails the Open.
  Listener holder;
  QNSocket clash;
  testing::internal::CaptureStderr();
  QNAddress taken;
  taken.Set(2, INADDR_LOOPBACK, holder.port());
  EXPECT_TRUE(clash.Open(0, QNSocket::TypeDatagram, QNSocket::FlagNoBind, nullptr));
  EXPECT_LT(clash.Bind(taken), 0);
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "[QN] QNSocket:Bind(); can't bind to address 127.0.0.1" + ErrCode(kAddrInUse));
}

TEST_F(Net, DatagramWrites) {
  Listener sink;
  QNSocket s;
  ASSERT_TRUE(s.Open(sink.port(), QNSocket::TypeDatagram, 0, "127.0.0.1"));
  ASSERT_EQ(s.SetNonBlocking(true), 0);
  QNAddress to;
  to.Set(2, INADDR_LOOPBACK, sink.port());
  EXPECT_EQ(s.Write("abc", -1, &to), 0);
  EXPECT_EQ(s.Write("abc", 0, &to), 0);
  EXPECT_EQ(s.Write("hello\n", 6, &to), 6);
  EXPECT_EQ(sink.Drain(), (std::vector<std::string>{"", "hello\n"}));

  // The wildcard destination is refused, as the original socket library
  // refuses it; the failure and the destination are reported.
  QNAddress wildcard;
  wildcard.Set(2, INADDR_ANY, sink.port());
  testing::internal::CaptureStderr();
  EXPECT_LT(s.Write("x", 1, &wildcard), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[QN] QNSocket:Write(); failed" + ErrCode(kAddrNotAvail) + "Addr 0.0.0.0\n");
  EXPECT_TRUE(sink.Drain(50).empty());

  // Without a destination only the failure itself is reported.
  testing::internal::CaptureStderr();
  EXPECT_LT(s.Write("x", 1, nullptr), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("[QN] QNSocket:Write(); failed (", 0), 0u) << err;
  EXPECT_EQ(err.find("Addr"), std::string::npos);
}

TEST_F(Net, SocketNotOpenNeverSendsOnStandardInput) {
#if defined(_WIN32)
  // No descriptor 0 to make a socket of: the write must just fail as one
  // through something that is not a socket.
  QNSocket s;
  QNAddress to;
  to.Set(2, INADDR_LOOPBACK, 9);
  testing::internal::CaptureStderr();
  EXPECT_LT(s.Write("secret", 6, &to), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("QNSocket:Write(); failed" + ErrCode(WSAENOTSOCK)), std::string::npos) << err;
#else
  // Make descriptor 0 a socket, as under a socket-activated service: a
  // write through a socket that never opened must not reach it.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
  int savedStdin = ::dup(0);
  ASSERT_GE(::dup2(pair[0], 0), 0);
  QNSocket s;
  QNAddress to;
  to.Set(2, INADDR_LOOPBACK, 9);
  testing::internal::CaptureStderr();
  int32_t rc = s.Write("secret", 6, &to);
  std::string err = testing::internal::GetCapturedStderr();
  ::dup2(savedStdin, 0);
  ::close(savedStdin);
  EXPECT_LT(rc, 0);
  EXPECT_NE(err.find("QNSocket:Write(); failed" + ErrCode(ENOTSOCK)), std::string::npos) << err;
  char buf[16];
  EXPECT_LT(::recv(pair[1], buf, sizeof buf, MSG_DONTWAIT), 0);
  ::close(pair[0]);
  ::close(pair[1]);
#endif
}

TEST_F(Net, StreamOpen) {
  RawSocket server = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
  uint16_t port = ntohs(a.sin_port);

  QNSocket refused;  // bound but not listening: the connection is refused
  testing::internal::CaptureStderr();
  EXPECT_FALSE(refused.Open(port, QNSocket::TypeStream, 0, "loghost"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "QSocket::Open(); can't connect to 'loghost'\n");

  QNSocket unknown;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(unknown.Open(port, QNSocket::TypeStream, 0, "nohost"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "QClientSocket::Open(); host 'nohost' unknown\n");

  ASSERT_EQ(::listen(server, 1), 0);
  QNSocket client;
  ASSERT_TRUE(client.Open(port, QNSocket::TypeStream, 0, "loghost"));
  RawSocket peer = ::accept(server, nullptr, nullptr);
  EXPECT_EQ(client.Write("tcp", 3, nullptr), 3);
  char buf[8] = {};
  EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), 3);
  EXPECT_STREQ(buf, "tcp");
  CloseRaw(peer);
  CloseRaw(server);
}

namespace {

int grantMinor = 2;
int failFrom = 99;  // the call number from which start-ups fail
int startupCalls = 0;
int FakeStartup(win::WORD requested, win::WSADATA* data) {
  ++startupCalls;
  if (startupCalls >= failFrom) return 10091;  // WSASYSNOTREADY
  data->wVersion = requested == 0x0202 ? static_cast<win::WORD>(2 | (grantMinor << 8)) : requested;
  return 0;
}

}  // namespace

TEST_F(Net, StartupOutcomes) {
  // Call 1 is the adapter walk's own start-up; 2 asks for 2.2, 3 for 2.0, 4 for 1.1.
  struct Row {
    int minor;
    int failFrom;
    bool result;
    std::string console;
    int outstanding;  // start-ups not undone afterwards
  };
  const Row rows[] = {
      {2, 99, true, "", 2},
      {1, 99, false, "[Error] Winsock 2.0 or greater needed\n", 0},
      {2, 2, false, "[Error] WSAStartup error\n", 0},
      {2, 3, false, "Can't open Winsock2.0, trying 1.1\n", 1},
      {2, 1, false, "This program requires Winsock 2.x!\n[Error] WSAStartup error\n", 0},
  };
  for (const Row& r : rows) {
    Reset();
    EmptyAgent();
    grantMinor = r.minor;
    failFrom = r.failFrom;
    startupCalls = 0;
    win::SetStartupHook(&FakeStartup);
    testing::internal::CaptureStderr();
    EXPECT_EQ(QNStartup(), r.result);
    std::string console = r.console;
#if defined(_WIN32)
    // There the message box alone shows its text; the console stand-in is Linux's.
    for (size_t p; (p = console.find("[Error] ")) != std::string::npos;)
      console.erase(p, console.find('\n', p) + 1 - p);
#endif
    EXPECT_EQ(testing::internal::GetCapturedStderr(), console) << "row " << &r - rows;
    EXPECT_TRUE(QNStarted);
    EXPECT_EQ(win::StartupCount(), r.outstanding) << "row " << &r - rows;
    EXPECT_EQ(QNStopwatch != nullptr, r.result);
    // Never a second time, after success or failure alike.
    int calls = startupCalls;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(QNStartup());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(startupCalls, calls);
  }
  // Where 2.0 and then 1.1 fail, the error goes to QLOG only.
  EXPECT_NE(Qlog().find("(ERR  ): [vovizi/"), std::string::npos);
  const char* eol = platform::kTextFilesUseCRLF ? "\r\n" : "\n";
  EXPECT_NE(Qlog().find(std::string("Can't startup WinSock (WSAStartup)") + eol), std::string::npos);
}

TEST_F(Net, StartupPointsLoopbackAndStartsStopwatch) {
  QNSocket first;  // the first socket starts the layer
  EXPECT_TRUE(QNStarted);
  EXPECT_STREQ(QNLoopback.ToString(), "127.0.0.1");
  ASSERT_NE(QNStopwatch, nullptr);
  EXPECT_TRUE(QNStopwatch->Running());
  double t0 = QNStopwatch->ElapsedSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_GT(QNStopwatch->ElapsedSeconds(), t0);
  ASSERT_NE(QNAdapters, nullptr);
  EXPECT_EQ(QNAdapters->Count(), 0);
}

#if !defined(_WIN32)
namespace {

win::InterfaceRow Ether(uint32_t index, std::vector<uint8_t> mac) { return {index, 6, std::move(mac)}; }

std::vector<uint8_t> Mac(uint8_t last) { return {0x02, 0x00, 0x5e, 0x10, 0x00, last}; }

}  // namespace
#endif

TEST_F(Net, AdapterWalkOverFedTable) {
#if defined(_WIN32)
  GTEST_SKIP() << "the system's agent serves its own table; no test can feed one";
#else
  std::vector<win::InterfaceRow> rows;
  rows.push_back({1, 24, {}});                                          // loopback, row 1
  rows.push_back(Ether(2, {'D', 'E', 'S', 'T', 0, 7}));                 // row 2: filtered
  rows.push_back(Ether(3, {0, 0, 0, 0, 0, 0}));                         // row 3: filtered
  rows.push_back({4, 71, Mac(0xee)});                                   // row 4: not Ethernet
  rows.push_back(Ether(5, {1, 2, 3}));                                  // row 5: too short
  for (uint8_t i = 0; i < 12; ++i) rows.push_back(Ether(10 + i, Mac(i)));  // rows 6..17
  win::SetInterfaceTable(rows);

  testing::internal::CaptureStderr();
  QNAdapterList list;
  std::string err = testing::internal::GetCapturedStderr();

  std::string expected;
  for (int i = 0; i < 12; ++i) {
    if (i >= 10) expected += "Too many network adapters found (max=10)\n";
    char line[80];
    std::snprintf(line, sizeof line, "MAC Address of interface #%d: 02005e1000%02x\n", 6 + i, i);
    expected += line;
  }
  EXPECT_EQ(err, expected);
  ASSERT_EQ(list.Count(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(0, std::memcmp(list.Address(i), Mac(i).data(), 6)) << i;
  EXPECT_EQ(win::StartupCount(), 0);  // the walk releases its own start-up

  // The same lines reach QLOG: twelve INFO and two WARN (the start marker
  // may be there too, in a fresh process).
  std::string qlog = Qlog();
  size_t infos = 0, warns = 0;
  const std::string pid = "[vovizi/" + std::to_string(::getpid()) + "] ";
  const std::string info = "(INFO ): " + pid + "MAC Address", warn = "(WARN ): " + pid + "Too many";
  for (size_t p = 0; (p = qlog.find(info, p)) != std::string::npos; ++p) ++infos;
  for (size_t p = 0; (p = qlog.find(warn, p)) != std::string::npos; ++p) ++warns;
  EXPECT_EQ(infos, 12u);
  EXPECT_EQ(warns, 2u);
#endif
}

TEST_F(Net, AdapterWalkWithoutAgentOrRows) {
  win::SetAgentPresent(false);
  testing::internal::CaptureStderr();
  QNAdapterList absent;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(absent.Count(), 0);

  win::SetAgentPresent(true);
#if defined(_WIN32)
  // The stand-in agent beside the tests serves row 2 as Ethernet.
  testing::internal::CaptureStderr();
  QNAdapterList one;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "MAC Address of interface #2: 021122334455\n");
#else
  win::SetInterfaceTable({{1, 24, {}}, {2, 6, Mac(9)}});
  testing::internal::CaptureStderr();
  QNAdapterList one;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "MAC Address of interface #2: 02005e100009\n");
#endif
  EXPECT_EQ(one.Count(), 1);
}

TEST(NetOid, CompareCopyAndFree) {
  win::UINT a[] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 3, 4};
  win::UINT b[] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 6};
  win::AsnObjectIdentifier oa{11, a}, ob{10, b};
  EXPECT_EQ(QNAdapterList::OidCompare(&oa, &ob, 10), -3);
  EXPECT_EQ(QNAdapterList::OidCompare(&ob, &oa, 10), 3);
  EXPECT_EQ(QNAdapterList::OidCompare(&oa, &ob, 9), 0);
  EXPECT_EQ(QNAdapterList::OidCompare(&oa, &oa, 100), 0);  // the counts bound n
  win::AsnObjectIdentifier shortB{3, b};
  EXPECT_EQ(QNAdapterList::OidCompare(&oa, &shortB, 10), 0);  // lengths beyond m not compared

  win::SnmpVarBind bind{};
  ASSERT_TRUE(QNAdapterList::OidCopy(&bind.name, &oa));
  EXPECT_EQ(bind.name.idLength, 11u);
  EXPECT_EQ(QNAdapterList::OidCompare(&bind.name, &oa, 11), 0);
  bind.value.asnType = win::ASN_OCTETSTRING;
  bind.value.asnValue.string = {static_cast<win::BYTE*>(win::GlobalAlloc(win::GPTR, 6)), 6, 1};
  QNAdapterList::VarBindFree(&bind);  // the sanitizer build catches a leak here
  EXPECT_EQ(bind.name.ids, nullptr);
  EXPECT_EQ(bind.name.idLength, 0u);
  EXPECT_EQ(bind.value.asnType, win::ASN_NULL);
}

TEST(NetKernelTable, RowsInIndexOrder) {
#if defined(_WIN32)
  GTEST_SKIP() << "the kernel's table is read by the system's agent, not by the library";
#else
  auto rows = win::KernelInterfaceTable();
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].index, rows[i].index);
  for (const auto& r : rows) {
    if (r.type == 6) {
      EXPECT_EQ(r.address.size(), 6u);
    }
  }
#endif
}
