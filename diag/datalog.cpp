// The data log: hexadecimal dumps of the bytes a conversation sends and
// receives, to the service trace while it is active and to the trace file
// while the "trace" switch is exactly 1, each bounded by "DataLogLimit".
#include <cstring>
#include <vector>

#include "conversation/zoco_sock.h"
#include "diag/report.h"
#include "diag/trace.h"

namespace zw {
namespace {

constexpr std::uint32_t kServiceTraceMaxDump = 256;
// The dump text is put out in pieces of whole lines through a working buffer
// of this size; the bytes in the file are the same as if written at once.
constexpr std::size_t kDumpBufferSize = 3405;
constexpr std::size_t kDumpFlushAt = 3400;

}  // namespace

void ZoCoTransport::writeLogData(const char* text, const void* data, std::uint32_t length) {
  if (!text) text = "";
  const bool toServiceTrace = svc::traceActive();
  if (!toServiceTrace && !(traceStream_ && traceSwitch_ == 1)) return;
  std::vector<std::uint8_t> masked;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (bytes && maskStart_ && maskStart_ < bytes + length && maskStart_ + maskLength_ > bytes) {
    masked.assign(bytes, bytes + length);
    for (std::size_t i = 0; i < length; ++i)
      if (bytes + i >= maskStart_ && bytes + i < maskStart_ + maskLength_)
        masked[i] = kLogMaskFiller;
    data = masked.data();
  }
  if (toServiceTrace) logDataToServiceTrace(text, data, length);
  if (traceStream_ && traceSwitch_ == 1) dumpData(text, data, length);
}

void ZoCoTransport::logDataToServiceTrace(const char* text, const void* data,
                                          std::uint32_t length) {
  if (!data) {
    trace("LOG_DATA_DTTRC_DOIT: buffer passed in is NULL!  BUG!");
    svc::Message msg = buildMsg(1099, 0, ZOCO_MSG_ERROR);
    reportMsg(&connDesc_, 2, 0, msg);
    return;
  }
  std::uint32_t limit = readDataLogLimit();
  if (limit == 0 || limit > kServiceTraceMaxDump) limit = kServiceTraceMaxDump;
  std::uint32_t count = length < limit ? length : limit;
  svc::ServiceLine line;
  line.text("ZOCO - ").identifier(this).text(" - ").text(text).text("; len=").number(length);
  line.text("; pData=").identifier(data).text("; data=\n");
  line.dump(data, count).endDump();
}

void ZoCoTransport::dumpData(const char* text, const void* data, std::uint32_t length) const {
  writeTraceLine(text, "");
  if (!data) return;
  std::uint32_t limit = readDataLogLimit();
  std::uint32_t count = (limit != 0 && length > limit) ? limit : length;

  static const char kDigits[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  char buffer[kDumpBufferSize];
  std::size_t used = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    buffer[used++] = kDigits[bytes[i] >> 4];
    buffer[used++] = kDigits[bytes[i] & 15];
    if ((i + 1) % 16 == 0 && i + 1 != count) {
      buffer[used++] = '\r';
      buffer[used++] = '\n';
      // Put out whole lines only, so dumps of several writers never tear.
      if (used >= kDumpFlushAt - 34) {
        if (traceStream_ && traceSwitch_ == 1) plat::fileWrite(traceStream_, buffer, used);
        used = 0;
      }
    }
  }
  buffer[used++] = '\r';
  buffer[used++] = '\n';
  if (traceStream_ && traceSwitch_ == 1) plat::fileWrite(traceStream_, buffer, used);
}

}  // namespace zw
