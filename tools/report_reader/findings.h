// What a report proves, in plain words, each finding with the lines of the
// pasted text it comes from; and the log decoded line by line.
//
// The report limits what can be known, and a finding never claims more:
// "got MIDI" and "SysEx message received:" lines name no device, so with
// several devices listed traffic is given per device only where a message's
// content tells (an identity reply, a KORG scene); the nanoKONTROL2's dump
// request and the X-TOUCH MINI's reset stream are not logged, so "no answer
// seen" is a finding and "request sent" is not; "Error opening midi" names
// no port.
//
// What the reader knows of the protocol it takes from the tool: the family
// table (midi/model_code.h), how each dialogue reads a reply
// (handlers/bc_protocol.h, handlers/nano_kontrol_protocol.h) and the logged
// texts (app/log_texts.h).
//
// A reading keeps the parsed report and decodes its log one line at a time,
// as far as it is shown, so that a report of a million lines costs no more
// than its entries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/report_reader/report_parser.h"

namespace report_reader {

struct Finding {
  std::string text;
  // The lines it comes from, as far as they are shown: all of them, or of
  // more than ten the first eight and the last.
  std::vector<size_t> lines;
  size_t lineCount = 0;
};

struct DecodedLine {
  size_t line = 0;
  std::string logged;  // the tool's text, as it stands in the report
  std::string meaning; // what it means
};

struct Reading {
  bool found = false; // a report was found in the text at all
  size_t firstLine = 0;
  size_t lastLine = 0;
  std::vector<Finding> findings;
  std::vector<Finding> notUnderstood; // each with its line
  Report report;

  // The decoded log: one line per entry of the report.
  size_t LogSize() const { return report.entries.size(); }
  DecodedLine DecodedAt(size_t index) const;
};

Reading Read(std::string_view pasted);

} // namespace report_reader
