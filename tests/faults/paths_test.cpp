// Every main path of the library, run once clean and then once for every
// platform call it makes with that call failing (tests/faults/driver.h).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "lockswap/lockswap.h"
#include "outside/svclib.h"
#include "platform/posix/delayed.h"
#include "platform/posix/ini.h"
#include "tests/faults/driver.h"
#include "tests/faults/secrets.h"

namespace zw::test::faults {
namespace {

const std::string kConfig = "HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion";

// The trace file and its dumps on; HOSTA found through its cached address
// (the host name service is off for it); direct TCP/IP sends cut at 100.
std::string baseRegistry(const std::string& extra = "") {
  return std::string("[") + kCommKey + "]\n\"trace\"=dword:00000001\n\n[" + kConfig +
         "\\Systems\\HOSTA]\n\"DisableDNSLookup\"=dword:00000001\n\"IPAddr\"=\"127.0.0.9\"\n"
         "\"TCPMaxSendAmt\"=dword:00000064\n\n" +
         extra;
}

// Two host servers for the connection check: an error and a warning.
std::string checkRegistry() {
  std::string servers;
  for (auto [key, program, severity] :
       {std::tuple{"Central", "as-central", 6}, std::tuple{"File", "as-file", 5}}) {
    servers += "[" + kConfig + "\\HostServers\\" + key +
               "]\n\"PingMe\"=dword:00000001\n\"IPTP\"=\"" + program + "\"\n\"IPXTP\"=\"" +
               program + "\"\n\"PingFailSev\"=dword:0000000" + std::to_string(severity) + "\n\n";
  }
  return baseRegistry(servers);
}

auto codesIn(std::set<std::int32_t> codes) {
  return [codes](std::int32_t code, int) { return codes.count(code) != 0; };
}

// The results a connect documents, with the local port binding of qvxbs.
const std::set<std::int32_t> kConnectCodes = {0, 12, 14, 19, 21, 23};
// In the worker form a failed binding ends the worker and gives 23.
const std::set<std::int32_t> kWorkerConnectCodes = {0, 12, 19, 21, 23};

// The address cache written back, the local address told to the
// configuration, socket options and the program's name (no name: no local
// port binding) never decide a connect.
const std::set<Call> kConnectInert = {Call::regCreateKey, Call::regSetValue, Call::setsockopt,
                                      Call::getsockname, Call::getModuleFileName};

// After a connect the conversation holds a socket exactly when it succeeded.
void connectFinish(FaultTest& f, const Outcome& o) {
  const bool connected = f.conversation().sock() != plat::kInvalidSocket;
  if (o.codes.at(0) == 0 && !connected) f.problem("connect answered 0 without a socket");
  if (o.codes.at(0) != 0 && connected) f.problem("a failed connect kept its socket");
  // (A close the fault hook refused leaves its socket open by design.)
  if (o.codes.at(0) != 0 && fault::openSockets() != 0 &&
      !(o.injected && o.injectedCall == Call::closesocket))
    f.problem("a failed connect left a socket open");
}

ZoCoConnDesc bufferedDesc(FaultTest& f) {
  ZoCoConnDesc d = f.desc("echo");
  d.nBytesThold = 100;
  d.bufferBufLen = 1000;
  d.flushSendsAll = 1;
  return d;
}

// A connected conversation, set up before the counted part.
void connected(FaultTest& f, ZoCoConnDesc d) {
  f.create();
  ASSERT_EQ(f.connect(&d), 0);
}

std::int32_t sendTimes(FaultTest& f, int times, std::int32_t length) {
  const std::string data(static_cast<std::size_t>(length), 'b');
  for (int i = 0; i < times; ++i)
    if (std::int32_t rc = f.send(data.data(), length)) return rc;
  return 0;
}

// The lockswap paths: files to replace and a clean list of delayed moves.
struct LockswapFiles {
  std::string source, target;
};

LockswapFiles lockswapFiles(FaultTest& f) {
  LockswapFiles files{f.homePath("new.dll"), f.homePath("old.dll")};
  std::ofstream(files.source) << "new";
  std::ofstream(files.target) << "old";
  std::filesystem::remove_all(f.homePath("windows"));
  return files;
}

std::vector<std::int32_t> runLockswap(FaultTest& f) {
  LockswapFiles files{f.homePath("new.dll"), f.homePath("old.dll")};
  const char* argv[] = {"lockswap", files.source.c_str(), files.target.c_str()};
  std::FILE* out = std::fopen("/dev/null", "w");
  const auto code = static_cast<std::int32_t>(lockswap::run(3, argv, out));
  std::fclose(out);
  return {code};
}

// Exit code 0, or the code of the step that failed: the armed error, or 31
// for a failure that left none.
bool lockswapCode(std::int32_t code, int error) {
  return code == 0 || code == error || (error == 0 && code == 31);
}

// Either both entries of the replacement are registered or neither: a lone
// delete entry would take the target at the restart with nothing in its place.
void lockswapNtFinish(FaultTest& f, const Outcome& o) {
  std::vector<plat::delayed::Operation> list;
  long rc = plat::delayed::editPending(false, [&](auto& operations, bool*) {
    list = operations;
    return 0L;
  });
  if (rc != 0) f.problem("the list of delayed moves cannot be read: " + std::to_string(rc));
  const std::string source = f.homePath("new.dll"), target = f.homePath("old.dll");
  const std::vector<plat::delayed::Operation> both = {{target, ""}, {source, target}};
  // A list that reads as missing while the move is added is taken for an
  // empty one: the move then stands alone, which the platform's answer
  // justifies (and a lone move replaces nothing: the target still exists).
  const bool listReadAsMissing =
      o.injected && o.injectedCall == Call::regQueryValue && o.error == 2;
  const std::vector<plat::delayed::Operation> moveOnly = {{source, target}};
  if (listReadAsMissing && o.codes.at(0) == 0 && list == moveOnly) return;
  if (o.codes.at(0) == 0 ? list != both : !list.empty())
    f.problem("lockswap answered " + std::to_string(o.codes.at(0)) + " and left " +
              std::to_string(list.size()) + " delayed operation(s)");
}

void lockswap9xFinish(FaultTest& f, const Outcome& o) {
  std::ifstream in(f.homePath("windows/WININIT.INI"), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<plat::ini::Entry> entries = plat::ini::Document::parse(text).entries("Rename");
  const std::string source = f.homePath("new.dll"), target = f.homePath("old.dll");
  const std::vector<plat::ini::Entry> both = {{"NUL", target}, {target, source}};
  if (o.codes.at(0) == 0 ? entries != both : !entries.empty())
    f.problem("lockswap answered " + std::to_string(o.codes.at(0)) + " and left " +
              std::to_string(entries.size()) + " Rename entries");
  ::unsetenv("ZELWIRE_WINVER");
}

std::vector<Path> paths() {
  std::vector<Path> all;

  {
    Path p;
    p.name = "SignedOnConnect";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) {
      ::setenv("ZELWIRE_EXE_NAME", "/opt/app/qvxbs.exe", 1);
      ASSERT_TRUE(svc::openServiceTrace(f.homePath("service.trc")));
    };
    p.run = [](FaultTest& f) {
      f.create();
      ZoCoConnDesc d = f.desc("signon");
      d.userId = kUser;
      d.password = kPassword;
      d.serverId = 0xE009;
      d.nBytesThold = 100;
      return std::vector<std::int32_t>{f.connect(&d)};
    };
    p.clean = {0};
    p.documented = codesIn(kConnectCodes);
    p.inert = kConnectInert;
    // Whatever failed, no secret of the sign-on reached a trace or a log.
    p.finish = [](FaultTest& f, const Outcome& o) {
      connectFinish(f, o);
      ::unsetenv("ZELWIRE_EXE_NAME");
      svc::closeServiceTrace();
      std::vector<Secret> secrets = signonSecrets(kUser, kPassword, f.conversation().clientSeed(),
                                                  f.conversation().hostSeed());
      for (const char* file : {"qvxco.trc", "service.trc", "service.log"})
        for (const std::string& found : findSecrets(readFile(f.homePath(file)), secrets))
          f.problem(std::string(file) + ": " + found);
      std::remove(f.homePath("service.trc").c_str());
    };
    all.push_back(p);
  }
  {
    Path p;
    p.name = "CancellableConnect";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest&) { ::setenv("ZELWIRE_EXE_NAME", "/opt/app/qvxbs.exe", 1); };
    p.run = [](FaultTest& f) {
      f.create();
      ZoCoConnDesc d = f.desc("echo");
      d.checkCancel = 1;
      return std::vector<std::int32_t>{f.connect(&d)};
    };
    p.clean = {0};
    p.documented = codesIn(kWorkerConnectCodes);
    p.inert = kConnectInert;
    p.finish = [](FaultTest& f, const Outcome& o) {
      connectFinish(f, o);
      ::unsetenv("ZELWIRE_EXE_NAME");
    };
    all.push_back(p);
  }
  {
    // Cancelled as soon as the first worker runs, racing it: the worker is
    // abandoned, ends on its own and calls no callback after the return.
    Path p;
    p.name = "CancelledConnect";
    p.registry = baseRegistry();
    p.run = [](FaultTest& f) {
      f.create();
      ZoCoConnDesc d = f.desc("echo");
      d.checkCancel = 1;
      return std::vector<std::int32_t>{f.connect(&d)};
    };
    p.clean = {22};
    p.documented = codesIn({12, 19, 21, 22, 23});
    p.inert = kConnectInert;
    p.finish = connectFinish;
    p.serializeWorkers = false;
    p.cancelAfterWorkerStart = true;
    all.push_back(p);
  }
  {
    Path p;
    p.name = "IpxConnectWithServiceQuery";
    p.registry = baseRegistry();
    p.run = [](FaultTest& f) {
      f.create();
      ZoCoConnDesc d = f.desc("echo", ZOCO_NET_IPX);
      d.checkCancel = 1;
      return std::vector<std::int32_t>{f.connect(&d)};
    };
    p.clean = {0};
    p.documented = codesIn(kWorkerConnectCodes);
    p.inert = kConnectInert;
    p.finish = connectFinish;
    all.push_back(p);
  }
  {
    Path p;
    p.name = "DirectSend";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) { connected(f, f.desc("echo")); };
    p.run = [](FaultTest& f) { return std::vector<std::int32_t>{sendTimes(f, 1, 250)}; };
    p.clean = {0};
    p.documented = codesIn({0, 23});
    all.push_back(p);
  }
  {
    // Nine sends gathered, the tenth reaches the threshold and flushes; then
    // 30 bytes gathered are flushed ahead of a send too large to gather.
    Path p;
    p.name = "BufferedSend";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) { connected(f, bufferedDesc(f)); };
    p.run = [](FaultTest& f) {
      std::int32_t first = sendTimes(f, 10, 10);
      std::int32_t gathered = sendTimes(f, 3, 10);
      std::int32_t large = sendTimes(f, 1, 2000);
      return std::vector<std::int32_t>{first, gathered, large};
    };
    p.clean = {0, 0, 0};
    p.documented = codesIn({0, 23});
    all.push_back(p);
  }
  {
    Path p;
    p.name = "Flush";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) {
      connected(f, bufferedDesc(f));
      ASSERT_EQ(sendTimes(f, 3, 10), 0);
    };
    p.run = [](FaultTest& f) { return std::vector<std::int32_t>{f.flush(), f.flush()}; };
    p.clean = {0, 0};
    p.documented = codesIn({0, 23});
    all.push_back(p);
  }
  {
    // The 10 gathered bytes leave first, then their echo is read.
    Path p;
    p.name = "Receive";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) {
      connected(f, bufferedDesc(f));
      ASSERT_EQ(sendTimes(f, 1, 10), 0);
    };
    p.run = [](FaultTest& f) {
      char buffer[100];
      std::int32_t count = -1;
      std::int32_t rc = f.receive(buffer, sizeof buffer, &count);
      if (rc == 0 && count <= 0) f.problem("receive answered 0 with no bytes");
      if (rc != 0 && rc != 23) f.problem("receive answered " + std::to_string(rc));
      return std::vector<std::int32_t>{rc};
    };
    p.clean = {0};
    p.documented = codesIn({0, 23});
    all.push_back(p);
  }
  {
    // Ten bytes waiting: a peek of 4, one of the other 6, then nothing left.
    Path p;
    p.name = "Peek";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) {
      connected(f, f.desc("echo"));
      ASSERT_EQ(sendTimes(f, 1, 10), 0);
      ASSERT_TRUE(f.waitReadable(10));
    };
    p.run = [](FaultTest& f) {
      std::vector<std::int32_t> codes;
      for (std::int32_t length : {4, 100, 100}) {
        char buffer[100];
        std::int32_t count = -1;
        codes.push_back(f.peek(buffer, length, &count));
        if (codes.back() == 2 && count != 0) f.problem("peek answered 2 with bytes");
      }
      return codes;
    };
    p.clean = {0, 0, 2};
    p.documented = codesIn({0, 2, 23});
    all.push_back(p);
  }
  {
    Path p;
    p.name = "Accept";
    p.registry = baseRegistry();
    p.prepare = [](FaultTest& f) { f.create(); };
    p.run = [](FaultTest& f) {
      std::atomic<bool> done{false};
      int peer = -1;
      std::thread connector([&] {
        while (!done && f.listenPort == 0)
          std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (f.listenPort == 0) return;
        peer = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(f.listenPort.load()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(peer, reinterpret_cast<sockaddr*>(&to), sizeof to);
      });
      std::int32_t rc = f.accept();
      done = true;
      connector.join();
      if (peer >= 0) ::close(peer);
      return std::vector<std::int32_t>{rc};
    };
    p.clean = {0};
    p.documented = codesIn({0, 23});
    p.inert = {Call::setsockopt};  // the listener's linger
    all.push_back(p);
  }
  for (std::uint32_t network : {ZOCO_NET_TCPIP, ZOCO_NET_IPX}) {
    Path p;
    p.name = network == ZOCO_NET_TCPIP ? "ConnectionCheck" : "ConnectionCheckIpx";
    p.registry = checkRegistry();
    p.run = [network](FaultTest& f) {
      char system[16] = "hosta";
      char address[20] = {};
      ZoCoConnDesc d = f.desc(nullptr, network);
      d.systemName = system;
      d.checkCancel = 1;
      d.addressBuffer = network == ZOCO_NET_TCPIP ? address : nullptr;
      std::int32_t rc = f.check(&d);
      if (d.serviceName != nullptr) f.problem("the check kept a program name in serviceName");
      return std::vector<std::int32_t>{rc};
    };
    p.clean = {0};
    // The configuration service's own codes pass through: the registry's
    // (the armed error among them), 13 for a value of the wrong type and 259
    // for a server list that ended early.
    p.documented = [](std::int32_t code, int error) {
      static const std::set<std::int32_t> kCodes = {0, 1, 12, 19, 23, 2, 3, 5, 13, 259};
      return kCodes.count(code) != 0 || (error != 0 && code == error);
    };
    p.inert = kConnectInert;
    all.push_back(p);
  }
  for (bool nt : {true, false}) {
    Path p;
    p.name = nt ? "LockswapNt" : "Lockswap9x";
    p.registry = baseRegistry();
    p.prepare = [nt](FaultTest& f) {
      lockswapFiles(f);
      if (!nt) ::setenv("ZELWIRE_WINVER", "98", 1);
    };
    p.run = runLockswap;
    p.clean = {0};
    p.documented = lockswapCode;
    p.finish = nt ? lockswapNtFinish : lockswap9xFinish;
    all.push_back(p);
  }
  return all;
}

}  // namespace

void PrintTo(const Path& path, std::ostream* os) { *os << path.name; }

namespace {

class FaultPaths : public FaultTest, public ::testing::WithParamInterface<Path> {};

TEST_P(FaultPaths, EveryCallFailing) {
  const auto start = std::chrono::steady_clock::now();
  Coverage coverage = drive(GetParam());
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  report(GetParam().name, coverage, took.count());
  RecordProperty("calls", static_cast<int>(coverage.cleanCalls));
  RecordProperty("runs", static_cast<int>(coverage.runs));
}

INSTANTIATE_TEST_SUITE_P(Paths, FaultPaths, ::testing::ValuesIn(paths()),
                         [](const ::testing::TestParamInfo<Path>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace zw::test::faults
