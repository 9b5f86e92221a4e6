#include "tools/report_reader/report_parser.h"

#include <cctype>
#include <cstring>

#include "app/log_texts.h"

namespace report_reader {

namespace {

using Text = std::string_view;

// A text of the table without its own line feed, as it stands on its line.
Text Bare(const char* text) {
  Text bare(text);
  if (!bare.empty() && bare.back() == '\n') bare.remove_suffix(1);
  return bare;
}

// The part of a format before its first directive.
Text Head(const char* format) {
  const Text text(format);
  return text.substr(0, text.find('%'));
}

// The part of a format after its (only) directive, without its line feed.
Text Tail(const char* format) {
  Text text(format);
  text.remove_prefix(text.find('%') + 2);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

bool StartsWith(Text text, Text start) {
  return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

bool EndsWith(Text text, Text end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Digits only, at most 19 of them (so the value fits).
bool ParseNumber(Text text, uint64_t& value) {
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
bool ParseThreeBytes(Text text, uint8_t (&bytes)[3]) {
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
    bytes[index] = static_cast<uint8_t>(value);
  }
  return at == text.size();
}

// "0.000303": digits, a point, digits.
bool IsDecimal(Text text) {
  const size_t point = text.find('.');
  if (point == Text::npos || point == 0 || point + 1 == text.size()) return false;
  for (size_t at = 0; at < text.size(); ++at) {
    if (at != point && !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
  }
  return true;
}

bool IsSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A hex dump, "{ 0xF0, 0x7E, 0xF7,};", with any white space in it (a mail
// program's wrapping adds some and takes some away), its bytes appended.
bool ParseDump(Text text, std::vector<uint8_t>& bytes) {
  size_t at = 0;
  const auto skipSpace = [&] {
    while (at < text.size() && IsSpace(text[at])) ++at;
  };
  const auto next = [&]() -> int {
    skipSpace();
    return at < text.size() ? static_cast<unsigned char>(text[at++]) : -1;
  };
  if (next() != '{') return false;
  for (;;) {
    const int c = next();
    if (c == '}') return next() == ';' && (skipSpace(), at == text.size());
    if (c != '0' || next() != 'x') return false;
    const int high = HexDigit(static_cast<char>(next()));
    const int low = HexDigit(static_cast<char>(next()));
    if (high < 0 || low < 0 || next() != ',') return false;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
}

// The texts that can follow one that ends no line ("Updated device name:
// %s", "Bad response, no device name.") on the same line.
const std::vector<Text>& LineStarts() {
  static const std::vector<Text> kStarts = {
      Bare(app::logtext::kPortOpened),
      Bare(app::logtext::kPortClosed),
      Bare(app::logtext::kBrokenShortMessage),
      Bare(app::logtext::kBrokenLongMessage),
      Head(app::logtext::kShortMessage),
      app::logtext::kSysExReceived,
      Head(app::logtext::kSysExTooLong),
      Bare(app::logtext::kOpenFailed),
      Head(app::logtext::kDeviceFound),
      Bare(app::logtext::kSendFailed),
      app::logtext::kIdentityRequest,
      app::logtext::kIdentityReply,
      app::logtext::kNoDeviceName,
      Head(app::logtext::kDeviceRenamed),
      Bare(app::logtext::kSceneGood),
      Bare(app::logtext::kSceneBad),
      Bare(app::logtext::kUploadSucceeded),
      Bare(app::logtext::kUploadFailed),
      Head(app::logtext::kStopwatch),
      Head(app::logtext::kGaveUp),
      "MMSYSERR_",
      Head(app::logtext::kUnknownErrorCode),
  };
  return kStarts;
}

// Where the next logged text starts in what follows a text that ends no
// line; npos when nothing does.
size_t NextStart(Text rest) {
  size_t earliest = Text::npos;
  for (const Text start : LineStarts()) {
    const size_t at = rest.find(start);
    if (at < earliest) earliest = at;
  }
  return earliest;
}

const std::vector<std::pair<Kind, Text>>& ExactTexts() {
  static const std::vector<std::pair<Kind, Text>> kExact = {
      {Kind::PortOpened, Bare(app::logtext::kPortOpened)},
      {Kind::PortClosed, Bare(app::logtext::kPortClosed)},
      {Kind::BrokenShort, Bare(app::logtext::kBrokenShortMessage)},
      {Kind::BrokenLong, Bare(app::logtext::kBrokenLongMessage)},
      {Kind::OpenFailed, Bare(app::logtext::kOpenFailed)},
      {Kind::SendFailed, Bare(app::logtext::kSendFailed)},
      {Kind::IdentityRequest, app::logtext::kIdentityRequest},
      {Kind::IdentityReply, app::logtext::kIdentityReply},
      {Kind::SceneGood, Bare(app::logtext::kSceneGood)},
      {Kind::SceneBad, Bare(app::logtext::kSceneBad)},
      {Kind::UploadSucceeded, Bare(app::logtext::kUploadSucceeded)},
      {Kind::UploadFailed, Bare(app::logtext::kUploadFailed)},
      {Kind::NoDevices, app::logtext::kNoDevices},
  };
  return kExact;
}

// Reads texts into the report's entries. Every parse is a trial: one that
// fails leaves the report as it was.
class Parser {
 public:
  explicit Parser(Report& report) : report(report) {}

  struct Outcome {
    bool understood = false;
    // The text ended with the SysEx heading, whose dump follows on the next
    // lines.
    bool dumpPending = false;
    // It ended with a renamed device's name that no other text followed:
    // the name may go on, or a text begin, on the next line.
    bool nameOpen = false;
  };

  Outcome Parse(Text text, size_t line) {
    lastMark = Here();
    Outcome outcome;
    outcome.understood = ParseText(text, static_cast<uint32_t>(line), outcome);
    if (!outcome.understood) Rewind(lastMark);
    return outcome;
  }
  // Takes back what the last Parse added.
  void Undo() { Rewind(lastMark); }

  // The dump of the last entry, a SysEx heading: false, with nothing
  // added, when the text is none.
  bool ParseDumpOfLast(Text dump) {
    Entry& sysex = report.entries.back();
    const size_t before = report.sysexBytes.size();
    if (!ParseDump(dump, report.sysexBytes)) {
      report.sysexBytes.resize(before);
      return false;
    }
    sysex.at = static_cast<uint32_t>(before);
    sysex.size = static_cast<uint32_t>(report.sysexBytes.size() - before);
    return true;
  }

 private:
  struct Mark {
    size_t entries, details, sysexBytes;
  };
  Mark Here() const { return {report.entries.size(), report.details.size(), report.sysexBytes.size()}; }
  void Rewind(const Mark& mark) {
    report.entries.resize(mark.entries);
    report.details.resize(mark.details);
    report.sysexBytes.resize(mark.sysexBytes);
  }

  void Add(Kind kind, uint32_t line) {
    Entry entry;
    entry.kind = kind;
    entry.line = line;
    report.entries.push_back(entry);
  }
  Detail& AddWithDetail(Kind kind, uint32_t line) {
    Add(kind, line);
    report.entries.back().at = static_cast<uint32_t>(report.details.size());
    report.details.emplace_back();
    return report.details.back();
  }

  bool ParseText(Text text, uint32_t line, Outcome& outcome) {
    outcome.dumpPending = false;
    outcome.nameOpen = false;
    if (text.empty()) return true;
    // The flood's line first: most of a long report is short messages.
    static const Text kShort = Head(app::logtext::kShortMessage);
    if (StartsWith(text, kShort)) {
      uint8_t bytes[3];
      if (!ParseThreeBytes(text.substr(kShort.size()), bytes)) return false;
      Add(Kind::ShortMessage, line);
      std::memcpy(report.entries.back().shortMessage, bytes, 3);
      return true;
    }
    for (const auto& [kind, exact] : ExactTexts()) {
      if (text == exact) {
        Add(kind, line);
        return true;
      }
    }
    if (text == app::logtext::kSysExReceived) {
      Add(Kind::SysEx, line);
      outcome.dumpPending = true;
      return true;
    }
    for (const char* failure : {app::logtext::kBadDeviceId, app::logtext::kAlreadyInUse, app::logtext::kNoMemory,
                                app::logtext::kInvalidFlag, app::logtext::kInvalidParameter}) {
      if (text == Bare(failure)) {
        AddWithDetail(Kind::OpenFailure, line).text = std::string(text);
        return true;
      }
    }
    static const Text kFound = Head(app::logtext::kDeviceFound);
    // A port without a name: mail programs (format=flowed ones above all)
    // take off the blank that ends the line.
    if (text == kFound.substr(0, kFound.size() - 1)) {
      AddWithDetail(Kind::DeviceFound, line);
      return true;
    }
    if (StartsWith(text, kFound)) {
      AddWithDetail(Kind::DeviceFound, line).name = std::string(text.substr(kFound.size()));
      return true;
    }
    static const Text kNameless = app::logtext::kNoDeviceName;
    if (StartsWith(text, kNameless)) {
      Add(Kind::NoDeviceName, line);
      return ParseText(text.substr(kNameless.size()), line, outcome);
    }
    static const Text kRenamed = Head(app::logtext::kDeviceRenamed);
    if (StartsWith(text, kRenamed)) {
      const Text rest = text.substr(kRenamed.size());
      const size_t next = NextStart(rest);
      AddWithDetail(Kind::DeviceRenamed, line).name = std::string(rest.substr(0, next));
      if (next == Text::npos) {
        outcome.nameOpen = true;
        return true;
      }
      return ParseText(rest.substr(next), line, outcome);
    }
    if (ParseNumbered(text, line)) return true;
    return ParseSummary(text, line);
  }

  // The texts with a number in them.
  bool ParseNumbered(Text text, uint32_t line) {
    // "%llu MIDI events lost on \"%s\"."
    static const Text kLostMiddle = " MIDI events lost on \"";
    const size_t middle = text.find(kLostMiddle);
    uint64_t number = 0;
    if (middle != Text::npos && EndsWith(text, "\".") && text.size() >= middle + kLostMiddle.size() + 2 &&
        ParseNumber(text.substr(0, middle), number)) {
      Detail& detail = AddWithDetail(Kind::EventsLost, line);
      detail.number = number;
      detail.name =
          std::string(text.substr(middle + kLostMiddle.size(), text.size() - 2 - middle - kLostMiddle.size()));
      return true;
    }
    const auto between = [text](const char* format, Text& inside) {
      const Text head = Head(format);
      const Text tail = Tail(format);
      if (!StartsWith(text, head) || !EndsWith(text, tail) || text.size() < head.size() + tail.size()) return false;
      inside = text.substr(head.size(), text.size() - head.size() - tail.size());
      return true;
    };
    Text inside;
    if (between(app::logtext::kSysExTooLong, inside) && ParseNumber(inside, number)) {
      AddWithDetail(Kind::SysExTooLong, line).number = number;
      return true;
    }
    if (between(app::logtext::kGaveUp, inside) && ParseNumber(inside, number)) {
      AddWithDetail(Kind::GaveUp, line).number = number;
      return true;
    }
    if (between(app::logtext::kUnknownErrorCode, inside)) {
      const bool negative = !inside.empty() && inside[0] == '-';
      if (!ParseNumber(negative ? inside.substr(1) : inside, number)) return false;
      Detail& detail = AddWithDetail(Kind::UnknownErrorCode, line);
      detail.number = number;
      detail.text = std::string(inside);
      return true;
    }
    // "Run Time: %f  Interval Time: %f"
    static const Text kRun = Head(app::logtext::kStopwatch);
    static const Text kInterval = "  Interval Time: ";
    const size_t split = text.find(kInterval);
    if (StartsWith(text, kRun) && split != Text::npos && split >= kRun.size() &&
        IsDecimal(text.substr(kRun.size(), split - kRun.size())) && IsDecimal(text.substr(split + kInterval.size()))) {
      AddWithDetail(Kind::Stopwatch, line).text = std::string(text);
      return true;
    }
    return false;
  }

  // "\"NAME\"" or "\"NAME\" Supported by Veltrakon."
  bool ParseSummary(Text text, uint32_t line) {
    if (text.size() < 2 || text[0] != '"') return false;
    static const std::string kSupported = std::string("\"") + app::logtext::kSupported;
    std::string name;
    bool supported;
    if (EndsWith(text, kSupported) && text.size() >= 1 + kSupported.size()) {
      name = std::string(text.substr(1, text.size() - 1 - kSupported.size()));
      supported = true;
    } else if (text.back() == '"') {
      name = std::string(text.substr(1, text.size() - 2));
      supported = false;
    } else {
      return false;
    }
    AddWithDetail(Kind::SummaryDevice, line).name = std::move(name);
    report.entries.back().supported = supported;
    return true;
  }

  Report& report;
  Mark lastMark{0, 0, 0};
};

// The pasted text's lines, found once: either line end, and quote marks
// ("> ", any depth) off as a line is asked for.
class Lines {
 public:
  // Offsets of 32 bits: a paste of 4 GB is past any report.
  explicit Lines(Text whole) : pasted(whole.substr(0, UINT32_MAX)) {
    starts.reserve(pasted.size() / 16 + 1);
    starts.push_back(0);
    const char* const end = pasted.data() + pasted.size();
    for (const char* at = pasted.data(); at < end;) {
      const void* lineEnd = std::memchr(at, '\n', static_cast<size_t>(end - at));
      if (lineEnd == nullptr) break;
      at = static_cast<const char*>(lineEnd) + 1;
      starts.push_back(static_cast<uint32_t>(at - pasted.data()));
    }
    starts.shrink_to_fit();
  }
  size_t Count() const { return starts.size(); }
  Text At(size_t index) const {
    const size_t begin = starts[index];
    size_t end = index + 1 < starts.size() ? starts[index + 1] - 1 : pasted.size();
    Text line = pasted.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t depth = 0;
    return line.substr(QuoteLength(line, depth));
  }
  // How many levels of quote marks the line has.
  size_t DepthAt(size_t index) const {
    size_t depth = 0;
    QuoteLength(pasted.substr(starts[index], 64), depth);
    return depth;
  }

 private:
  static size_t QuoteLength(Text line, size_t& depth) {
    size_t quote = 0;
    while (quote < line.size() && line[quote] == '>') {
      ++quote;
      ++depth;
      if (quote < line.size() && line[quote] == ' ') ++quote;
    }
    return quote;
  }

  Text pasted;
  std::vector<uint32_t> starts;
};

constexpr size_t kMostJoinedLines = 4;   // a wrapped text line
constexpr size_t kMostDumpLines = 20000; // a wrapped hex dump of a 65535-byte message, and more

// Lines index to index + extra joined with the glue a wrap took away.
std::string Joined(const Lines& lines, size_t index, size_t extra, const char* glue) {
  std::string text(lines.At(index));
  for (size_t more = 1; more <= extra; ++more) {
    text += glue;
    text += lines.At(index + more);
  }
  return text;
}

// A text a mail program wrapped: its parts joined with the blank the wrap
// took away, or as they are. The number of lines used, or 0.
size_t TryJoined(Parser& parser, const Lines& lines, size_t index, Parser::Outcome& outcome) {
  for (const char* glue : {" ", ""}) {
    for (size_t extra = 1; extra <= kMostJoinedLines && index + extra < lines.Count(); ++extra) {
      if (lines.At(index + extra).empty()) break;
      outcome = parser.Parse(Joined(lines, index, extra, glue), index + 1);
      if (outcome.understood) return extra + 1;
    }
  }
  return 0;
}

// A renamed device's name ends no line: whatever the tool logged next goes
// on on the same line. A mail program may have wrapped that line at a blank
// inside the text that followed ("... MIDI device found:" / "nanoKONTROL2 1")
// or inside the name. When the next lines are no text of their own, the line
// is read again joined with them; the first joining in which another text
// follows the name is the one the tool wrote. The number of lines used, or
// 0 to keep the line as read alone.
size_t TryNameGoingOn(Parser& parser, const Lines& lines, size_t index, Parser::Outcome& outcome) {
  for (size_t extra = 1; extra <= kMostJoinedLines && index + extra < lines.Count(); ++extra) {
    const Text next = lines.At(index + extra);
    if (next.empty()) return 0;
    Report probe;
    if (Parser(probe).Parse(next, index + extra + 1).understood) return 0; // a text of its own
    for (const char* glue : {" ", ""}) {
      Parser::Outcome joined = parser.Parse(Joined(lines, index, extra, glue), index + 1);
      if (joined.understood && !joined.nameOpen) {
        outcome = joined;
        return extra + 1;
      }
      if (joined.understood) parser.Undo();
    }
  }
  return 0;
}

bool HasDetail(Kind kind) {
  switch (kind) {
    case Kind::SysExTooLong:
    case Kind::EventsLost:
    case Kind::OpenFailure:
    case Kind::UnknownErrorCode:
    case Kind::DeviceFound:
    case Kind::DeviceRenamed:
    case Kind::Stopwatch:
    case Kind::GaveUp:
    case Kind::SummaryDevice:
    case Kind::NotUnderstood:
      return true;
    default:
      return false;
  }
}

bool IsSummary(Kind kind) {
  return kind == Kind::SummaryDevice || kind == Kind::NoDevices;
}

// Entries first to last of `all`, with what they carry, as a report of
// their own.
Report Part(const Report& all, size_t first, size_t last) {
  Report part;
  part.entries.reserve(last + 1 - first);
  for (size_t at = first; at <= last; ++at) {
    Entry entry = all.entries[at];
    if (entry.kind == Kind::SysEx) {
      const uint32_t from = entry.at;
      entry.at = static_cast<uint32_t>(part.sysexBytes.size());
      part.sysexBytes.insert(part.sysexBytes.end(), all.sysexBytes.begin() + from,
                             all.sysexBytes.begin() + from + entry.size);
    } else if (HasDetail(entry.kind)) {
      const uint32_t from = entry.at;
      entry.at = static_cast<uint32_t>(part.details.size());
      part.details.push_back(all.details[from]);
    }
    part.entries.push_back(entry);
  }
  return part;
}

// The runs the entries hold (see ParseReports), each without the text of
// the mail around it: what stands before its first and after its last
// understood line.
std::vector<Report> Split(Report all, const Lines& lines) {
  std::vector<std::pair<size_t, size_t>> runs; // first and last understood entry
  std::vector<size_t> depths;
  bool summarised = false;
  for (size_t at = 0; at < all.entries.size(); ++at) {
    const Entry& entry = all.entries[at];
    if (entry.kind == Kind::NotUnderstood) continue;
    const size_t depth = lines.DepthAt(entry.line - 1);
    if (runs.empty() || depth != depths.back() || (summarised && !IsSummary(entry.kind))) {
      runs.emplace_back(at, at);
      depths.push_back(depth);
      summarised = false;
    }
    runs.back().second = at;
    summarised = summarised || IsSummary(entry.kind);
  }
  std::vector<Report> reports;
  if (runs.size() == 1) {
    // One run, most often a flood's: trimmed where it lies, not copied.
    all.entries.erase(all.entries.begin() + static_cast<std::ptrdiff_t>(runs[0].second) + 1, all.entries.end());
    all.entries.erase(all.entries.begin(), all.entries.begin() + static_cast<std::ptrdiff_t>(runs[0].first));
    all.entries.shrink_to_fit();
    reports.push_back(std::move(all));
  } else {
    for (const auto& [first, last] : runs) reports.push_back(Part(all, first, last));
  }
  for (size_t index = 0; index < reports.size(); ++index) {
    Report& report = reports[index];
    report.found = true;
    report.firstLine = report.entries.front().line;
    report.lastLine = report.entries.back().line;
    report.quoteDepth = depths[index];
  }
  return reports;
}

} // namespace

std::vector<Report> ParseReports(std::string_view pasted) {
  Report report;
  const Lines lines(pasted);
  // About one entry a line: reserved once, not doubled as it grows.
  report.entries.reserve(lines.Count());
  Parser parser(report);
  size_t index = 0;
  while (index < lines.Count()) {
    const size_t line = index + 1;
    size_t used = 1;
    Parser::Outcome outcome = parser.Parse(lines.At(index), line);
    if (!outcome.understood) {
      used = TryJoined(parser, lines, index, outcome);
    } else if (outcome.nameOpen) {
      parser.Undo();
      Parser::Outcome joined;
      const size_t joinedUsed = TryNameGoingOn(parser, lines, index, joined);
      if (joinedUsed != 0) {
        used = joinedUsed;
        outcome = joined;
      } else {
        outcome = parser.Parse(lines.At(index), line);
      }
    }
    if (used == 0) {
      // The rest of a name that the wrap moved to a line of its own.
      const Text text = lines.At(index);
      Entry* previous = report.entries.empty() ? nullptr : &report.entries.back();
      if (previous != nullptr && previous->line == line - 1 &&
          (previous->kind == Kind::DeviceFound || previous->kind == Kind::DeviceRenamed)) {
        std::string& name = report.details[previous->at].name;
        name += name.empty() ? std::string(text) : " " + std::string(text);
      } else {
        Entry unknown;
        unknown.kind = Kind::NotUnderstood;
        unknown.line = static_cast<uint32_t>(line);
        unknown.at = static_cast<uint32_t>(report.details.size());
        report.entries.push_back(unknown);
        report.details.emplace_back().text = std::string(text);
      }
      ++index;
      continue;
    }
    index += used;
    if (!outcome.dumpPending) continue;
    // The hex dump: from the next line to the one that holds "};".
    std::string dump;
    size_t dumpLines = 0;
    while (index + dumpLines < lines.Count() && dumpLines < kMostDumpLines) {
      const Text part = lines.At(index + dumpLines);
      dump += part;
      dump += ' ';
      ++dumpLines;
      if (part.find("};") != Text::npos) break;
    }
    if (parser.ParseDumpOfLast(dump)) {
      index += dumpLines;
    } else {
      Entry& heading = report.entries.back();
      heading.kind = Kind::NotUnderstood;
      heading.at = static_cast<uint32_t>(report.details.size());
      report.details.emplace_back().text = app::logtext::kSysExReceived;
    }
  }

  return Split(std::move(report), lines);
}

} // namespace report_reader
