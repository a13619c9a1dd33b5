#include "diag/trace.h"

#include <cstdio>
#include <cstring>
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

// Text mode on disk: every newline becomes carriage return and line feed.
void appendTextMode(std::string& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') out += '\r';
    out += *p;
  }
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
// in hexadecimal, "] ", the text and the writer's tail, then a newline.
void ZoCoTransport::writeTraceLine(const char* text, const char* tail) const {
  if (!traceStream_) return;
  char head[48];
  int n = std::snprintf(head, sizeof head, "%u> [%llx] ", plat::getTickCount(),
                        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)));
  std::string line;
  line.reserve(static_cast<std::size_t>(n) + std::strlen(text) + 40);
  line.append(head, static_cast<std::size_t>(n));
  appendTextMode(line, text);
  line += tail;
  line += "\r\n";
  plat::fileWrite(traceStream_, line.data(), line.size());
}

void ZoCoTransport::trace(const char* text) const {
  if (!text) text = "";
  if (svc::traceActive()) {
    svc::ServiceLine line;
    line.text("ZOCO - ").identifier(this).text(" - ").text(text).endLine();
  }
  writeTraceLine(text, "");
}

void ZoCoTransport::traceRc(const char* text, std::int32_t code) const {
  if (!text) text = "";
  if (svc::traceActive()) {
    svc::ServiceLine line;
    line.text("ZOCO - ").identifier(this).text(" - ").text(text).number(code).endLine();
  }
  char tail[32];
  std::snprintf(tail, sizeof tail, "; errRC = %d", code);
  writeTraceLine(text, tail);
}

void ZoCoTransport::traceValue(const char* text, std::int32_t value) const {
  if (!text) text = "";
  if (svc::traceActive()) {
    svc::ServiceLine line;
    line.text("ZOCO - ").identifier(this).text(" - ").text(text).number(value).endLine();
  }
  char tail[16];
  std::snprintf(tail, sizeof tail, " %d", value);
  writeTraceLine(text, tail);
}

}  // namespace zw
