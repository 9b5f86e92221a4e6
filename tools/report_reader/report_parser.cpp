#include "tools/report_reader/report_parser.h"

#include <cctype>
#include <cstring>

#include "app/log_texts.h"

namespace reader {

namespace {

// A text of the table without its own line feed, as it stands on its line.
std::string Bare(const char* text) {
  std::string bare(text);
  if (!bare.empty() && bare.back() == '\n') bare.pop_back();
  return bare;
}

// The part of a format before its first directive.
std::string Head(const char* format) {
  const std::string text(format);
  return text.substr(0, text.find('%'));
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Digits only, at most 19 of them (so the value fits).
bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "90 3C 64": three bytes of one or two hex digits, one blank apart.
bool ParseThreeBytes(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  size_t at = 0;
  for (int index = 0; index < 3; ++index) {
    if (index > 0) {
      if (at >= text.size() || text[at] != ' ') return false;
      ++at;
    }
    int value = 0;
    size_t digits = 0;
    while (at < text.size() && digits < 3 && HexDigit(text[at]) >= 0) {
      value = value * 16 + HexDigit(text[at]);
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 2) return false;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return at == text.size();
}

// "0.000303": digits, a point, digits.
bool IsDecimal(const std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos || point == 0 || point + 1 == text.size()) return false;
  for (size_t at = 0; at < text.size(); ++at) {
    if (at != point && !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
  }
  return true;
}

// A hex dump, "{ 0xF0, 0x7E, 0xF7,};", with any white space in it (a mail
// program's wrapping adds some and takes some away).
bool ParseDump(const std::string& text, std::vector<uint8_t>& bytes) {
  std::string packed;
  for (const char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) packed += c;
  }
  if (packed.size() < 3 || packed.front() != '{' || !EndsWith(packed, "};")) return false;
  bytes.clear();
  size_t at = 1;
  const size_t end = packed.size() - 2;
  while (at < end) {
    if (at + 5 > end || packed[at] != '0' || packed[at + 1] != 'x' || packed[at + 4] != ',') return false;
    const int high = HexDigit(packed[at + 2]);
    const int low = HexDigit(packed[at + 3]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    at += 5;
  }
  return true;
}

// The texts that can follow one that ends no line ("Updated device name:
// %s", "Bad response, no device name.") on the same line.
const std::vector<std::string>& LineStarts() {
  static const std::vector<std::string> kStarts = {
      Bare(logtext::kPortOpened),
      Bare(logtext::kPortClosed),
      Bare(logtext::kBrokenShortMessage),
      Bare(logtext::kBrokenLongMessage),
      Head(logtext::kShortMessage),
      logtext::kSysExReceived,
      Head(logtext::kSysExTooLong),
      Bare(logtext::kOpenFailed),
      Head(logtext::kDeviceFound),
      Bare(logtext::kSendFailed),
      logtext::kIdentityRequest,
      logtext::kIdentityReply,
      logtext::kNoDeviceName,
      Head(logtext::kDeviceRenamed),
      Bare(logtext::kSceneGood),
      Bare(logtext::kSceneBad),
      Bare(logtext::kUploadSucceeded),
      Bare(logtext::kUploadFailed),
      Head(logtext::kStopwatch),
      Head(logtext::kGaveUp),
      "MMSYSERR_",
      Head(logtext::kUnknownErrorCode),
  };
  return kStarts;
}

class Parser {
 public:
  // Parses one line's text (perhaps joined from several) into entries;
  // false when any of it is not understood. dumpPending: the text ended
  // with the SysEx heading, whose dump follows on the next lines.
  bool ParseText(const std::string& text, size_t line, std::vector<Entry>& out, bool& dumpPending) const {
    dumpPending = false;
    if (text.empty()) return true;
    Entry entry;
    entry.line = line;
    const auto simple = [&](Kind kind) {
      entry.kind = kind;
      if (entry.text.empty()) entry.text = text;
      out.push_back(entry);
      return true;
    };
    for (const auto& [kind, texts] : Exact()) {
      if (text == texts) return simple(kind);
    }
    if (text == logtext::kSysExReceived) {
      entry.kind = Kind::SysEx;
      out.push_back(entry);
      dumpPending = true;
      return true;
    }
    for (const char* failure : {logtext::kBadDeviceId, logtext::kAlreadyInUse, logtext::kNoMemory,
                                logtext::kInvalidFlag, logtext::kInvalidParameter}) {
      if (text == Bare(failure)) {
        entry.text = text;
        return simple(Kind::OpenFailure);
      }
    }
    if (StartsWith(text, Head(logtext::kShortMessage))) {
      if (!ParseThreeBytes(text.substr(Head(logtext::kShortMessage).size()), entry.bytes)) return false;
      return simple(Kind::ShortMessage);
    }
    if (StartsWith(text, Head(logtext::kDeviceFound))) {
      entry.name = text.substr(Head(logtext::kDeviceFound).size());
      return simple(Kind::DeviceFound);
    }
    if (StartsWith(text, logtext::kNoDeviceName)) {
      entry.text = logtext::kNoDeviceName;
      simple(Kind::NoDeviceName);
      return ParseText(text.substr(std::strlen(logtext::kNoDeviceName)), line, out, dumpPending);
    }
    if (StartsWith(text, Head(logtext::kDeviceRenamed))) {
      const std::string rest = text.substr(Head(logtext::kDeviceRenamed).size());
      const size_t next = NextStart(rest);
      entry.name = rest.substr(0, next);
      entry.text = Head(logtext::kDeviceRenamed) + entry.name;
      simple(Kind::DeviceRenamed);
      return next == std::string::npos || ParseText(rest.substr(next), line, out, dumpPending);
    }
    if (ParseNumbered(text, entry)) return simple(entry.kind);
    if (ParseSummary(text, entry)) return simple(entry.kind);
    return false;
  }

 private:
  static const std::vector<std::pair<Kind, std::string>>& Exact() {
    static const std::vector<std::pair<Kind, std::string>> kExact = {
        {Kind::PortOpened, Bare(logtext::kPortOpened)},
        {Kind::PortClosed, Bare(logtext::kPortClosed)},
        {Kind::BrokenShort, Bare(logtext::kBrokenShortMessage)},
        {Kind::BrokenLong, Bare(logtext::kBrokenLongMessage)},
        {Kind::OpenFailed, Bare(logtext::kOpenFailed)},
        {Kind::SendFailed, Bare(logtext::kSendFailed)},
        {Kind::IdentityRequest, logtext::kIdentityRequest},
        {Kind::IdentityReply, logtext::kIdentityReply},
        {Kind::SceneGood, Bare(logtext::kSceneGood)},
        {Kind::SceneBad, Bare(logtext::kSceneBad)},
        {Kind::UploadSucceeded, Bare(logtext::kUploadSucceeded)},
        {Kind::UploadFailed, Bare(logtext::kUploadFailed)},
        {Kind::NoDevices, logtext::kNoDevices},
    };
    return kExact;
  }

  // Where the next logged text starts in what follows a text that ends no
  // line; npos when nothing does.
  static size_t NextStart(const std::string& rest) {
    size_t earliest = std::string::npos;
    for (const std::string& start : LineStarts()) {
      const size_t at = rest.find(start);
      if (at < earliest) earliest = at;
    }
    return earliest;
  }

  // The texts with a number in them.
  static bool ParseNumbered(const std::string& text, Entry& entry) {
    // "%llu MIDI events lost on \"%s\"."
    const std::string lostMiddle = " MIDI events lost on \"";
    const size_t middle = text.find(lostMiddle);
    if (middle != std::string::npos && EndsWith(text, "\".") && text.size() >= middle + lostMiddle.size() + 2 &&
        ParseNumber(text.substr(0, middle), entry.number)) {
      entry.kind = Kind::EventsLost;
      entry.name = text.substr(middle + lostMiddle.size(), text.size() - 2 - middle - lostMiddle.size());
      return true;
    }
    const auto between = [&text](const char* format, std::string& inside) {
      const std::string head = Head(format);
      std::string tail = std::string(format).substr(std::string(format).find('%') + 2);
      if (!tail.empty() && tail.back() == '\n') tail.pop_back();
      if (!StartsWith(text, head) || !EndsWith(text, tail) || text.size() < head.size() + tail.size()) return false;
      inside = text.substr(head.size(), text.size() - head.size() - tail.size());
      return true;
    };
    std::string inside;
    if (between(logtext::kSysExTooLong, inside) && ParseNumber(inside, entry.number)) {
      entry.kind = Kind::SysExTooLong;
      return true;
    }
    if (between(logtext::kGaveUp, inside) && ParseNumber(inside, entry.number)) {
      entry.kind = Kind::GaveUp;
      return true;
    }
    if (between(logtext::kUnknownErrorCode, inside)) {
      const bool negative = !inside.empty() && inside[0] == '-';
      if (!ParseNumber(negative ? inside.substr(1) : inside, entry.number)) return false;
      entry.kind = Kind::UnknownErrorCode;
      entry.text = inside;
      return true;
    }
    // "Run Time: %f  Interval Time: %f"
    const std::string run = Head(logtext::kStopwatch);
    const std::string interval = "  Interval Time: ";
    const size_t split = text.find(interval);
    if (StartsWith(text, run) && split != std::string::npos && IsDecimal(text.substr(run.size(), split - run.size())) &&
        IsDecimal(text.substr(split + interval.size()))) {
      entry.kind = Kind::Stopwatch;
      entry.text = text;
      return true;
    }
    return false;
  }

  // "\"NAME\"" or "\"NAME\" Supported by Veltrakon."
  static bool ParseSummary(const std::string& text, Entry& entry) {
    if (text.size() < 2 || text[0] != '"') return false;
    const std::string supported = std::string("\"") + logtext::kSupported;
    if (EndsWith(text, supported) && text.size() >= 1 + supported.size()) {
      entry.name = text.substr(1, text.size() - 1 - supported.size());
      entry.supported = true;
    } else if (text.back() == '"') {
      entry.name = text.substr(1, text.size() - 2);
      entry.supported = false;
    } else {
      return false;
    }
    entry.kind = Kind::SummaryDevice;
    return true;
  }
};

// The pasted text's lines: either line end, quote marks ("> ", any depth) off.
std::vector<std::string> SplitLines(const std::string& pasted) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= pasted.size()) {
    size_t end = pasted.find('\n', at);
    if (end == std::string::npos) end = pasted.size();
    std::string line = pasted.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t quote = 0;
    while (quote < line.size() && line[quote] == '>') {
      ++quote;
      if (quote < line.size() && line[quote] == ' ') ++quote;
    }
    lines.push_back(line.substr(quote));
    if (end == pasted.size()) break;
    at = end + 1;
  }
  return lines;
}

constexpr size_t kMostJoinedLines = 4;   // a wrapped text line
constexpr size_t kMostDumpLines = 20000; // a wrapped hex dump of a 65535-byte message, and more

// A text a mail program wrapped: its parts joined with the blank the wrap
// took away, or as they are.
bool TryJoined(const Parser& parser, const std::vector<std::string>& lines, size_t index, size_t line,
               std::vector<Entry>& out, bool& dumpPending, size_t& used) {
  for (const char* glue : {" ", ""}) {
    std::string text = lines[index];
    for (size_t extra = 1; extra <= kMostJoinedLines && index + extra < lines.size(); ++extra) {
      if (lines[index + extra].empty()) break;
      text += glue;
      text += lines[index + extra];
      std::vector<Entry> joined;
      if (parser.ParseText(text, line, joined, dumpPending)) {
        out.insert(out.end(), joined.begin(), joined.end());
        used = extra + 1;
        return true;
      }
    }
  }
  return false;
}

} // namespace

Report ParseReport(const std::string& pasted) {
  const std::vector<std::string> lines = SplitLines(pasted);
  const Parser parser;
  std::vector<Entry> entries;
  size_t index = 0;
  while (index < lines.size()) {
    const size_t line = index + 1;
    std::vector<Entry> parsed;
    bool dumpPending = false;
    size_t used = 1;
    bool understood = parser.ParseText(lines[index], line, parsed, dumpPending);
    if (!understood) {
      parsed.clear();
      understood = TryJoined(parser, lines, index, line, parsed, dumpPending, used);
    }
    if (!understood) {
      // The rest of a name that the wrap moved to a line of its own.
      Entry* previous = entries.empty() ? nullptr : &entries.back();
      if (previous != nullptr && previous->line == line - 1 &&
          (previous->kind == Kind::DeviceFound || previous->kind == Kind::DeviceRenamed)) {
        previous->name += " " + lines[index];
        ++index;
        continue;
      }
      Entry unknown;
      unknown.line = line;
      unknown.text = lines[index];
      entries.push_back(unknown);
      ++index;
      continue;
    }
    entries.insert(entries.end(), parsed.begin(), parsed.end());
    index += used;
    if (!dumpPending) continue;
    // The hex dump: from the next line to the one that holds "};".
    std::string dump;
    size_t dumpLines = 0;
    while (index + dumpLines < lines.size() && dumpLines < kMostDumpLines) {
      dump += lines[index + dumpLines] + " ";
      ++dumpLines;
      if (lines[index + dumpLines - 1].find("};") != std::string::npos) break;
    }
    Entry& sysex = entries.back();
    if (ParseDump(dump, sysex.bytes)) {
      index += dumpLines;
    } else {
      sysex.kind = Kind::NotUnderstood;
      sysex.text = logtext::kSysExReceived;
    }
  }

  // Text before the first and after the last understood line is the
  // e-mail's.
  Report report;
  size_t first = entries.size();
  size_t last = 0;
  for (size_t at = 0; at < entries.size(); ++at) {
    if (entries[at].kind == Kind::NotUnderstood) continue;
    if (first == entries.size()) first = at;
    last = at;
  }
  if (first == entries.size()) return report;
  report.found = true;
  report.entries.assign(entries.begin() + static_cast<std::ptrdiff_t>(first),
                        entries.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  report.firstLine = report.entries.front().line;
  report.lastLine = report.entries.back().line;
  return report;
}

} // namespace reader
