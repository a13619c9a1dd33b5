#include "tools/client/trace_reader.h"

#include <cstdio>
#include <map>

#include "tools/client/datastreams.h"
#include "tools/client/hex.h"

namespace zw::cli {
namespace {

constexpr std::string_view kSendLabels[] = {"Send Data, IP:", "Send Data, IPX:"};
constexpr std::string_view kReceiveLabel = "Received Data:";
constexpr std::string_view kLocalNameLabels[] = {"ipGetLocalName:", "ipxGetLocalName:"};
constexpr std::string_view kSendLengthPrefixes[] = {"Send Data, IP, length: ",
                                                    "Send Data, IPX, length: "};
constexpr std::size_t kDumpDigitsPerLine = 32;
constexpr std::size_t kStrayShown = 20;
constexpr std::size_t kStrayWidth = 120;

bool isSendLabel(std::string_view text) { return text == kSendLabels[0] || text == kSendLabels[1]; }
bool isLocalNameLabel(std::string_view text) {
  return text == kLocalNameLabels[0] || text == kLocalNameLabels[1];
}
bool isDumpLabel(std::string_view text) {
  return isSendLabel(text) || text == kReceiveLabel || isLocalNameLabel(text);
}

// "<tick>> [<id>] <text>"; the text may be empty.
bool parseLine(std::string_view line, std::uint32_t* tick, std::string* id, std::string* text) {
  std::size_t i = 0;
  std::uint64_t value = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    value = value * 10 + static_cast<std::uint64_t>(line[i] - '0');
    if (value > 0xFFFFFFFFull) return false;
    ++i;
  }
  if (i == 0 || line.substr(i, 3) != "> [") return false;
  i += 3;
  std::size_t idStart = i;
  while (i < line.size() &&
         ((line[i] >= '0' && line[i] <= '9') || (line[i] >= 'a' && line[i] <= 'f')))
    ++i;
  if (i == idStart || i - idStart > 16 || line.substr(i, 2) != "] ") return false;
  *tick = static_cast<std::uint32_t>(value);
  *id = std::string(line.substr(idStart, i - idStart));
  *text = std::string(line.substr(i + 2));
  return true;
}

// A row of a dump: uppercase digit pairs, at most 16 bytes.
bool isDumpRow(std::string_view line) {
  if (line.empty() || line.size() % 2 != 0 || line.size() > kDumpDigitsPerLine) return false;
  for (char c : line)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

std::int64_t sendLength(std::string_view text) {
  for (std::string_view prefix : kSendLengthPrefixes) {
    if (text.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = text.substr(prefix.size());
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty() || rest.size() > 10) return -1;
    std::int64_t v = 0;
    for (char c : rest) {
      if (c < '0' || c > '9') return -1;
      v = v * 10 + (c - '0');
    }
    return v;
  }
  return -1;
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", u);
      out += escape;
    }
  }
  return out;
}

struct Parser {
  TraceFile file;
  std::map<std::string, std::size_t> current;  // id -> conversation index
  std::map<std::string, bool> disconnected;    // id -> its destroy was seen
  std::map<std::string, std::int64_t> pendingSendLength;
  TraceEntry* dump = nullptr;  // the dump being read
  bool dumpRowsEnded = false;  // its short last row was read

  TraceConversation& conversationFor(const std::string& id, const std::string& text) {
    auto it = current.find(id);
    bool starts = text == "WINSOCK connect: Entry" || text == "WINSOCK accept: Entry";
    if (it == current.end() || (starts && disconnected[id])) {
      file.conversations.push_back({id, {}});
      current[id] = file.conversations.size() - 1;
      disconnected[id] = false;
      return file.conversations.back();
    }
    return file.conversations[it->second];
  }

  void line(std::size_t number, std::string_view raw) {
    if (dump && !dumpRowsEnded && isDumpRow(raw)) {
      for (std::size_t i = 0; i < raw.size(); i += 2)
        dump->bytes.push_back(
            static_cast<std::uint8_t>(hexDigitValue(raw[i]) << 4 | hexDigitValue(raw[i + 1])));
      // A short row is the dump's last.
      if (raw.size() < kDumpDigitsPerLine) dumpRowsEnded = true;
      return;
    }
    dump = nullptr;
    if (raw.empty()) return;  // after a text ending in a newline, or an empty dump
    std::uint32_t tick = 0;
    std::string id, text;
    if (!parseLine(raw, &tick, &id, &text)) {
      file.stray.push_back({number, std::string(raw)});
      return;
    }
    TraceConversation& conversation = conversationFor(id, text);
    TraceEntry entry;
    entry.lineNumber = number;
    entry.tick = tick;
    entry.text = text;
    entry.isDump = isDumpLabel(text);
    if (isSendLabel(text)) {
      auto pending = pendingSendLength.find(id);
      if (pending != pendingSendLength.end()) {
        entry.sentLength = pending->second;
        pendingSendLength.erase(pending);
      }
    }
    std::int64_t length = sendLength(text);
    if (length >= 0) pendingSendLength[id] = length;
    if (text == "WINSOCK disconnect: Exit") disconnected[id] = true;
    conversation.entries.push_back(std::move(entry));
    if (conversation.entries.back().isDump) {
      dump = &conversation.entries.back();
      dumpRowsEnded = false;
    }
  }
};

