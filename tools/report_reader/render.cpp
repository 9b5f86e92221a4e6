#include "tools/report_reader/render.h"

#include "app/console_text.h"

namespace report_reader {

namespace {

std::string Lines(const Finding& finding) {
  const std::vector<size_t>& lines = finding.lines;
  if (lines.empty()) return "";
  std::string text = finding.lineCount == 1 ? "  [line " : "  [lines ";
  const bool cut = finding.lineCount > 10;
  for (size_t index = 0; index < lines.size(); ++index) {
    if (cut && index + 1 == lines.size()) {
      text += ", ... " + std::to_string(lines[index]);
      break;
    }
    text += (index == 0 ? "" : ", ") + std::to_string(lines[index]);
  }
  return text + "]";
}

// Device text is the device's: in a page it is text, never markup.
void AppendEscaped(std::string& page, const std::string& text) {
  for (const char c : text) {
    switch (c) {
      case '<':
        page += "&lt;";
        break;
      case '>':
        page += "&gt;";
        break;
      case '&':
        page += "&amp;";
        break;
      case '"':
        page += "&quot;";
        break;
      default:
        page += c;
    }
  }
}

std::string Escaped(const std::string& text) {
  std::string escaped;
  AppendEscaped(escaped, text);
  return escaped;
}

// Names and identity texts are the devices': on a terminal, shown escaped
// as the tool's console shows them.
void AppendSafe(std::string& text, const std::string& part) {
  if (app::IsConsoleSafe(part.data(), part.size())) {
    text += part;
  } else {
    text += app::MakeConsoleSafe(part.data(), part.size());
  }
}

std::string Where(const Reading& reading) {
  if (!reading.found) return "";
  return "Portprobe report: lines " + std::to_string(reading.firstLine) + " to " + std::to_string(reading.lastLine) +
         " of the text.";
}

// Collects pieces and hands them on in blocks.
class Buffered {
 public:
  explicit Buffered(const Sink& out) : out(out) { text.reserve(kBlock + 1024); }
  ~Buffered() { Flush(); }
  Buffered(const Buffered&) = delete;
  Buffered& operator=(const Buffered&) = delete;
  std::string& Text() { return text; }
  void MaybeFlush() {
    if (text.size() >= kBlock) Flush();
  }
  void Flush() {
    if (!text.empty()) out(text.data(), text.size());
    text.clear();
  }

