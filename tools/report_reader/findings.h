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
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace reader {

struct Finding {
  std::string text;
  std::vector<size_t> lines; // of the pasted text
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
  std::vector<DecodedLine> log;
};

Reading Read(const std::string& pasted);

} // namespace reader
