// The service library stand-in: the library's one service trace and the
// message objects that reports are built from.
//
// Service trace.  Off until switched on.  It is switched on for a process by
// the environment variable ZELWIRE_SERVICE_TRACE naming a file (or "-" for
// standard error) when the library is loaded, and in-process with
// openServiceTrace()/closeServiceTrace().  active() is one atomic load, so
// asking it before every line costs nothing.  Each record is built in a
// ServiceLine of the calling thread and written whole when it ends, so
// records of threads running at once never mix.
//
// Record format, one line each:  <tick count> <process id> <text>
//   numbers in decimal, identifiers as lowercase hexadecimal, appended bytes
//   as two uppercase hexadecimal digits each, dumps as lines of 16 bytes in
//   hexadecimal with the printable characters beside them.
//
// Messages.  Recording a message appends it to the service log,
// "service.log" in the trace directory:
//   <local date and time> <product>/<component> <class> <number>: <text>
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "zelwire/zelwire.h"
#include "outside/cfglib.h"
#include "outside/nlsmri.h"

namespace zw::svc {

namespace detail {
// 0 until the service trace is first asked for (its sink is then built,
// honouring ZELWIRE_SERVICE_TRACE), then 1 off or 2 on.
extern std::atomic<int> gSinkState;
bool buildSinkAndAsk();
}  // namespace detail

// Asked before every trace line: one load once the sink is built.
inline bool traceActive() {
  int state = detail::gSinkState.load(std::memory_order_relaxed);
  return state == 2 || (state == 0 && detail::buildSinkAndAsk());
}
// Directs the service trace to a file ("-": standard error) and switches it
// on; false when the file cannot be opened.
bool openServiceTrace(const std::string& path);
void closeServiceTrace();

// One service trace record under construction.  A record begun while the
// service trace is off is dropped as it is built: nothing is formatted.
class ServiceLine {
 public:
  ServiceLine() = default;
  ServiceLine(ServiceLine&&) = default;
  ServiceLine& operator=(ServiceLine&&) = default;

  ServiceLine& text(const char* text);
  ServiceLine& number(std::int64_t value);
  ServiceLine& byte(std::uint8_t value);
  ServiceLine& identifier(const void* address);
  // Ends the record and writes it.
  void endLine();
  // Appends a dump of the bytes; endDump() writes the record.
  ServiceLine& dump(const void* data, std::size_t count);
  void endDump();

 private:
  bool active_ = traceActive();
  std::string line_;
};

// A service message.  It begins with the view that ReportStatus callers read
// through zelwireMessageText() and friends.
class Message {
 public:
  Message(const cfg::Identity& product, const cfg::Identity& component);
  Message(const Message& other);
  Message& operator=(const Message& other);

  void setClass(std::uint32_t messageClass) { view_.msgClass = messageClass; }
  std::uint32_t messageClass() const { return view_.msgClass; }
  std::uint32_t number() const { return view_.number; }
  // Loads the text of a message number from a message file.
  void loadText(const nlsmri::MessageFile& file, std::uint32_t number);
  void setText(const char* text);
  // Replaces every occurrence of a placeholder ("%1") in the loaded or set
  // text by the insert.  Text that came from an earlier insert is never
  // searched, so an insert holding "%2" stays as it is.
  void replaceInsert(const std::string& placeholder, const std::string& insert);
  const std::string& text() const { return text_; }
  // Keeps the message: appends it to the service log.
  void record() const;
  // The address ReportStatus receives.
  const void* address() const { return &view_; }

 private:
  void syncView() { view_.text = text_.c_str(); }

  ZoSvMessageView view_{ZOSV_MESSAGE_MAGIC, 0, 0, ""};
  const cfg::Identity* product_;
  const cfg::Identity* component_;
  std::string text_;
  std::string fromTemplate_;  // per character of text_: 1 from the text, 0 from an insert
};

}  // namespace zw::svc
