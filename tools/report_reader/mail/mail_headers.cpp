#include "tools/report_reader/mail/mail_headers.h"

#include <algorithm>
#include <cctype>

#include "tools/report_reader/mail/charset.h"
#include "tools/report_reader/mail/transfer_decoding.h"

namespace report_reader::mail {

namespace {

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// A field name: printable ASCII but blank and colon (RFC 5322 2.2).
size_t FieldNameLength(std::string_view line) {
  size_t at = 0;
  while (at < line.size() && line[at] > ' ' && line[at] < 127 && line[at] != ':') ++at;
  return at < line.size() && line[at] == ':' ? at : 0;
}

// The fields that tell a mail's header block (or a part's) from text that
// happens to have a colon in its first line.
bool IsTellingField(const std::string& name, bool part) {
  static const char* const kMail[] = {"from",         "date",        "subject",      "to",           "message-id",
                                      "received",     "return-path", "mime-version", "delivered-to", "reply-to",
                                      "content-type", "x-mailer",    "user-agent"};
  if (part) return name.rfind("content-", 0) == 0;
  return std::any_of(std::begin(kMail), std::end(kMail), [&](const char* one) { return name == one; });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 && HexValue(text[at + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
      at += 2;
    } else {
      decoded += text[at];
    }
  }
  return decoded;
}

} // namespace

std::string Headers::Get(std::string_view name) const {
  for (const auto& [field, value] : fields) {
    if (field == name) return value;
  }
  return "";
}

bool SplitHeaders(std::string_view text, Headers& headers, std::string_view& body, bool part) {
  Headers found;
  bool telling = false;
  size_t at = 0;
  for (;;) {
    if (at >= text.size()) {
      // Headers and no body.
      body = std::string_view();
      break;
    }
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    const size_t next = std::min(end + 1, text.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      body = text.substr(next);
      break;
    }
    if ((line[0] == ' ' || line[0] == '\t') && !found.fields.empty()) {
      // A folded line goes on the field before it.
      found.fields.back().second += ' ';
      found.fields.back().second += Trimmed(line);
    } else if (const size_t nameLength = FieldNameLength(line); nameLength != 0) {
      std::string name = Lowered(line.substr(0, nameLength));
      telling = telling || IsTellingField(name, part);
      found.fields.emplace_back(std::move(name), std::string(Trimmed(line.substr(nameLength + 1))));
    } else if (at == 0 && !part && line.rfind("From ", 0) == 0) {
      // An mbox's separator line left on a mail.
    } else {
      return false;
    }
    at = next;
  }
  // A MIME part may have no header at all: it is then text/plain.
  if (!telling && !(part && found.fields.empty())) return false;
  headers = std::move(found);
  return true;
}

std::string StructuredValue::Parameter(std::string_view name) const {
  for (const auto& [parameter, value] : parameters) {
    if (parameter == name) return value;
  }
  return "";
}

StructuredValue ParseStructured(std::string_view field) {
  StructuredValue parsed;
  // Parameters in pieces ("name*0*=utf-8''a%20b", "name*1=c"), joined
  // before they are stored.
  struct Piece {
    std::string name;
    int section;
    bool extended;
    std::string value;
  };
  std::vector<Piece> pieces;
  size_t at = 0;
  bool first = true;
  while (at <= field.size()) {
    // One item up to the next ";" outside quotes.
    std::string item;
    bool quoted = false;
    bool wasQuoted = false;
    for (; at < field.size(); ++at) {
      const char c = field[at];
      if (quoted && c == '\\' && at + 1 < field.size()) {
        item += field[++at];
      } else if (c == '"') {
        quoted = !quoted;
        wasQuoted = true;
      } else if (c == ';' && !quoted) {
        break;
      } else {
        item += c;
      }
    }
    ++at;
    if (first) {
      parsed.value = Lowered(Trimmed(item));
      first = false;
      continue;
    }
    const size_t equals = item.find('=');
    if (equals == std::string::npos) continue;
    std::string name = Lowered(Trimmed(std::string_view(item).substr(0, equals)));
    std::string value(wasQuoted ? std::string_view(item).substr(equals + 1)
                                : Trimmed(std::string_view(item).substr(equals + 1)));
    if (wasQuoted) value = std::string(Trimmed(value));
    Piece piece{name, -1, false, value};
    const size_t star = name.find('*');
    if (star != std::string::npos) {
      piece.name = name.substr(0, star);
      std::string rest = name.substr(star + 1);
      piece.extended = !rest.empty() && rest.back() == '*';
      if (piece.extended) rest.pop_back();
      if (rest.empty()) {
        piece.section = 0;
        piece.extended = true; // "name*=": one piece, extended
      } else {
        piece.section = std::all_of(rest.begin(), rest.end(), [](char c) { return std::isdigit(c) != 0; })
                            ? std::stoi(rest.substr(0, 6))
                            : 0;
      }
    }
    pieces.push_back(std::move(piece));
  }
  for (size_t index = 0; index < pieces.size(); ++index) {
    const Piece& piece = pieces[index];
    if (piece.section < 0) {
      parsed.parameters.emplace_back(piece.name, piece.value);
      continue;
    }
    if (piece.section != 0) continue; // joined with its section 0 below
    std::vector<const Piece*> sections;
    for (const Piece& other : pieces) {
      if (other.name == piece.name && other.section >= 0) sections.push_back(&other);
    }
    std::sort(sections.begin(), sections.end(), [](const Piece* a, const Piece* b) { return a->section < b->section; });
    std::string charset;
    std::string joined;
    for (const Piece* section : sections) {
      std::string_view value = section->value;
      if (section->extended && section->section == 0) {
        // charset'language'text
        const size_t quote1 = value.find('\'');
        const size_t quote2 = quote1 == std::string_view::npos ? quote1 : value.find('\'', quote1 + 1);
        if (quote2 != std::string_view::npos) {
          charset = std::string(value.substr(0, quote1));
          value.remove_prefix(quote2 + 1);
        }
      }
      joined += section->extended ? PercentDecoded(value) : std::string(value);
    }
    std::string note;
    parsed.parameters.emplace_back(piece.name, charset.empty() ? joined : ToUtf8(joined, charset, note));
  }
  return parsed;
}

std::string DecodeEncodedWords(std::string_view field) {
  std::string decoded;
  size_t at = 0;
  bool lastWasWord = false;
  while (at < field.size()) {
    const size_t start = field.find("=?", at);
    const size_t charsetEnd = start == std::string_view::npos ? start : field.find('?', start + 2);
    const size_t textStart = charsetEnd == std::string_view::npos || charsetEnd + 2 >= field.size()
                                 ? std::string_view::npos
                                 : charsetEnd + 3;
    const size_t end = textStart == std::string_view::npos || field[charsetEnd + 2] != '?'
                           ? std::string_view::npos
                           : field.find("?=", textStart);
    if (end == std::string_view::npos) {
      decoded += field.substr(at);
      break;
    }
    const std::string_view between = field.substr(at, start - at);
    const bool onlyBlanks = between.find_first_not_of(" \t") == std::string_view::npos;
    if (!(lastWasWord && onlyBlanks)) decoded += between;
    std::string charset(field.substr(start + 2, charsetEnd - start - 2));
    const size_t language = charset.find('*'); // RFC 2231's "charset*language"
    if (language != std::string::npos) charset.resize(language);
    const char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(field[charsetEnd + 1])));
    const std::string_view text = field.substr(textStart, end - textStart);
    std::string bytes;
    if (encoding == 'B') {
      bytes = DecodeBase64(text);
    } else if (encoding == 'Q') {
      // Quoted-printable's cousin (RFC 2047 4.2): "_" a blank, and no line
      // ends, so no blank at an end is the transport's.
      for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] == '_') {
          bytes += ' ';
        } else if (text[index] == '=' && index + 2 < text.size() && HexValue(text[index + 1]) >= 0 &&
                   HexValue(text[index + 2]) >= 0) {
          bytes += static_cast<char>(HexValue(text[index + 1]) * 16 + HexValue(text[index + 2]));
          index += 2;
        } else {
          bytes += text[index];
        }
      }
    } else {
      bytes = std::string(field.substr(start, end + 2 - start));
      charset = "utf-8";
    }
    std::string note;
    decoded += ToUtf8(bytes, charset, note);
    lastWasWord = true;
    at = end + 2;
  }
  return decoded;
}

} // namespace report_reader::mail
