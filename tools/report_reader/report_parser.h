// The report as support staff receive it, read back into what the tool
// logged: one entry per logged text, each with the line of the pasted text
// it starts on.
//
// A report arrives pasted into an e-mail: its line ends CR LF or bare LF,
// perhaps quoted with "> " (one or more levels), long lines wrapped by the
// mail program at 72 to 78 columns (hex dumps included), and reply text or
// a signature around it. The parser undoes what it can: quote marks come
// off, a line that is not understood alone is tried joined to the next
// ones, a hex dump runs until its "};", and text before the first and after
// the last understood line is the e-mail's, not the report's. Inside the
// report, a line it cannot place becomes a NotUnderstood entry, and it goes
// on. No input makes it fail: every byte string is some list of reports.
//
// A report holds up to a million lines and more (a flood), so an entry is
// small: what a few entries carry besides their kind and line (names,
// texts, numbers, System Exclusive bytes) is kept beside the entries.
//
// The texts come from the tool's own table (app/log_texts.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace report_reader {

enum class Kind : uint8_t {
  PortOpened,       // MIM_OPEN
  PortClosed,       // MIM_CLOSE
  BrokenShort,      // MIM_ERROR
  BrokenLong,       // MIM_LONGERROR
  ShortMessage,     // got MIDI: bytes
  SysEx,            // SysEx message received: and its dump (bytes)
  SysExTooLong,     // number: the limit
  EventsLost,       // number, name
  OpenFailed,       // Error opening midi
  OpenFailure,      // text: the winmm code's line that follows it
  UnknownErrorCode, // number, text
  DeviceFound,      // name
  SendFailed,       // midi send failed!
  IdentityRequest,  // Send identiy request
  IdentityReply,    // Got identity response
  NoDeviceName,     // Bad response, no device name.
  DeviceRenamed,    // name
  SceneGood,        // current settings are good!
  SceneBad,         // current settings are bad!
  UploadSucceeded,  // data upload success!
  UploadFailed,     // data upload failed!!
  Stopwatch,        // text
  GaveUp,           // number: seconds
  SummaryDevice,    // name, supported
  NoDevices,        // No midi devices found.
  NotUnderstood,    // text
};

// What the few entries that carry more than their kind carry.
struct Detail {
  std::string name;
  std::string text;
  uint64_t number = 0;
};

struct Entry {
  Kind kind = Kind::NotUnderstood;
  bool supported = false;              // SummaryDevice
  uint8_t shortMessage[3] = {0, 0, 0}; // ShortMessage
  uint32_t line = 0;                   // of the pasted text, from 1
  // SysEx: where its bytes start in Report::sysexBytes, and how many; the
  // kinds with a Detail: its index in Report::details.
  uint32_t at = 0;
  uint32_t size = 0;
};

struct Report {
  std::vector<Entry> entries;
  std::vector<Detail> details;
  std::vector<uint8_t> sysexBytes;
  bool found = false; // anything of a report at all
  size_t firstLine = 0;
  size_t lastLine = 0;
  size_t quoteDepth = 0; // of its lines in the pasted text: 2 for "> > "

  const Detail& DetailOf(const Entry& entry) const { return details[entry.at]; }
  const uint8_t* SysExOf(const Entry& entry) const { return sysexBytes.data() + entry.at; }
};

// The pasted text as it came: any bytes, any length. A text may hold
// several runs (a reply thread quoting an earlier one, two reports pasted
// one after the other): a report ends with its device summary, and a quote
// depth of its own sets a report apart from the text around it. One report
// per run, in the order they stand; none when nothing of a report is there.
std::vector<Report> ParseReports(std::string_view pasted);

} // namespace report_reader
