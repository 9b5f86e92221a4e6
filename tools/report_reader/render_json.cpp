#include "tools/report_reader/render_json.h"

#include <cstdio>
#include <string>

#include "tools/report_reader/mail/charset.h"

namespace report_reader {

namespace {

// Appends one UTF-8 sequence of `text` from `at`, or U+FFFD for a byte that
// begins none; returns where the next begins.
size_t AppendSequence(std::string& out, const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (at + length <= text.size() && mail::IsValidUtf8(std::string_view(text).substr(at, length)) &&
      (length > 1 || lead < 0x80)) {
    out.append(text, at, length);
    return at + length;
  }
  out += "\xEF\xBF\xBD";
  return at + 1;
}

void AppendString(std::string& out, const std::string& text) {
  out += '"';
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c >= 0x80) {
      at = AppendSequence(out, text, at);
      continue;
    } else {
      out += static_cast<char>(c);
    }
    ++at;
  }
  out += '"';
}

void AppendField(std::string& out, const char* name, const std::string& value) {
  out += '"';
  out += name;
  out += "\":";
  AppendString(out, value);
}

void AppendNumbers(std::string& out, const std::vector<size_t>& numbers) {
  out += '[';
  for (size_t index = 0; index < numbers.size(); ++index) {
    if (index != 0) out += ',';
    out += std::to_string(numbers[index]);
  }
  out += ']';
}

void AppendStrings(std::string& out, const std::vector<std::string>& texts) {
  out += '[';
  for (size_t index = 0; index < texts.size(); ++index) {
    if (index != 0) out += ',';
    AppendString(out, texts[index]);
  }
  out += ']';
}

std::string ReportObject(const Reading& reading, size_t number) {
  std::string out = "{\"report\":" + std::to_string(number) + ",\"found\":" + (reading.found ? "true" : "false");
  const mail::Origin& origin = reading.origin;
  out += ",\"source\":{\"mail\":";
  out += origin.mail ? "true" : "false";
  out += ",\"mailNumber\":" + std::to_string(origin.mailNumber) + ",";
  AppendField(out, "date", origin.date);
  out += ',';
  AppendField(out, "sender", origin.sender);
  out += ',';
  AppendField(out, "subject", origin.subject);
  out += ',';
  AppendField(out, "part", origin.part);
  out += ",\"quoteDepth\":" + std::to_string(reading.quoteDepth) + "},\"notes\":";
  AppendStrings(out, reading.notes);
  out += ",\"lines\":{\"first\":" + std::to_string(reading.firstLine) +
         ",\"last\":" + std::to_string(reading.lastLine) + "},\"devices\":[";
  for (size_t index = 0; index < reading.devices.size(); ++index) {
    const DeviceSeen& device = reading.devices[index];
    out += index == 0 ? "{" : ",{";
    AppendField(out, "name", device.name);
    out += ',';
    AppendField(out, "port", device.portName);
    out += ',';
    AppendField(out, "family", device.family);
    out += ",\"supported\":";
    out += device.supported ? "true" : "false";
    out += ",\"renamed\":";
    out += device.renamed ? "true" : "false";
    out += '}';
  }
  out += "],\"findings\":[";
  for (size_t index = 0; index < reading.findings.size(); ++index) {
    const Finding& finding = reading.findings[index];
    out += index == 0 ? "{" : ",{";
    AppendField(out, "kind", finding.kind);
    out += ',';
    AppendField(out, "text", finding.text);
    out += ",\"devices\":";
    AppendStrings(out, finding.devices);
    out += ",\"lines\":";
    AppendNumbers(out, finding.lines);
    out += ",\"lineCount\":" + std::to_string(finding.lineCount) + "}";
  }
  out += "],\"notUnderstood\":[";
  for (size_t index = 0; index < reading.notUnderstood.size(); ++index) {
    const Finding& unknown = reading.notUnderstood[index];
    out += index == 0 ? "{\"line\":" : ",{\"line\":";
    out += std::to_string(unknown.lines.front()) + ",";
    AppendField(out, "text", unknown.text);
    out += '}';
  }
  out += "]}";
  return out;
}

} // namespace

void RenderJson(const Readings& readings, const Sink& out) {
  out("[\n", 2);
  for (size_t index = 0; index < readings.reports.size(); ++index) {
    std::string object = ReportObject(readings.reports[index], index + 1);
    object += index + 1 < readings.reports.size() ? ",\n" : "\n";
    out(object.data(), object.size());
  }
  out("]\n", 2);
}

} // namespace report_reader
