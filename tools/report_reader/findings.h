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
// A text may be a mail, an mbox or a thread that holds several reports:
// each is read on its own (mail/ takes the texts out of a mail).
//
// A reading keeps the parsed report and decodes its log one line at a time,
// as far as it is shown, so that a report of a million lines costs no more
// than its entries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/report_reader/mail/mail_texts.h"
#include "tools/report_reader/report_parser.h"

namespace report_reader {

struct Finding {
  std::string text;
  // The lines it comes from, as far as they are shown: all of them, or of
  // more than ten the first eight and the last.
  std::vector<size_t> lines;
  size_t lineCount = 0;
  // What it is about, for a program to read: a word that stays the same
  // whatever the text says ("identity-missing"), and the devices it names
  // by their summary names, where the report tells.
  std::string kind;
  std::vector<std::string> devices;
};

struct DeviceSeen {
  std::string name;     // as the summary lists it
  std::string portName; // as its port was found
  std::string family;   // of the family table, or "no known family"
  bool supported = false;
  bool renamed = false; // by its identity reply
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
  // Where it came from: the mail and its part, if any, and how deep it was
  // quoted; and what of its text was read other than as its mail says.
  mail::Origin origin;
  size_t quoteDepth = 0;
  std::vector<std::string> notes;
  std::vector<DeviceSeen> devices;
  std::vector<Finding> findings;
  std::vector<Finding> notUnderstood; // each with its line
  Report report;

  // The decoded log: one line per entry of the report.
  size_t LogSize() const { return report.entries.size(); }
  DecodedLine DecodedAt(size_t index) const;
};

// Every report the text holds, in the order they stand: a saved mail, an
// mbox, a reply thread, two pastes in one. Never empty: a text without a
// report gives one reading that says so.
struct Readings {
  std::vector<Reading> reports;
  // Read exactly as before mails were read: one report in a text that is
  // no mail, at no quote depth.
  bool Plain() const;
};
Readings ReadAll(std::string_view pasted);

// The first report the text holds, read.
Reading Read(std::string_view pasted);

} // namespace report_reader