std::string bytesWord(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

class Renderer {
 public:
  explicit Renderer(std::string* out) : out_(*out) {}

  void conversation(const TraceConversation& c, bool again) {
    const TraceEntry& first = c.entries.front();
    const TraceEntry& last = c.entries.back();
    out_ += "conversation " + c.id + (again ? ", again" : "") + " (lines " +
            std::to_string(first.lineNumber) + " to " + std::to_string(last.lineNumber) + ", " +
            relativeTime(first.tick, last.tick).substr(1) + " s)\n";
    step_ = SignonStep::none;
    pending_.clear();
    pieces_ = 0;
    for (const TraceEntry& e : c.entries) entry(first.tick, e);
    out_ += "\n";
  }

 private:
  void put(const std::string& time, const std::string& text) {
    char column[16];
    std::snprintf(column, sizeof column, "%10s", time.c_str());
    out_ += column;
    out_ += "  " + text + "\n";
  }
  void detail(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) out_ += std::string(14, ' ') + l + "\n";
  }

  void entry(std::uint32_t firstTick, const TraceEntry& e) {
    std::string time = relativeTime(firstTick, e.tick);
    std::string text = printable(e.text);
    if (!e.isDump) {
      put(time, text);
      stepChange(e.text);
      return;
    }
    std::size_t n = e.bytes.size();
    if (isSendLabel(e.text)) {
      std::string head = text + " " + bytesWord(n) + " sent";
      if (e.sentLength > static_cast<std::int64_t>(n))
        head = text + " " + std::to_string(e.sentLength) +
               " bytes sent, the dump shows the first " + std::to_string(n) + " (DataLogLimit)";
      put(time, head);
      detail(decodeDatastreams(Direction::sent, step_, e.bytes.data(), n));
    } else if (e.text == kReceiveLabel) {
      put(time, text + " " + bytesWord(n) + " received");
      received(e.bytes);
    } else {
      put(time, text + " " + bytesWord(n));
      detail(decodeLocalAddress(e.bytes.data(), n));
    }
  }

  // A sign-on reply may come in pieces: they are decoded together.
  void received(const std::vector<std::uint8_t>& bytes) {
    if (step_ == SignonStep::none) {
      detail(decodeDatastreams(Direction::received, step_, bytes.data(), bytes.size()));
      return;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    ++pieces_;
    std::size_t expected = expectedReplyLength(step_, pending_.data(), pending_.size());
    if (pending_.size() < expected) {
      detail({std::to_string(pending_.size()) + " of " + std::to_string(expected) +
              " bytes of the reply so far; decoded once it is complete"});
      return;
    }
    flushReply();
  }

  void flushReply() {
    if (pending_.empty()) return;
    std::vector<std::string> lines;
    if (pieces_ > 1) lines.push_back("the reply came in " + std::to_string(pieces_) + " pieces:");
    std::vector<std::string> decoded =
        decodeDatastreams(Direction::received, step_, pending_.data(), pending_.size());
    lines.insert(lines.end(), decoded.begin(), decoded.end());
    detail(lines);
    pending_.clear();
    pieces_ = 0;
  }

  void stepChange(const std::string& text) {
    if (text == "WINSOCK XchangeHostSeed: Entry") {
      step_ = SignonStep::seedExchange;
    } else if (text == "WINSOCK startServer: Entry") {
      step_ = SignonStep::startServer;
    } else if (text == "WINSOCK XchangeHostSeed: Exit" || text == "WINSOCK startServer: Exit") {
      if (!pending_.empty()) {
        detail({"the step ended before its reply was complete:"});
        flushReply();
      }
      step_ = SignonStep::none;
    }
  }

  std::string& out_;
  SignonStep step_ = SignonStep::none;
  std::vector<std::uint8_t> pending_;
  int pieces_ = 0;
};

}  // namespace

std::string relativeTime(std::uint32_t first, std::uint32_t tick) {
  std::uint32_t ms = tick - first;
  char text[24];
  std::snprintf(text, sizeof text, "+%u.%03u", ms / 1000, ms % 1000);
  return text;
}

TraceFile parseTrace(std::string_view text) {
  Parser parser;
  std::size_t start = 0;
  std::size_t number = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    parser.line(++number, raw);
    start = next;
  }
  parser.file.lineCount = number;
  return std::move(parser.file);
}

std::string renderTrace(const TraceFile& trace, const RenderOptions& options) {
  std::string out;
  std::vector<std::size_t> chosen;
  std::string wanted;
  for (char c : options.conversation)
    wanted.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c);
  for (std::size_t i = 0; i < trace.conversations.size(); ++i)
    if (wanted.empty() || trace.conversations[i].id == wanted) chosen.push_back(i);
  if (options.lastOnly && chosen.size() > 1) chosen.erase(chosen.begin(), chosen.end() - 1);

  if (chosen.empty()) {
    out += wanted.empty()
               ? "no conversation in the trace\n"
               : "no conversation " + printable(options.conversation) + " in the trace\n";
  }
  Renderer renderer(&out);
  std::map<std::string, int> seen;
  for (std::size_t i = 0; i < trace.conversations.size(); ++i) {
    const TraceConversation& c = trace.conversations[i];
    bool again = seen[c.id]++ > 0;
    bool show = false;
    for (std::size_t k : chosen) show = show || k == i;
    if (show) renderer.conversation(c, again);
  }
  if (!trace.stray.empty()) {
    out += std::to_string(trace.stray.size()) +
           (trace.stray.size() == 1 ? " line is" : " lines are") + " not in the trace's format:\n";
    for (std::size_t i = 0; i < trace.stray.size() && i < kStrayShown; ++i) {
      std::string text = printable(trace.stray[i].text);
      if (text.size() > kStrayWidth) text = text.substr(0, kStrayWidth) + "...";
      out += "  line " + std::to_string(trace.stray[i].lineNumber) + ": " + text + "\n";
    }
    if (trace.stray.size() > kStrayShown)
      out += "  ... and " + std::to_string(trace.stray.size() - kStrayShown) + " more\n";
  }
  return out;
}

}  // namespace zw::cli