 private:
  static constexpr size_t kBlock = 1 << 16;
  const Sink& out;
  std::string text;
};

// A line of the decoded log: its line number, the tool's text and what it
// means, set apart as text or as a table row, device text made safe for
// the terminal or the page.
struct RowStyle {
  const char* before;
  const char* beforeLogged;
  const char* beforeMeaning;
  const char* after;
  void (*append)(std::string& out, const std::string& deviceText);
};
constexpr RowStyle kTextRow{"", ": ", "  =  ", "\n", AppendSafe};
constexpr RowStyle kPageRow{"<tr><td class=\"line\">", "</td><td class=\"logged\">", "</td><td>", "</td></tr>\n",
                            AppendEscaped};

void AppendRow(std::string& out, const DecodedLine& line, const RowStyle& style) {
  out += style.before;
  out += std::to_string(line.line);
  out += style.beforeLogged;
  style.append(out, line.logged);
  out += style.beforeMeaning;
  style.append(out, line.meaning);
  out += style.after;
}

std::string Collected(const std::function<void(const Sink&)>& render) {
  std::string whole;
  render([&whole](const char* text, size_t length) { whole.append(text, length); });
  return whole;
}

// How many of the readings are reports (a text without one has one reading
// that says so).
size_t FoundCount(const Readings& readings) {
  size_t found = 0;
  for (const Reading& reading : readings.reports) found += reading.found ? 1 : 0;
  return found;
}

std::string CountLine(const Readings& readings) {
  const size_t found = FoundCount(readings);
  if (found == 0) return "";
  return std::to_string(found) + (found == 1 ? " Portprobe report" : " Portprobe reports") + " found in this text.";
}

std::string Notes(const Reading& reading) {
  std::string text;
  for (const std::string& note : reading.notes) text += "Note: " + note + "\n";
  return text;
}

std::string PageTop(const char* title) {
  return std::string("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") + title +
         "</title>\n<style>body{font-family:sans-serif;margin:2em}td{padding:0 .6em;vertical-align:top}"
         ".line{color:#777;text-align:right}.logged{font-family:monospace}</style></head><body>\n";
}

// The decoded log as one table, handed on a block at a time.
void AppendLogTable(Buffered& buffer, const Reading& reading, const char* attribute) {
  if (reading.LogSize() == 0) return;
  std::string& page = buffer.Text();
  page += std::string("<h2>Decoded log</h2>\n<table ") + attribute + ">\n";
  for (size_t row = 0; row < reading.LogSize(); ++row) {
    AppendRow(page, reading.DecodedAt(row), kPageRow);
    buffer.MaybeFlush();
  }
  page += "</table>\n";
}

} // namespace

std::string Heading(const Readings& readings, size_t index) {
  if (readings.Plain()) return "";
  const Reading& reading = readings.reports[index];
  std::string text;
  if (reading.found) {
    text = "Report " + std::to_string(index + 1) + " of " + std::to_string(readings.reports.size());
  } else {
    text = "The text";
  }
  const mail::Origin& origin = reading.origin;
  if (origin.mail) {
    text += ": from ";
    text += origin.part.empty() ? "the mail" : origin.part + " of the mail";
    if (origin.mailNumber != 0) text += " " + std::to_string(origin.mailNumber) + " of the mailbox";
    if (!origin.date.empty()) text += " of " + origin.date;
    if (!origin.sender.empty()) text += " by " + origin.sender;
    if (!origin.subject.empty()) text += " (\"" + origin.subject + "\")";
  }
  if (reading.quoteDepth != 0) {
    text += origin.mail ? "; " : ": ";
    text += "quoted " + std::to_string(reading.quoteDepth) + (reading.quoteDepth == 1 ? " level" : " levels") + " deep";
  }
  return text + ".";
}

namespace {

// A report's section of a page of several: its heading and notes.
std::string SectionTop(const Readings& readings, size_t index) {
  std::string top =
      "<section class=\"report\">\n<h2 class=\"heading\">" + Escaped(Heading(readings, index)) + "</h2>\n";
  for (const std::string& note : readings.reports[index].notes) top += "<p class=\"note\">" + Escaped(note) + "</p>\n";
  return top;
}

} // namespace

std::string FindingsOnly(const Readings& readings) {
  if (readings.Plain()) return FindingsOnly(readings.reports.front());
  std::string text = CountLine(readings);
  if (!text.empty()) text += "\n";
  for (size_t index = 0; index < readings.reports.size(); ++index) {
    text += "\n" + Heading(readings, index) + "\n" + Notes(readings.reports[index]);
    text += FindingsOnly(readings.reports[index]);
  }
  return text;
}

void RenderText(const Readings& readings, const Sink& out) {
  if (readings.Plain()) return RenderText(readings.reports.front(), out);
  std::string top = CountLine(readings);
  if (!top.empty()) top += "\n";
  out(top.data(), top.size());
  for (size_t index = 0; index < readings.reports.size(); ++index) {
    std::string head = "\n== " + Heading(readings, index) + "\n";
    std::string safe;
    AppendSafe(safe, head);
    safe += Notes(readings.reports[index]) + "\n";
    out(safe.data(), safe.size());
    RenderText(readings.reports[index], out);
  }
}

std::string RenderFindingsHtml(const Readings& readings) {
  if (readings.Plain()) return RenderFindingsHtml(readings.reports.front());
  std::string page = "<p id=\"count\">" + Escaped(CountLine(readings)) + "</p>\n";
  for (size_t index = 0; index < readings.reports.size(); ++index) {
    const Reading& reading = readings.reports[index];
    page += SectionTop(readings, index);
    page += RenderFindingsHtml(reading) + "</section>\n";
  }
  return page;
}

void RenderHtml(const Readings& readings, const Sink& out) {
  if (readings.Plain()) return RenderHtml(readings.reports.front(), out);
  Buffered buffer(out);
  std::string& page = buffer.Text();
  page = PageTop("Portprobe reports");
  page += "<p id=\"count\">" + Escaped(CountLine(readings)) + "</p>\n";
  for (size_t index = 0; index < readings.reports.size(); ++index) {
    const Reading& reading = readings.reports[index];
    page += SectionTop(readings, index);
    page += RenderFindingsHtml(reading);
    AppendLogTable(buffer, reading, "class=\"log\"");
    page += "</section>\n";
  }
  page += "</body></html>\n";
}

std::string FindingsOnly(const Reading& reading) {
  std::string text;
  for (const Finding& finding : reading.findings) text += "- " + finding.text + "\n";
  for (const Finding& unknown : reading.notUnderstood) text += "- not understood: " + unknown.text + "\n";
  return text;
}

void RenderText(const Reading& reading, const Sink& out) {
  Buffered buffer(out);
  std::string& text = buffer.Text();
  text = Where(reading);
  if (!text.empty()) text += "\n\n";
  text += "Findings:\n";
  for (const Finding& finding : reading.findings) {
    text += "- ";
    AppendSafe(text, finding.text);
    text += Lines(finding) + "\n";
  }
  if (!reading.notUnderstood.empty()) {
    text += "\nNot understood:\n";
    for (const Finding& unknown : reading.notUnderstood) {
      text += "- line " + std::to_string(unknown.lines.front()) + ": ";
      AppendSafe(text, unknown.text);
      text += "\n";
    }
  }
  if (reading.LogSize() == 0) return;
  text += "\nDecoded log:\n";
  for (size_t index = 0; index < reading.LogSize(); ++index) {
    AppendRow(text, reading.DecodedAt(index), kTextRow);
    buffer.MaybeFlush();
  }
}

std::string RenderText(const Reading& reading) {
  return Collected([&reading](const Sink& out) { RenderText(reading, out); });
}

std::string RenderFindingsHtml(const Reading& reading) {
  std::string page = "<p>" + Escaped(Where(reading)) + "</p>\n<h2>Findings</h2>\n<ul id=\"findings\">\n";
  for (const Finding& finding : reading.findings) {
    page += "<li>" + Escaped(finding.text) + "<span class=\"line\">" + Escaped(Lines(finding)) + "</span></li>\n";
  }
  page += "</ul>\n";
  if (!reading.notUnderstood.empty()) {
    page += "<h2>Not understood</h2>\n<ul id=\"not-understood\">\n";
    for (const Finding& unknown : reading.notUnderstood) {
      page += "<li>line " + std::to_string(unknown.lines.front()) + ": " + Escaped(unknown.text) + "</li>\n";
    }
    page += "</ul>\n";
  }
  return page;
}

std::string RenderLogRowsHtml(const Reading& reading, size_t first, size_t count) {
  std::string rows;
  for (size_t index = first; index < reading.LogSize() && index - first < count; ++index) {
    AppendRow(rows, reading.DecodedAt(index), kPageRow);
  }
  return rows;
}

void RenderHtml(const Reading& reading, const Sink& out) {
  Buffered buffer(out);
  std::string& page = buffer.Text();
  page = PageTop("Portprobe report");
  page += RenderFindingsHtml(reading);
  AppendLogTable(buffer, reading, "id=\"log\"");
  page += "</body></html>\n";
}

std::string RenderHtml(const Reading& reading) {
  return Collected([&reading](const Sink& out) { RenderHtml(reading, out); });
}

} // namespace report_reader
