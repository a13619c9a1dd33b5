#include "tools/client/status.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "tools/client/os.h"

namespace zw::cli {
namespace {

constexpr int kBarWidth = 20;
// "[" bar "] " and "100%".
constexpr std::size_t kBarLength = kBarWidth + 7;

// Set from a signal handler (POSIX) or a console control handler's thread
// (Windows).
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Never destroyed, so a report during the program's end finds it.
std::mutex& outputMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

struct State {
  StatusOptions options;
  bool inPlace = false;  // the bar is redrawn on one terminal line
  bool barShown = false;
  std::uint32_t shownValue = 0;
};

State& state() {
  static State* s = new State;
  return *s;
}

void onInterrupt() { gInterrupted = true; }

std::string trimmed(const char* text) {
  std::string t = text ? text : "";
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ')) t.pop_back();
  // No terminal control reaches the screen from a message's inserts.
  for (char& c : t) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\r' || c == '\n' || c == '\t')
      c = ' ';
    else if (u < 0x20 || u == 0x7F)
      c = '?';
  }
  return t;
}

void drawBar(State& s, std::uint32_t value) {
  char bar[64];
  formatBar(value, bar, sizeof bar);
  if (s.inPlace)
    std::fprintf(s.options.out, "\r%s", bar);
  else
    std::fprintf(s.options.out, "%s\n", bar);
  s.barShown = true;
  s.shownValue = value;
}

void clearBarLine(State& s) {
  if (s.inPlace && s.barShown) os::eraseLine(s.options.out, kBarLength);
}

}  // namespace

const char* className(int messageClass) {
  switch (messageClass) {
    case ZOCO_MSG_INFO: return "information";
    case ZOCO_MSG_WARNING: return "warning";
    case ZOCO_MSG_ERROR: return "error";
    default: return "message";
  }
}

void formatBar(std::uint32_t value, char* text, std::size_t size) {
  std::uint32_t percent = value > 100 ? 100 : value;
  char bar[kBarWidth + 1];
  int filled = static_cast<int>(percent * kBarWidth / 100);
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::snprintf(text, size, "[%s] %3u%%", bar, percent);
}

void setStatusOptions(const StatusOptions& options) {
  std::lock_guard<std::mutex> lock(outputMutex());
  State& s = state();
  s.options = options;
  s.inPlace = options.progressBar && os::isTerminal(options.out);
  s.barShown = false;
  s.shownValue = 0;
}

std::int32_t ZELWIRE_CALL reportStatus(ZoCoStatus* status) {
  if (!status) return gInterrupted ? 1 : 0;
  std::lock_guard<std::mutex> lock(outputMutex());
  State& s = state();
  std::string text = trimmed(zelwireMessageText(status->message));
  if (!text.empty()) {
    clearBarLine(s);
    std::fprintf(s.options.out, "%s: %s\n", className(zelwireMessageClass(status->message)),
                 text.c_str());
    if (s.inPlace && s.barShown) drawBar(s, s.shownValue);
  }
  std::uint32_t value = status->statusValue;
  if (s.options.progressBar && value > 0 && (!s.barShown || value != s.shownValue))
    drawBar(s, value);
  std::fflush(s.options.out);
  return gInterrupted ? 1 : 0;
}

void finishStatus() {
  std::lock_guard<std::mutex> lock(outputMutex());
  State& s = state();
  if (s.inPlace && s.barShown) std::fputc('\n', s.options.out);
  s.barShown = false;
  std::fflush(s.options.out);
}

void catchInterrupt() { os::catchInterrupt(onInterrupt); }

bool interrupted() { return gInterrupted; }

}  // namespace zw::cli
