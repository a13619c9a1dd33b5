// zelwire's benchmarks, each figure beside a raw POSIX socket client doing the
// same work against the same loopback peer in the same run.
//
// The suite needs port 449 on loopback addresses of its own: run it inside a
// network namespace (tests/netns-run, as `./zw bench` does).  It starts the
// host simulator on 127.0.0.9 (connects with sign-on, the connection check)
// and a peer of its own on 127.0.0.20 (sink and echo for sends and replies).
//
// Each case runs 31 short repetitions, interleaved at random with the other
// cases so that a burst of load on the machine hits both sides alike; the
// table at the end compares the medians (docs/bench.md says how to read it).
// ZW_BENCH_SMALL=1 shrinks the largest registry of live conversations, for a
// quick check that every case runs.  The exit status is 1 only when a case
// could not run; figures never fail it.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback.h"
#include "conversation/zoco_sock.h"
#include "platform/platform.h"
#include "tests/hostsim/sim_process.h"
#include "transport/exports.h"
#include "zelwire/zelwire.h"

namespace zw::bench {
namespace {

constexpr const char* kPeerAddress = "127.0.0.20";
constexpr const char* kHostAddress = "127.0.0.9";
constexpr const char* kSignonService = "bench-signon";
constexpr const char* kUserId = "BENCH";
constexpr const char* kPassword = "SECRET";
constexpr std::uint16_t kServerId = 0xE009;
constexpr int kCheckServers = 10;
constexpr std::size_t kBigSend = 64 * 1024;
constexpr std::size_t kSmallSend = 100;

constexpr const char* kCommKey =
    "HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Internal_Components\\"
    "Communication";
constexpr const char* kServersKey =
    "HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\HostServers";

struct Environment {
  hostsim::test::TempDir home;
  hostsim::test::SimProcess sim;
  LoopbackPeer peer{kPeerAddress};
  bool small = false;
};
Environment* gEnv = nullptr;

std::string checkServerName(int i) { return "as-chk-" + std::to_string(i); }

// The registry of the run: the ten host servers of the connection check and,
// while a traced conversation is being built, the "trace" switch.
void writeRegistry(std::uint32_t traceSwitch) {
  std::string text = "REGEDIT4\n\n";
  if (traceSwitch) {
    char line[32];
    std::snprintf(line, sizeof line, "\"trace\"=dword:%08x\n", traceSwitch);
    text += "[" + std::string(kCommKey) + "]\n" + line + "\n";
  }
  for (int i = 0; i < kCheckServers; ++i) {
    text += "[" + std::string(kServersKey) + "\\Check" + std::to_string(i) + "]\n";
    text += "\"PingMe\"=dword:00000001\n\"IPTP\"=\"" + checkServerName(i) + "\"\n";
    text += "\"IPXTP\"=\"" + checkServerName(i) + "\"\n\"PingFailSev\"=dword:00000005\n\n";
  }
  gEnv->home.write("registry.reg", text);
}

ZoCoConnDesc peerDesc(const char* service) {
  ZoCoConnDesc d{};
  d.systemName = kPeerAddress;
  d.serviceName = service;
  d.scopeName = "";
  d.networkType = ZOCO_NET_TCPIP;
  return d;
}

// A conversation connected to the in-process peer; null (the case skipped)
// when it cannot be had.
ZoCoHandle connectToPeer(benchmark::State& state, ZoCoConnDesc desc) {
  ZoCoHandle h = zoCreateConversation();
  if (!h) {
    state.SkipWithError("create failed");
    return nullptr;
  }
  if (zoConnect(h, &desc) != ZOCO_RC_OK) {
    zoDestroyConversation(h);
    state.SkipWithError("connect failed");
    return nullptr;
  }
  return h;
}

int rawToPeer(benchmark::State& state, const char* service) {
  std::uint16_t port = rawMapperLookup(kPeerAddress, service);
  int fd = port ? rawConnect(kPeerAddress, port) : -1;
  if (fd < 0) state.SkipWithError("raw connect failed");
  return fd;
}

bool zwReceiveExactly(ZoCoHandle h, char* buffer, std::int32_t length) {
  std::int32_t got = 0;
  while (got < length) {
    std::int32_t count = 0;
    if (zoReceive(h, buffer + got, length - got, &count) != ZOCO_RC_OK) return false;
    got += count;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Paired cases: each iteration does the work once through zelwire and once
// through the raw client, taking turns at going first, and times each side
// on its own.  Both sides so meet the same load on the machine, and the
// ratio of the two sums is far steadier than that of two separate runs.
// ---------------------------------------------------------------------------
//
// `settle` runs untimed before each side's turn: it brings the peer to the
// same state for both (the sink drained, say).
constexpr int kWarmUp = 16;

template <typename ZwOp, typename RawOp, typename Settle>
void runPaired(benchmark::State& state, ZwOp zw, RawOp raw, Settle settle) {
  using Clock = std::chrono::steady_clock;
  Clock::duration zwTime{}, rawTime{};
  bool zwFirst = true, failed = false;
  // Warm-up, untimed: the first operations on a new connection or a cold
  // code path cost many times the usual, and would be charged to one side.
  for (int i = 0; i < kWarmUp && !failed; ++i) {
    settle();
    failed = !zw();
    settle();
    failed = failed || !raw();
  }
  // A skipped state runs no iteration.
  if (failed) state.SkipWithError("warm-up failed");
  for (auto _ : state) {
    for (int turn = 0; turn < 2 && !failed; ++turn) {
      bool zwTurn = (turn == 0) == zwFirst;
      settle();
      Clock::time_point start = Clock::now();
      bool ok = zwTurn ? zw() : raw();
      (zwTurn ? zwTime : rawTime) += Clock::now() - start;
      if (!ok) {
        state.SkipWithError(zwTurn ? "zelwire side failed" : "raw side failed");
        failed = true;
      }
    }
    if (failed) break;
    zwFirst = !zwFirst;
  }
  auto ns = [](Clock::duration d) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
  };
  state.counters["zelwire_ns"] = benchmark::Counter(ns(zwTime), benchmark::Counter::kAvgIterations);
  state.counters["raw_ns"] = benchmark::Counter(ns(rawTime), benchmark::Counter::kAvgIterations);
}

template <typename ZwOp, typename RawOp>
void runPaired(benchmark::State& state, ZwOp zw, RawOp raw) {
  runPaired(state, zw, raw, [] {});
}

// Direct sends of 64 KiB datastreams to the sink.  Each send starts with
// the sink having read everything sent before (the wait is not timed), so
// that neither side's send waits on bytes the other side left in flight and
// the figure is the sender's cost, not the sink thread's scheduling.
void pairedDirectSend(benchmark::State& state) {
  // The two sides also take turns at connecting first from one run to the
  // next.
  static bool rawConnectsFirst = false;
  rawConnectsFirst = !rawConnectsFirst;
  int fd = rawConnectsFirst ? rawToPeer(state, "sink") : -1;
  ZoCoHandle h = connectToPeer(state, peerDesc("sink"));
  if (!rawConnectsFirst) fd = rawToPeer(state, "sink");
  if (!h) {
    if (fd >= 0) ::close(fd);
    return;
  }
  std::vector<char> data(kBigSend, 'z');
  if (fd >= 0) {
    LoopbackPeer& peer = gEnv->peer;
    std::uint64_t sent = peer.sunk();
    runPaired(
        state,
        [&] {
          sent += data.size();
          return zoSend(h, data.data(), static_cast<std::int32_t>(data.size())) == 0;
        },
        [&] {
          sent += data.size();
          return rawSendAll(fd, data.data(), data.size());
        },
        [&] {
          while (peer.sunk() < sent) std::this_thread::yield();
        });
    ::close(fd);
  }
  zoDestroyConversation(h);
}

// ---------------------------------------------------------------------------
// 100-byte datastreams: zelwire with send buffering (threshold 4096), the raw
// client with one socket send per datastream.
// ---------------------------------------------------------------------------
void zwBufferedSend(benchmark::State& state) {
  ZoCoConnDesc desc = peerDesc("sink");
  desc.nBytesThold = 4096;
  desc.bufferBufLen = 8192;
  ZoCoHandle h = connectToPeer(state, desc);
  if (!h) return;
  std::vector<char> data(kSmallSend, 'b');
  for (auto _ : state) {
    if (zoSend(h, data.data(), static_cast<std::int32_t>(data.size())) != ZOCO_RC_OK) {
      state.SkipWithError("send failed");
      break;
    }
  }
  if (zoFlush(h) != ZOCO_RC_OK) state.SkipWithError("flush failed");
  state.SetItemsProcessed(state.iterations());
  zoDestroyConversation(h);
}

void rawSmallSend(benchmark::State& state) {
  int fd = rawToPeer(state, "sink");
  if (fd < 0) return;
  std::vector<char> data(kSmallSend, 'b');
  for (auto _ : state) {
    if (!rawSendAll(fd, data.data(), data.size())) {
      state.SkipWithError("send failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  ::close(fd);
}

// ---------------------------------------------------------------------------
// Request and reply of 100 bytes each way, against the echo server.
// ---------------------------------------------------------------------------
void pairedRequestReply(benchmark::State& state) {
  // As for the sends: the sides take turns at connecting first.
  static bool rawConnectsFirst = false;
  rawConnectsFirst = !rawConnectsFirst;
  int fd = rawConnectsFirst ? rawToPeer(state, "echo") : -1;
  ZoCoHandle h = connectToPeer(state, peerDesc("echo"));
  if (!rawConnectsFirst) fd = rawToPeer(state, "echo");
  if (!h) {
    if (fd >= 0) ::close(fd);
    return;
  }
  std::vector<char> data(kSmallSend, 'r'), reply(kSmallSend);
  auto length = static_cast<std::int32_t>(kSmallSend);
  if (fd >= 0) {
    runPaired(
        state,
        [&] {
          return zoSend(h, data.data(), length) == 0 && zwReceiveExactly(h, reply.data(), length);
        },
        [&] {
          return rawSendAll(fd, data.data(), data.size()) &&
                 rawRecvExactly(fd, reply.data(), reply.size());
        });
    ::close(fd);
  }
  zoDestroyConversation(h);
}

// ---------------------------------------------------------------------------
// Whole connects to the simulator: server mapper lookup, server connect, seed
// exchange and start-server, then the close.
// ---------------------------------------------------------------------------
void pairedConnect(benchmark::State& state) {
  ZoCoHandle h = zoCreateConversation();
  if (!h) {
    state.SkipWithError("create failed");
    return;
  }
  ZoCoConnDesc desc{};
  desc.systemName = kHostAddress;
  desc.serviceName = kSignonService;
  desc.userId = kUserId;
  desc.password = kPassword;
  desc.scopeName = "";
  desc.serverId = kServerId;
  desc.networkType = ZOCO_NET_TCPIP;
  runPaired(
      state,
      [&] {
        bool ok = zoConnect(h, &desc) == ZOCO_RC_OK;
        zoDisconnect(h);
        return ok;
      },
      [&] {
        std::uint16_t port = rawMapperLookup(kHostAddress, kSignonService);
        int fd = port ? rawConnect(kHostAddress, port) : -1;
        bool ok = fd >= 0 && rawSignon(fd, kServerId, kUserId, kPassword);
        if (fd >= 0) ::close(fd);
        return ok;
      });
  zoDestroyConversation(h);
}

// ---------------------------------------------------------------------------
// The trace file's cost on a direct send of 100 bytes: the "trace" switch is
// read when a conversation is built, so each case builds its own.
// ---------------------------------------------------------------------------
void zwTracedSend(benchmark::State& state) {
  auto traceSwitch = static_cast<std::uint32_t>(state.range(0));
  std::string tracePath = gEnv->home.file("qvxco.trc");
  // Each run starts the file afresh, so it does not grow without bound.
  ::unlink(tracePath.c_str());
  writeRegistry(traceSwitch);
  ZoCoHandle h = connectToPeer(state, peerDesc("sink"));
  writeRegistry(0);
  if (!h) return;
  if (traceSwitch != 0 && !static_cast<ZoCoTransport*>(h)->hasTraceFile())
    state.SkipWithError("no trace file");
  std::vector<char> data(kSmallSend, 't');
  for (auto _ : state) {
    if (zoSend(h, data.data(), static_cast<std::int32_t>(data.size())) != ZOCO_RC_OK) {
      state.SkipWithError("send failed");
      break;
    }
  }
  zoDestroyConversation(h);
  ::unlink(tracePath.c_str());
}

// ---------------------------------------------------------------------------
// Create and destroy with many conversations live.  The live ones are kept
// between runs and grown or shrunk to what a case asks.
// ---------------------------------------------------------------------------
std::vector<ZoCoHandle> gLive;

bool setLive(std::size_t count) {
  while (gLive.size() > count) {
    zoDestroyConversation(gLive.back());
    gLive.pop_back();
  }
  while (gLive.size() < count) {
    ZoCoHandle h = zoCreateConversation();
    if (!h) return false;
    gLive.push_back(h);
  }
  return true;
}

void zwCreateDestroy(benchmark::State& state) {
  if (!setLive(static_cast<std::size_t>(state.range(0)))) {
    state.SkipWithError("create failed");
    return;
  }
  for (auto _ : state) {
    ZoCoHandle h = zoCreateConversation();
    if (!h) {
      state.SkipWithError("create failed");
      break;
    }
    zoDestroyConversation(h);
  }
}

// ---------------------------------------------------------------------------
// The connection check of a system with ten host servers, and the raw
// client's mapper lookups and connects to the same ten.
// ---------------------------------------------------------------------------
void pairedConnectionCheck(benchmark::State& state) {
  setLive(0);
  std::vector<std::string> names;
  for (int i = 0; i < kCheckServers; ++i) names.push_back(checkServerName(i));
  char system[16];
  runPaired(
      state,
      [&] {
        std::snprintf(system, sizeof system, "%s", kHostAddress);
        ZoCoConnDesc desc{};
        desc.systemName = system;
        desc.scopeName = "";
        desc.networkType = ZOCO_NET_TCPIP;
        return zoConnectionCheck(&desc) == ZOCO_RC_OK;
      },
      [&] {
        for (const std::string& name : names) {
          std::uint16_t port = rawMapperLookup(kHostAddress, name);
          int fd = port ? rawConnect(kHostAddress, port) : -1;
          if (fd < 0) return false;
          ::close(fd);
        }
        return true;
      });
}

// ---------------------------------------------------------------------------
// The table.
// ---------------------------------------------------------------------------

// Collects every run's time per iteration (ns) and shows the console only
// the aggregates when there are repetitions.
class Collector : public benchmark::ConsoleReporter {
 public:
  Collector() : ConsoleReporter(OO_Tabular) {}  // no colours: the output is a log
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.error_occurred) failed_ = true;
      if (run.run_type == Run::RT_Iteration) {
        if (!run.error_occurred) {
          std::string name = baseName(run.benchmark_name());
          auto zw = run.counters.find("zelwire_ns"), raw = run.counters.find("raw_ns");
          if (zw != run.counters.end() && raw != run.counters.end()) {
            // A paired case: each side's own time per operation.
            times_[name + "#zelwire"].push_back(zw->second.value);
            times_[name + "#raw"].push_back(raw->second.value);
            // The two sides of one repetition met the same load: their
            // ratio is the steadiest figure a repetition gives.
            if (zw->second.value > 0)
              times_[name + "#ratio"].push_back(raw->second.value / zw->second.value);
          } else {
            times_[name].push_back(run.GetAdjustedRealTime() /
                                   benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9);
          }
        }
        if (run.repetitions <= 1 || run.error_occurred) shown.push_back(run);
      } else {
        shown.push_back(run);
      }
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }

  // The median time per iteration in ns, or NaN when the case did not run.
  double median(const std::string& name) const {
    auto it = times_.find(name);
    if (it == times_.end() || it->second.empty()) return std::nan("");
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  std::size_t samples(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second.size();
  }
  bool failed() const { return failed_; }

 private:
  // The case's name without the suffix that UseRealTime adds.
  static std::string baseName(std::string name) {
    const std::string suffix = "/real_time";
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      name.erase(name.size() - suffix.size());
    return name;
  }

  std::map<std::string, std::vector<double>> times_;
  bool failed_ = false;
};

// How a row shows its figures and which way its ratio must go.
enum class Kind {
  kThroughput,  // MB/s; ratio zelwire/reference, at least the target
  kRate,        // operations per second; ratio zelwire/reference, at least the target
  kLatency,     // time per operation; ratio zelwire/reference, at most the target
  kReport,      // time per operation; ratio shown, no target
};

struct Row {
  const char* label;
  std::string zelwire;
  std::string reference;
  Kind kind;
  double target;  // unused for kReport
  double bytesPerOp = 0;
};

std::string figure(Kind kind, double ns, double bytesPerOp) {
  char text[48];
  if (std::isnan(ns)) return "-";
  switch (kind) {
    case Kind::kThroughput:
      std::snprintf(text, sizeof text, "%.0f MB/s", bytesPerOp / ns * 1e3);
      break;
    case Kind::kRate:
      std::snprintf(text, sizeof text, "%.0f /s", 1e9 / ns);
      break;
    default:
      if (ns >= 1e6)
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
      else if (ns >= 1e4)
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
      else
        std::snprintf(text, sizeof text, "%.0f ns", ns);
  }
  return text;
}

// "direct_send_64k#zelwire" -> "direct_send_64k"; other names -> "".
std::string pairedName(const std::string& name) {
  const std::string side = "#zelwire";
  if (name.size() <= side.size() ||
      name.compare(name.size() - side.size(), side.size(), side) != 0)
    return "";
  return name.substr(0, name.size() - side.size());
}

void printTable(const Collector& c, const std::vector<Row>& rows) {
  std::printf("\n%-44s %14s %14s %8s %8s  %s\n", "case", "zelwire", "raw/reference", "ratio",
              "target", "result");
  std::printf("%s\n", std::string(104, '-').c_str());
  for (const Row& row : rows) {
    double zw = c.median(row.zelwire), ref = c.median(row.reference);
    double ratio = std::nan("");
    const bool perTime = row.kind == Kind::kThroughput || row.kind == Kind::kRate;
    if (!std::isnan(zw) && !std::isnan(ref) && zw > 0) {
      // Throughput and rate compare work per time: the reference's time
      // over zelwire's.  Times compare the other way round.
      ratio = perTime ? ref / zw : zw / ref;
    }
    // A paired case: the median of the repetitions' own ratios.
    const std::string pairedRatio = pairedName(row.zelwire) + "#ratio";
    double paired = c.median(pairedRatio);
    if (!std::isnan(paired) && paired > 0) ratio = perTime ? paired : 1 / paired;
    char ratioText[16], targetText[16];
    std::snprintf(ratioText, sizeof ratioText, std::isnan(ratio) ? "-" : "%.3f", ratio);
    const char* result;
    switch (row.kind) {
      case Kind::kThroughput:
      case Kind::kRate:
        std::snprintf(targetText, sizeof targetText, ">= %.2f", row.target);
        result = std::isnan(ratio) ? "did not run" : ratio >= row.target ? "met" : "not met";
        break;
      case Kind::kLatency:
        std::snprintf(targetText, sizeof targetText, "<= %.2f", row.target);
        result = std::isnan(ratio) ? "did not run" : ratio <= row.target ? "met" : "not met";
        break;
      default:
        std::snprintf(targetText, sizeof targetText, "report");
        result = std::isnan(ratio) ? "did not run" : "reported";
    }
    std::printf("%-44s %14s %14s %8s %8s  %s\n", row.label,
                figure(row.kind, zw, row.bytesPerOp).c_str(),
                figure(row.kind, ref, row.bytesPerOp).c_str(), ratioText, targetText, result);
  }
  std::printf("\nMedians of %zu repetitions; raw/reference is the raw socket client, or for "
              "trace and live-count rows the trace-off / 1,000-live figure.  The ratio of a row\n"
              "measured against the raw client is the median of the repetitions' own ratios.\n",
              c.samples(rows.front().zelwire));
}

bool hasFlag(int argc, char** argv, const char* flag) {
  std::size_t n = std::strlen(flag);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], flag, n) == 0) return true;
  return false;
}

bool startEnvironment() {
  ::setenv("ZELWIRE_HOME", gEnv->home.path().c_str(), 1);
  writeRegistry(0);
  std::string config = "pause-ms = 0\n\n[system HOSTA]\naddress = " + std::string(kHostAddress) +
                       "\n\n[server " + kSignonService + "]\nnetworks = tcpip\nuser = " +
                       kUserId + ":" + kPassword + "\n";
  for (int i = 0; i < kCheckServers; ++i)
    config += "\n[server " + checkServerName(i) + "]\nnetworks = tcpip\n";
  gEnv->home.write("hostsim.ini", config);
  if (!gEnv->sim.start({"--config", gEnv->home.file("hostsim.ini"), "--log",
                        gEnv->home.file("hostsim.log")})) {
    std::fprintf(stderr, "zw_bench: the host simulator did not start:\n%s\n",
                 gEnv->sim.output().c_str());
    return false;
  }
  if (!gEnv->peer.start()) return false;
  plat::WsaData data;
  return plat::WSAStartup(0x0101, &data) == 0;
}

}  // namespace
}  // namespace zw::bench

