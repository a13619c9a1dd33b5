#include "outside/svclib.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/platform.h"

namespace zw::svc {
namespace {

// The values of detail::gSinkState, which traceActive() reads.
enum SinkState : int { kNotBuilt = 0, kOff = 1, kOn = 2 };
using detail::gSinkState;

// The sink of the service trace.  The mutex orders opening, closing and
// writing; `active` is the flag traceActive() reads, through gSinkState.
struct Sink {
  std::mutex mutex;
  plat::File file = nullptr;
  bool toStderr = false;
  std::atomic<bool> active{false};

  Sink() {
    gSinkState.store(kOff);
    const char* path = std::getenv("ZELWIRE_SERVICE_TRACE");
    if (path && *path) open(path);
  }
  ~Sink() { close(); }

  bool open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    closeLocked();
    if (path == "-") {
      toStderr = true;
    } else {
      file = plat::fileOpenAppend(path.c_str());
      if (!file) return false;
    }
    active.store(true);
    gSinkState.store(kOn);
    return true;
  }
  void close() {
    std::lock_guard<std::mutex> lock(mutex);
    closeLocked();
  }
  void closeLocked() {
    active.store(false);
    gSinkState.store(kOff);
    if (file) plat::fileClose(file);
    file = nullptr;
    toStderr = false;
  }
  void write(const std::string& record) {
    std::lock_guard<std::mutex> lock(mutex);
    if (file) {
      plat::fileWrite(file, record.data(), record.size());
    } else if (toStderr) {
      std::fwrite(record.data(), 1, record.size(), stderr);
      std::fflush(stderr);
    }
  }
};

Sink& sink() {
  static Sink s;
  return s;
}

void appendHexByte(std::string& out, std::uint8_t b) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += kDigits[b >> 4];
  out += kDigits[b & 15];
}

std::string recordPrefix() {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%u %u ", plat::getTickCount(), plat::getCurrentProcessId());
  return buf;
}

}  // namespace

namespace detail {
constinit std::atomic<int> gSinkState{kNotBuilt};
bool buildSinkAndAsk() { return sink().active.load(std::memory_order_relaxed); }
}  // namespace detail

bool openServiceTrace(const std::string& path) { return sink().open(path); }
void closeServiceTrace() { sink().close(); }

ServiceLine& ServiceLine::text(const char* text) {
  if (active_ && text) line_ += text;
  return *this;
}

ServiceLine& ServiceLine::number(std::int64_t value) {
  if (active_) line_ += std::to_string(value);
  return *this;
}

ServiceLine& ServiceLine::byte(std::uint8_t value) {
  if (!active_) return *this;
  appendHexByte(line_, value);
  line_ += ' ';
  return *this;
}

ServiceLine& ServiceLine::identifier(const void* address) {
  if (!active_) return *this;
  char buf[2 * sizeof(void*) + 1];
  std::snprintf(buf, sizeof buf, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
  line_ += buf;
  return *this;
}

void ServiceLine::endLine() {
  if (!active_) return;
  std::string record = recordPrefix();
  record += line_;
  record += '\n';
  line_.clear();
  sink().write(record);
}

ServiceLine& ServiceLine::dump(const void* data, std::size_t count) {
  const auto* bytes = active_ ? static_cast<const std::uint8_t*>(data) : nullptr;
  for (std::size_t row = 0; bytes && row < count; row += 16) {
    line_ += "\n    ";
    std::size_t n = count - row < 16 ? count - row : 16;
    for (std::size_t i = 0; i < 16; ++i) {
      if (i < n) {
        appendHexByte(line_, bytes[row + i]);
        line_ += ' ';
      } else {
        line_ += "   ";
      }
    }
    line_ += ' ';
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t c = bytes[row + i];
      line_ += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    }
  }
  return *this;
}

void ServiceLine::endDump() { endLine(); }

Message::Message(const cfg::Identity& product, const cfg::Identity& component)
    : product_(&product), component_(&component) {
  syncView();
}

Message::Message(const Message& other)
    : view_(other.view_),
      product_(other.product_),
      component_(other.component_),
      text_(other.text_),
      fromTemplate_(other.fromTemplate_) {
  syncView();
}

Message& Message::operator=(const Message& other) {
  if (this != &other) {
    view_ = other.view_;
    product_ = other.product_;
    component_ = other.component_;
    text_ = other.text_;
    fromTemplate_ = other.fromTemplate_;
    syncView();
  }
  return *this;
}

void Message::loadText(const nlsmri::MessageFile& file, std::uint32_t number) {
  view_.number = number;
  setText(file.text(number));
}

void Message::setText(const char* text) {
  text_ = text ? text : "";
  fromTemplate_.assign(text_.size(), 1);
  syncView();
}

void Message::replaceInsert(const std::string& placeholder, const std::string& insert) {
  if (placeholder.empty()) return;
  std::size_t pos = 0;
  while ((pos = text_.find(placeholder, pos)) != std::string::npos) {
    bool fromText = true;
    for (std::size_t i = pos; i < pos + placeholder.size(); ++i) fromText = fromText && fromTemplate_[i];
    if (!fromText) {
      ++pos;
      continue;
    }
    text_.replace(pos, placeholder.size(), insert);
    fromTemplate_.replace(pos, placeholder.size(), insert.size(), 0);
    pos += insert.size();
  }
  syncView();
}

void Message::record() const {
  static const char* const kClasses[] = {"information", "warning", "error"};
  plat::SystemTime t;
  plat::getLocalTime(&t);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string line = stamp;
  line += product_->name + "/" + component_->name + " ";
  line += view_.msgClass < 3 ? kClasses[view_.msgClass] : "unknown";
  line += ' ';
  line += std::to_string(view_.number);
  line += ": ";
  // A text of several lines stays one record of the log.
  for (char c : text_) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  std::string path = cfg::traceDirectory();
  path += plat::kPathSeparator;
  path += "service.log";
  if (plat::File f = plat::fileOpenAppend(path.c_str())) {
    plat::fileWrite(f, line.data(), line.size());
    plat::fileClose(f);
  }
}

}  // namespace zw::svc
