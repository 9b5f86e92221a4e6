#include "tools/report_reader/render.h"

#include "app/console_text.h"

namespace reader {

namespace {

std::string Lines(const std::vector<size_t>& lines) {
  if (lines.empty()) return "";
  std::string text = lines.size() == 1 ? "  [line " : "  [lines ";
  for (size_t index = 0; index < lines.size(); ++index) {
    if (index == 8 && lines.size() > 10) {
      text += ", ... " + std::to_string(lines.back());
      break;
    }
    text += (index == 0 ? "" : ", ") + std::to_string(lines[index]);
  }
  return text + "]";
}

// Device text is the device's: in a page it is text, never markup.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '&':
        escaped += "&amp;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string Where(const Reading& reading) {
  if (!reading.found) return "";
  return "Portprobe report: lines " + std::to_string(reading.firstLine) + " to " + std::to_string(reading.lastLine) +
         " of the text.";
}

} // namespace

std::string FindingsOnly(const Reading& reading) {
  std::string text;
  for (const Finding& finding : reading.findings) text += "- " + finding.text + "\n";
  for (const Finding& unknown : reading.notUnderstood) text += "- not understood: " + unknown.text + "\n";
  return text;
}

std::string RenderText(const Reading& reading) {
  // Names and identity texts are the devices': on a terminal, shown
  // escaped as the tool's console shows them.
  const auto safe = [](const std::string& text) { return MakeConsoleSafe(text.data(), text.size()); };
  std::string text = Where(reading);
  if (!text.empty()) text += "\n\n";
  text += "Findings:\n";
  for (const Finding& finding : reading.findings) text += "- " + safe(finding.text) + Lines(finding.lines) + "\n";
  if (!reading.notUnderstood.empty()) {
    text += "\nNot understood:\n";
    for (const Finding& unknown : reading.notUnderstood) {
      text += "- line " + std::to_string(unknown.lines.front()) + ": " + safe(unknown.text) + "\n";
    }
  }
  if (!reading.log.empty()) {
    text += "\nDecoded log:\n";
    for (const DecodedLine& line : reading.log) {
      text += std::to_string(line.line) + ": " + safe(line.logged) + "  =  " + safe(line.meaning) + "\n";
    }
  }
  return text;
}

std::string RenderHtml(const Reading& reading) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Portprobe report</title>\n"
         "<style>body{font-family:sans-serif;margin:2em}td{padding:0 .6em;vertical-align:top}"
         ".line{color:#777;text-align:right}.logged{font-family:monospace}</style></head><body>\n" +
         RenderHtmlBody(reading) + "</body></html>\n";
}

std::string RenderHtmlBody(const Reading& reading) {
  std::string page = "<p>" + Escaped(Where(reading)) + "</p>\n<h2>Findings</h2>\n<ul id=\"findings\">\n";
  for (const Finding& finding : reading.findings) {
    page += "<li>" + Escaped(finding.text) + "<span class=\"line\">" + Escaped(Lines(finding.lines)) + "</span></li>\n";
  }
  page += "</ul>\n";
  if (!reading.notUnderstood.empty()) {
    page += "<h2>Not understood</h2>\n<ul id=\"not-understood\">\n";
    for (const Finding& unknown : reading.notUnderstood) {
      page += "<li>line " + std::to_string(unknown.lines.front()) + ": " + Escaped(unknown.text) + "</li>\n";
    }
    page += "</ul>\n";
  }
  if (!reading.log.empty()) {
    page += "<h2>Decoded log</h2>\n<table id=\"log\">\n";
    for (const DecodedLine& line : reading.log) {
      page += "<tr><td class=\"line\">" + std::to_string(line.line) + "</td><td class=\"logged\">" +
              Escaped(line.logged) + "</td><td>" + Escaped(line.meaning) + "</td></tr>\n";
    }
    page += "</table>\n";
  }
  return page;
}

} // namespace reader
