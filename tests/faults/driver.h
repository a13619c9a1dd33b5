// The fault driver.  A path drives the library through its exports; the
// driver runs it once clean, counting the platform calls it makes, then once
// for every one of those calls with that call failing, for each error class
// the code tells apart.  Every run must answer one of the path's documented
// codes, leave no socket, thread or file behind, close no socket twice and
// call no status callback outside an export.
//
// The short form fails each call with a few representative errors; with
// ZW_STRESS set (./zw stress) every error class is tried.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "conversation/zoco_sock.h"
#include "platform/fault.h"
#include "tests/hostsim/sim_process.h"
#include "tests/support/support.h"
#include "transport/exports.h"

namespace zw::test::faults {

namespace fault = plat::fault;
using fault::Call;

// True when ZW_STRESS is set to anything but "" or "0".
bool stressRun();
// A count for the short form, or the full count under ZW_STRESS.
int stressCount(int shortCount, int fullCount);

// The errors a call of this kind is failed with: a representative few, or
// (all) every class the library and its backends tell apart, 0 included (a
// failure that leaves no error code).
std::vector<int> errorClasses(Call call, bool all);

// The simulated host: system HOSTA on 127.0.0.9 (IPX network 00000009).
inline constexpr const char* kHost = "127.0.0.9";
inline constexpr const char* kUser = "ALICE";
inline constexpr const char* kPassword = "SECRET";

class FaultTest;

// What the driver learnt from one run.
struct Outcome {
  std::vector<std::int32_t> codes;  // the results of the path's operations
  std::uint64_t calls = 0;          // platform calls made, workers included
  bool injected = false;            // the armed failure was reached
  Call injectedCall = Call::kCount;
  int error = 0;  // the error it was armed with
};

struct Path {
  std::string name;
  // The registry text after the REGEDIT4 header, written before every run.
  std::string registry;
  // Not counted: environment, conversations, data sent beforehand.
  std::function<void(FaultTest&)> prepare;
  // Counted: the path itself.  Answers the code of each operation.
  std::function<std::vector<std::int32_t>(FaultTest&)> run;
  // What a clean run answers.
  std::vector<std::int32_t> clean;
  // Whether a code is one the path documents, given the error armed.
  std::function<bool(std::int32_t code, int error)> documented;
  // Calls whose failure must not change any result on this path, besides
  // those that never may (trace and log files, message texts, the option
  // report, closes): reporting never changes the result of what reports.
  std::set<Call> inert;
  // Not counted: invariants of the path after the run, then its teardown.
  std::function<void(FaultTest&, const Outcome&)> finish;
  // The connect worker is waited for as soon as it starts, so the calls of
  // every run come in the same order; off where the race is the point.
  bool serializeWorkers = true;
  // ReportStatus asks to cancel once a connect worker has started.
  bool cancelAfterWorkerStart = false;
};

// Per-path figures for the report.
struct Coverage {
  std::uint64_t cleanCalls = 0;
  std::uint64_t runs = 0;
  std::uint64_t injected = 0;
  std::set<int> kinds;               // call kinds a failure was injected into
  std::uint64_t persistentRuns = 0;  // runs with every call of a kind failing
};

class FaultTest : public HomeTest {
 public:
  // --- for the paths --------------------------------------------------
  ZoCoConnDesc desc(const char* service, std::uint32_t network = ZOCO_NET_TCPIP);
  // The exports, marked as running so a callback can be told from a late one.
  ZoCoHandle create();
  void destroy();
  std::int32_t connect(ZoCoConnDesc* d);
  std::int32_t send(const void* data, std::int32_t length);
  std::int32_t flush();
  std::int32_t receive(void* buffer, std::int32_t length, std::int32_t* count);
  std::int32_t peek(void* buffer, std::int32_t length, std::int32_t* count);
  std::int32_t accept();
  std::int32_t check(ZoCoConnDesc* d);
  ZoCoHandle handle() const { return handle_; }
  ZoCoSock& conversation() { return *static_cast<ZoCoSock*>(handle_); }
  // Waits (bounded) until the conversation's socket holds n bytes to read.
  bool waitReadable(std::size_t n);
  // A problem of the current run, kept for the report of the path.
  void problem(const std::string& text);
  std::string homePath(const std::string& name) const { return home_ + "/" + name; }

  // Port of the socket the library listens on for accept (0: none yet).
  std::atomic<int> listenPort{0};

  // --- observer and tracer state (internal) ----------------------------
  void observed(Call call, std::intptr_t arg, std::intptr_t result);
  void traced(Call call, bool failed);
  std::int32_t status(ZoCoStatus* status);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the path clean, then with each of its calls failing in turn, then
  // with every call of one kind failing for good; answers the figures.
  Coverage drive(const Path& path);
  // One run: the nth call failing, or (nth 0 and a kind) every call of that
  // kind, or (neither) none.
  Outcome runOnce(const Path& path, std::uint64_t nth, int error, Call every = Call::kCount);

  void startHost();
  bool waitForThreads();

  hostsim::test::TempDir dir_;
  hostsim::test::SimProcess sim_;
  ZoCoHandle handle_ = nullptr;

 private:
  struct ExportScope;

  const Path* path_ = nullptr;
  std::mutex mutex_;
  bool recordKinds_ = false;
  std::vector<Call> kinds_;
  bool injected_ = false;
  Call injectedCall_ = Call::kCount;
  std::set<std::intptr_t> liveSockets_;
  std::intptr_t queryFd_ = -1;
  std::atomic<int> activeExports_{0};
  std::atomic<int> lateCallbacks_{0};
  std::atomic<bool> cancelArmed_{false};
  std::vector<std::string> problems_;
  std::string runLabel_;
};

// Prints one line of figures for the report.
void report(const std::string& name, const Coverage& coverage, double seconds);

}  // namespace zw::test::faults
