// Several processes at once on one home folder: eight appending to the one
// trace file and the service log, eight writing cached addresses into the
// one registry file, and a writer killed at random moments in the middle of
// its registry writes.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/regfile.h"
#include "tests/support/support.h"

namespace zw::test {
namespace {

constexpr int kProcesses = 8;

bool stressRun() {
  const char* v = std::getenv("ZW_STRESS");
  return v && *v && std::string(v) != "0";
}

pid_t spawnChild(const std::vector<std::string>& args) {
  std::vector<std::string> store = {STRESS_CHILD_PATH};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int waitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs kProcesses children with these arguments (the id in between) at
// once; answers their exit codes.
std::vector<int> runAll(const std::string& mode, int count) {
  std::vector<pid_t> pids;
  for (int id = 0; id < kProcesses; ++id)
    pids.push_back(spawnChild({mode, std::to_string(id), std::to_string(count)}));
  std::vector<int> codes;
  for (pid_t pid : pids) codes.push_back(waitChild(pid));
  return codes;
}

std::vector<std::string> splitLines(const std::string& text, const std::string& end) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t at = text.find(end, start);
    if (at == std::string::npos) {
      lines.push_back(text.substr(start));  // no line end: torn
      break;
    }
    lines.push_back(text.substr(start, at - start));
    start = at + end.size();
  }
  return lines;
}

std::string decodeHex(const std::string& digits) {
  std::string out;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return out;
}

ino_t inodeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ProcessesTest : public HomeTest {};

TEST_F(ProcessesTest, EightProcessesAppendingLoseAndTearNoLine) {
  const int sends = stressRun() ? 5000 : 300;
  setTraceSwitch(1);
  ASSERT_EQ(runAll("trace", sends), std::vector<int>(kProcesses, 0));

  // Every line whole: a trace line of a known text, a dump row of one
  // payload, or the empty line after an exit text.
  const std::string text = traceText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::regex traceLine(R"(\d+> \[[0-9a-f]+\] (.*))");
  const std::regex dumpRow("[0-9A-F]{32}");
  std::map<std::string, int> texts;
  std::map<std::string, int> payloads;
  int torn = 0;
  for (const std::string& line : splitLines(text, "\r\n")) {
    std::smatch m;
    if (line.empty()) {
      ++texts[""];
    } else if (std::regex_match(line, m, traceLine)) {
      ++texts[m[1]];
    } else if (std::regex_match(line, dumpRow)) {
      ++payloads[decodeHex(line)];
    } else if (++torn <= 5) {
      ADD_FAILURE() << "torn line: " << line;
    }
  }
  EXPECT_EQ(torn, 0);
  const int all = kProcesses * sends;
  for (const char* expected : {"WINSOCK send: Entry", "WINSOCK send: Exit",
                               "Send Data, IPX:", "Send Data, IPX, length:  16"})
    EXPECT_EQ(texts[expected], all) << expected;
  // Each exit text ends in a line feed: one empty line per send and per
  // disconnect.
  // (Destroy disconnects, and so does the conversation's destructor.)
  EXPECT_EQ(texts[""], all + 2 * kProcesses);
  EXPECT_EQ(texts["WINSOCK disconnect: Entry"], 2 * kProcesses);
  EXPECT_EQ(payloads.size(), static_cast<std::size_t>(all));
  for (int id = 0; id < kProcesses; ++id) {
    for (int seq = 0; seq < sends; seq += sends / 10) {
      char p[17];
      std::snprintf(p, sizeof p, "p%02d-%012d", id, seq);
      EXPECT_EQ(payloads[std::string(p, 16)], 1) << p;
    }
  }

  // The failed sends are reported: one whole record each in the service log.
  const std::regex record(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Varnilo/Communication error 1003: .*)");
  int records = 0, bad = 0;
  for (const std::string& line : splitLines(readFile(home() + "/service.log"), "\n")) {
    if (std::regex_match(line, record))
      ++records;
    else if (++bad <= 5)
      ADD_FAILURE() << "torn record: " << line;
  }
  EXPECT_EQ(records, all);
}

// The registry text as the writers leave it: what a parse reads back and
// writes out again is the text itself, so no line is torn or half written.
void expectWellFormed(const std::string& text) {
  ASSERT_EQ(text.rfind("REGEDIT4\n", 0), 0u) << text.substr(0, 200);
  EXPECT_EQ(plat::reg::format(plat::reg::parse(text)), text);
}

const plat::reg::Value* findValue(plat::reg::Document& doc, const std::string& key,
                                  const std::string& name) {
  plat::reg::Key* k = doc.find(key);
  return k ? k->find(name) : nullptr;
}

const std::string kSystems =
    "HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\";

TEST_F(ProcessesTest, EightProcessesCachingAddressesLoseNoUpdate) {
  const int writes = stressRun() ? 150 : 40;
  // Each process reads every value back at once: a 1 here is a lost update.
  ASSERT_EQ(runAll("cache", writes), std::vector<int>(kProcesses, 0));

  const std::string text = readFile(home() + "/registry.reg");
  expectWellFormed(text);
  plat::reg::Document doc = plat::reg::parse(text);
  int missing = 0;
  for (int id = 0; id < kProcesses; ++id) {
    const std::string key = kSystems + "SYS" + std::to_string(id);
    for (int k = 0; k < writes; ++k) {
      const std::string address = "127." + std::to_string(id) + "." + std::to_string(k / 256) +
                                  "." + std::to_string(k % 256);
      const std::uint32_t network = static_cast<std::uint32_t>(id) << 16 | (k + 1);
      const plat::reg::Value* ip = findValue(doc, key, "IPAddr:S" + std::to_string(k));
      const plat::reg::Value* ipx = findValue(doc, key, "IPXAddr:S" + std::to_string(k));
      const bool ipGood = ip && std::string(ip->data.begin(), ip->data.end()) == address + '\0';
      const bool ipxGood =
          ipx && ipx->data.size() == 4 && std::memcmp(ipx->data.data(), &network, 4) == 0;
      if ((!ipGood || !ipxGood) && ++missing <= 5)
        ADD_FAILURE() << "SYS" << id << " scope S" << k << " lost";
    }
  }
  EXPECT_EQ(missing, 0);
}

TEST_F(ProcessesTest, WriterKilledMidWriteLeavesTheOldOrTheNewFile) {
  const int kills = stressRun() ? 300 : 30;
  // A large registry, so a write takes long enough to be cut in the middle.
  std::string body;
  for (int i = 0; i < 400; ++i) {
    body += "[" + kSystems + "PAD" + std::to_string(i) + "]\n";
    for (int v = 0; v < 6; ++v)
      body += "\"IPAddr:scope" + std::to_string(v) + "\"=\"127.0." + std::to_string(i % 256) + "." +
              std::to_string(v) + "\"\n";
    body += "\n";
  }
  body += "[" + kSystems + "KILLME]\n\"IPAddr\"=\"127.0.0.1\"\n";
  writeRegistry(body);
  const std::string path = home() + "/registry.reg";

  std::mt19937 random(12345);
  std::map<std::string, int> seen;
  for (int round = 0; round < kills; ++round) {
    SCOPED_TRACE(round);
    // Killed at a random moment once its writes are under way (each write
    // puts a new file in place, so the first one shows as a new inode).
    const ino_t before = inodeOf(path);
    pid_t pid = spawnChild({"rewrite"});
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 10000 && inodeOf(path) == before; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(waitChild(pid), -1);

    const std::string text = readFile(path);
    expectWellFormed(text);
    plat::reg::Document doc = plat::reg::parse(text);
    const plat::reg::Value* v = findValue(doc, kSystems + "KILLME", "IPAddr");
    ASSERT_NE(v, nullptr);
    const std::string value(v->data.begin(), v->data.end());
    EXPECT_TRUE(value == std::string("127.0.0.1") + '\0' ||
                value == std::string("127.0.0.2") + '\0')
        << value;
    ++seen[value];
    // Nothing else changed: the text is the starting one with either value.
    EXPECT_EQ(doc.keys.size(), 401u);
    if (HasFailure()) break;
  }
  RecordProperty("old value kept", seen[std::string("127.0.0.1") + '\0']);
  RecordProperty("new value kept", seen[std::string("127.0.0.2") + '\0']);
  // A killed writer leaves at most the temporary file behind (the lock is
  // the system's and went with the process), and the next write takes it
  // over: none is left once a writer has finished.
  auto leftovers = [&] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home()))
      count += entry.path().filename().string().rfind("registry.reg.tmp", 0) == 0;
    return count;
  };
  EXPECT_LE(leftovers(), 1);
  pid_t pid = spawnChild({"cache", "999", "1"});
  ASSERT_GT(pid, 0);
  ASSERT_EQ(waitChild(pid), 0);
  EXPECT_EQ(leftovers(), 0);
}

}  // namespace
}  // namespace zw::test
