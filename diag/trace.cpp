#include "diag/trace.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "conversation/zoco_sock.h"
#include "outside/cfglib.h"
#include "platform/platform.h"

namespace zw {
namespace {

std::uint32_t readDword(const char* name, std::uint32_t fallback) {
  plat::RegKey key = nullptr;
  if (plat::regOpenKey(plat::RegRoot::CurrentUser, kCommunicationKey, &key) != plat::kErrorSuccess)
    return fallback;
  std::uint32_t type = 0, value = 0, length = sizeof value;
  long rc = plat::regQueryValue(key, name, &type, &value, &length);
  plat::regCloseKey(key);
  if (rc != plat::kErrorSuccess || type != plat::kRegDword || length != sizeof value)
    return fallback;
  return value;
}

// Lines up to this size are built on the stack; only a longer text takes
// the heap.
constexpr std::size_t kStackLineSize = 512;

// Writes the decimal digits of value so that they end at `end`; answers
// where they begin.
char* decimalBefore(char* end, std::uint64_t value) {
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return end;
}

// The same in lowercase hexadecimal, without prefix or leading zeros.
char* hexBefore(char* end, std::uint64_t value) {
  static const char kDigits[] = "0123456789abcdef";
  do {
    *--end = kDigits[value & 15];
    value >>= 4;
  } while (value != 0);
  return end;
}

// A signed decimal number, as "%d" gives it, ending at `end`.
char* signedBefore(char* end, std::int32_t value) {
  auto magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                             : static_cast<std::uint64_t>(value);
  char* start = decimalBefore(end, magnitude);
  if (value < 0) *--start = '-';
  return start;
}

char* put(char* out, const char* text, std::size_t length) {
  std::memcpy(out, text, length);
  return out + length;
}

}  // namespace

std::uint32_t readTraceSwitch() { return readDword("trace", 0); }
std::uint32_t readDataLogLimit() { return readDword("DataLogLimit", 128); }

svc::ServiceLine libTrace(const ZoCoConnDesc* desc) {
  svc::ServiceLine line;
  line.text("ZOCO - ").identifier(desc ? desc->owner : nullptr);
  return line;
}

ZoCoTransport::ZoCoTransport() {
  std::memset(&connDesc_, 0, sizeof connDesc_);
  openConversationTrace();
}

ZoCoTransport::~ZoCoTransport() {
  if (traceStream_) plat::fileClose(traceStream_);
}

void ZoCoTransport::openConversationTrace() {
  traceStream_ = nullptr;
  traceSwitch_ = readTraceSwitch();
  if (traceSwitch_ == 0) return;
  std::string path = cfg::traceDirectory();
  if (path.empty() || path.back() != plat::kPathSeparator) path += plat::kPathSeparator;
  path += kTraceFileName;
  traceStream_ = plat::fileOpenAppend(path.c_str());
  if (!traceStream_) {
    std::printf("Cannot create trace file '%s'\n", path.c_str());
    std::fflush(stdout);
  }
}

// One trace file line, written whole: tick count, "> [", this conversation
// in hexadecimal, "] ", the text and the writer's tail (tailText, then the
// number when there is one), then a newline.  The file is in text mode on
// disk: every newline becomes carriage return and line feed.
void ZoCoTransport::writeTraceLine(const char* text, const char* tailText,
                                   const std::int32_t* tailNumber) const {
  if (!traceStream_) return;
  char tick[12], address[2 * sizeof(std::uintptr_t)], number[12];
  const char* tickStart = decimalBefore(tick + sizeof tick, plat::getTickCount());
  const char* addressStart =
      hexBefore(address + sizeof address, reinterpret_cast<std::uintptr_t>(this));
  const char* numberStart = tailNumber ? signedBefore(number + sizeof number, *tailNumber)
                                       : number + sizeof number;
  auto tickLength = static_cast<std::size_t>(tick + sizeof tick - tickStart);
  auto addressLength = static_cast<std::size_t>(address + sizeof address - addressStart);
  auto numberLength = static_cast<std::size_t>(number + sizeof number - numberStart);
  std::size_t textLength = 0, newlines = 0;
  for (const char* p = text; *p; ++p, ++textLength)
    if (*p == '\n') ++newlines;
  std::size_t tailLength = std::strlen(tailText);
  std::size_t total = tickLength + 3 + addressLength + 2 + textLength + newlines + tailLength +
                      numberLength + 2;

  char stackLine[kStackLineSize];
  std::unique_ptr<char[]> heapLine;
  char* line = stackLine;
  if (total > sizeof stackLine) {
    heapLine.reset(new (std::nothrow) char[total]);
    if (!heapLine) return;  // a lost line never reaches the caller
    line = heapLine.get();
  }
  char* out = put(line, tickStart, tickLength);
  out = put(out, "> [", 3);
  out = put(out, addressStart, addressLength);
  out = put(out, "] ", 2);
  if (newlines == 0) {
    out = put(out, text, textLength);
  } else {
    for (const char* p = text; *p; ++p) {
      if (*p == '\n') *out++ = '\r';
      *out++ = *p;
    }
  }
  out = put(out, tailText, tailLength);
  out = put(out, numberStart, numberLength);
  out = put(out, "\r\n", 2);
  plat::fileWrite(traceStream_, line, total);
}

// The writers proper, reached when there is a sink: nothing is formatted
// for a sink that is not there.
void ZoCoTransport::writeTrace(const char* text) const {
  if (!text) text = "";
  if (svc::traceActive()) {
    svc::ServiceLine line;
    line.text("ZOCO - ").identifier(this).text(" - ").text(text).endLine();
  }
  if (traceStream_) writeTraceLine(text, "", nullptr);
}

void ZoCoTransport::writeTraceRc(const char* text, std::int32_t code) const {
  if (!text) text = "";
  if (svc::traceActive()) {
    svc::ServiceLine line;
    line.text("ZOCO - ").identifier(this).text(" - ").text(text).number(code).endLine();
  }
  if (traceStream_) writeTraceLine(text, "; errRC = ", &code);
}

void ZoCoTransport::writeTraceValue(const char* text, std::int32_t value) const {
  if (!text) text = "";
  if (svc::traceActive()) {
    svc::ServiceLine line;
    line.text("ZOCO - ").identifier(this).text(" - ").text(text).number(value).endLine();
  }
  if (traceStream_) writeTraceLine(text, " ", &value);
}

}  // namespace zw