int main(int argc, char** argv) {
  using namespace zw::bench;
  // The service trace stays off unless a case says otherwise.
  ::unsetenv("ZELWIRE_SERVICE_TRACE");
  // Defaults of the suite, unless the command line says otherwise.
  std::vector<char*> args(argv, argv + argc);
  // Many short repetitions, interleaved: a burst of load from elsewhere on
  // the machine then shifts a few samples of both sides instead of a whole
  // case, and the medians stay put.
  std::string reps = "--benchmark_repetitions=31";
  std::string minTime = "--benchmark_min_time=0.2";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  if (!hasFlag(argc, argv, "--benchmark_repetitions")) args.push_back(reps.data());
  if (!hasFlag(argc, argv, "--benchmark_min_time")) args.push_back(minTime.data());
  std::string color = "--benchmark_color=false";
  if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving"))
    args.push_back(interleave.data());
  if (!hasFlag(argc, argv, "--benchmark_color")) args.push_back(color.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  Environment env;
  gEnv = &env;
  const char* small = std::getenv("ZW_BENCH_SMALL");
  env.small = small && *small && std::strcmp(small, "0") != 0;
  if (!startEnvironment()) return 1;
  const long bigLive = env.small ? 5000 : 100000;
  std::string bigName = "create_destroy/live:" + std::to_string(bigLive);

  using benchmark::RegisterBenchmark;
  RegisterBenchmark("direct_send_64k", pairedDirectSend)->UseRealTime();
  RegisterBenchmark("send_100/zelwire_buffered", zwBufferedSend)->UseRealTime();
  RegisterBenchmark("send_100/raw_each", rawSmallSend)->UseRealTime();
  RegisterBenchmark("request_reply_100", pairedRequestReply)->UseRealTime();
  RegisterBenchmark("connect_signon", pairedConnect)->UseRealTime();
  RegisterBenchmark("traced_send_100/zelwire", zwTracedSend)
      ->ArgName("switch")->Arg(0)->Arg(2)->Arg(1)->UseRealTime();
  RegisterBenchmark("create_destroy", zwCreateDestroy)
      ->ArgName("live")->Arg(1000)->Arg(10000)->Arg(bigLive)->UseRealTime();
  RegisterBenchmark("connection_check_10", pairedConnectionCheck)->UseRealTime();

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  setLive(0);

  const double big = static_cast<double>(kBigSend);
  std::vector<Row> rows = {
      {"direct send 64 KiB (throughput)", "direct_send_64k#zelwire", "direct_send_64k#raw",
       Kind::kThroughput, 0.97, big},
      {"100 B sends, buffered vs one call each", "send_100/zelwire_buffered", "send_100/raw_each",
       Kind::kRate, 4.0},
      {"request/reply 100 B (latency)", "request_reply_100#zelwire", "request_reply_100#raw",
       Kind::kLatency, 1.05},
      {"whole connect with sign-on (per second)", "connect_signon#zelwire", "connect_signon#raw",
       Kind::kRate, 0.9},
      {"send 100 B, trace off", "traced_send_100/zelwire/switch:0", "send_100/raw_each",
       Kind::kReport, 0},
      {"send 100 B, trace file switch 2", "traced_send_100/zelwire/switch:2",
       "traced_send_100/zelwire/switch:0", Kind::kReport, 0},
      {"send 100 B, trace file switch 1", "traced_send_100/zelwire/switch:1",
       "traced_send_100/zelwire/switch:0", Kind::kReport, 0},
      {"create+destroy, 10,000 live vs 1,000", "create_destroy/live:10000",
       "create_destroy/live:1000", Kind::kLatency, 1.25},
      {env.small ? "create+destroy, 5,000 live vs 1,000 (small)"
                 : "create+destroy, 100,000 live vs 1,000",
       bigName, "create_destroy/live:1000", Kind::kLatency, 1.25},
      {"connection check, 10 host servers", "connection_check_10#zelwire",
       "connection_check_10#raw", Kind::kReport, 0},
  };
  printTable(collector, rows);
  benchmark::Shutdown();
  env.peer.stop();
  env.sim.stop(15);
  return collector.failed() ? 1 : 0;
}
