#include "tools/report_reader/mail/html_text.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace report_reader::mail {

namespace {

bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The entities mail programs write; any other stays as it stands.
struct Named {
  const char* name;
  uint32_t code;
};
constexpr Named kEntities[] = {
    {"amp", '&'},   {"lt", '<'},        {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", ' '},  {"euro", 0x20AC},   {"eacute", 0xE9},  {"egrave", 0xE8},  {"agrave", 0xE0},
    {"auml", 0xE4}, {"ouml", 0xF6},     {"uuml", 0xFC},    {"szlig", 0xDF},   {"ccedil", 0xE7},
    {"copy", 0xA9}, {"hellip", 0x2026}, {"ndash", 0x2013}, {"mdash", 0x2014},
};

// The entity at `at` (just after its "&"), appended; the characters it
// took, or 0 when it is none.
size_t Entity(std::string_view html, size_t at, std::string& out) {
  const size_t semicolon = html.find(';', at);
  if (semicolon == std::string_view::npos || semicolon - at > 10 || semicolon == at) return 0;
  const std::string_view name = html.substr(at, semicolon - at);
  if (name[0] == '#') {
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    uint32_t code = 0;
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return 0;
    for (const char c : digits) {
      const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                        : hex && std::isxdigit(static_cast<unsigned char>(c))
                            ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                            : -1;
      if (value < 0) return 0;
      code = code * (hex ? 16 : 10) + static_cast<uint32_t>(value);
      if (code > 0x10FFFF) return 0;
    }
    // A non-breaking blank is a blank to the report's lines.
    AppendUtf8(out, code == 0xA0 ? ' ' : code);
    return name.size() + 1;
  }
  for (const Named& entity : kEntities) {
    if (name == entity.name) {
      AppendUtf8(out, entity.code);
      return name.size() + 1;
    }
  }
  return 0;
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* one : names) {
    if (name == one) return true;
  }
  return false;
}

class Writer {
 public:
  std::string text;
  int depth = 0;
  bool pre = false;

  void Space() {
    if (lineOpen) blankPending = true; // run together, and none at a line's start
  }
  void LineEnd() {
    text += '\n';
    lineOpen = false;
    blankPending = false;
  }
  // Ends the line when something stands on it: blocks open and close
  // their own lines, and an empty block adds no blank line (a <br> does).
  void BlockEdge() {
    if (lineOpen) LineEnd();
  }
  void Text(char c) {
    if (IsHtmlSpace(c) && !pre) return Space();
    if (c == '\r') return;
    if (c == '\n') return LineEnd();
    if (blankPending) {
      blankPending = false;
      text += ' ';
    }
    StartLine();
    text += c;
  }
  // An entity's text: a blank written as one (&nbsp;) is kept, not run
  // together with its neighbours.
  void Decoded(const std::string& decoded) {
    for (const char c : decoded) {
      if (c != ' ') {
        Text(c);
        continue;
      }
      if (blankPending) text += ' ';
      blankPending = false;
      StartLine();
      text += ' ';
    }
  }

 private:
  void StartLine() {
    if (lineOpen) return;
    for (int level = 0; level < depth; ++level) text += "> ";
    lineOpen = true;
  }
  bool lineOpen = false;
  bool blankPending = false;
};

} // namespace

std::string HtmlToText(std::string_view html) {
  Writer out;
  out.text.reserve(html.size());
  size_t at = 0;
  while (at < html.size()) {
    const char c = html[at];
    if (c == '&') {
      std::string decoded;
      const size_t taken = Entity(html, at + 1, decoded);
      if (taken != 0) {
        out.Decoded(decoded);
        at += taken + 1;
        continue;
      }
      out.Text(c);
      ++at;
      continue;
    }
    // "<" that begins no tag ("a < b" in a mail that did not escape it)
    // is text.
    const char next = at + 1 < html.size() ? html[at + 1] : ' ';
    if (c != '<' || !(std::isalpha(static_cast<unsigned char>(next)) || next == '/' || next == '!')) {
      out.Text(c);
      ++at;
      continue;
    }
    if (html.compare(at, 4, "<!--") == 0) {
      const size_t end = html.find("-->", at + 4);
      at = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const size_t close = html.find('>', at);
    if (close == std::string_view::npos) break; // a tag cut off: nothing of it is text
    std::string_view tag = html.substr(at + 1, close - at - 1);
    at = close + 1;
    const bool ending = !tag.empty() && tag[0] == '/';
    if (ending) tag.remove_prefix(1);
    size_t nameEnd = 0;
    while (nameEnd < tag.size() && !IsHtmlSpace(tag[nameEnd]) && tag[nameEnd] != '/') ++nameEnd;
    const std::string name = Lowered(tag.substr(0, nameEnd));
    if (name.empty()) continue; // "<!DOCTYPE ...>" and the like
    if (!ending && IsOneOf(name, {"head", "style", "script", "title"})) {
      const std::string closing = "</" + name;
      size_t end = at;
      for (;;) {
        end = html.find("</", end);
        if (end == std::string_view::npos || Lowered(html.substr(end, closing.size())) == closing) break;
        end += 2;
      }
      if (end == std::string_view::npos) {
        at = html.size();
      } else {
        const size_t tagEnd = html.find('>', end);
        at = tagEnd == std::string_view::npos ? html.size() : tagEnd + 1;
      }
      continue;
    }
    if (name == "br") {
      out.LineEnd();
    } else if (name == "blockquote") {
      out.BlockEdge();
      out.depth += ending ? (out.depth > 0 ? -1 : 0) : 1;
    } else if (name == "pre") {
      out.BlockEdge();
      out.pre = !ending;
    } else if (IsOneOf(name, {"p",  "div", "tr", "li", "ul",   "ol",   "table",   "h1",      "h2",     "h3",
                              "h4", "h5",  "h6", "hr", "body", "html", "section", "article", "header", "footer"})) {
      out.BlockEdge();
    } else if (name == "td" || name == "th") {
      if (!ending) out.Space();
    }
  }
  // Blanks that close a line are the markup's, not the report's.
  std::string& text = out.text;
  std::string trimmed;
  trimmed.reserve(text.size());
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = text.size();
    size_t stop = end;
    while (stop > start && text[stop - 1] == ' ') --stop;
    trimmed.append(text, start, stop - start);
    if (last) break;
    trimmed += '\n';
    start = end + 1;
  }
  return trimmed;
}

} // namespace report_reader::mail
