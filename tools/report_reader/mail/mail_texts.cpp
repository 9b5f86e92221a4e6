#include "tools/report_reader/mail/mail_texts.h"

#include <cctype>

#include "tools/report_reader/mail/charset.h"
#include "tools/report_reader/mail/flowed_text.h"
#include "tools/report_reader/mail/html_text.h"
#include "tools/report_reader/mail/mail_headers.h"
#include "tools/report_reader/mail/transfer_decoding.h"

namespace report_reader::mail {

namespace {

// Nested parts deeper than any mail program writes are a mail built to hurt
// the reader, and are passed over.
constexpr int kDeepestPart = 16;

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Part {
  Headers headers;
  std::string_view body;
};

// A multipart body's parts, between its boundary lines.
std::vector<Part> PartsOf(std::string_view body, const std::string& boundary) {
  std::vector<Part> parts;
  if (boundary.empty()) return parts;
  const std::string dashes = "--" + boundary;
  size_t partStart = std::string_view::npos;
  size_t at = 0;
  while (at <= body.size()) {
    size_t end = body.find('\n', at);
    const bool last = end == std::string_view::npos;
    if (last) end = body.size();
    std::string_view line = body.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.compare(0, dashes.size(), dashes) == 0) {
      std::string_view rest = line.substr(dashes.size());
      const bool closing = rest.compare(0, 2, "--") == 0;
      if (closing) rest.remove_prefix(2);
      if (rest.find_first_not_of(" \t") == std::string_view::npos) {
        if (partStart != std::string_view::npos) {
          // The line end before the boundary line belongs to it.
          size_t partEnd = at;
          if (partEnd > partStart && body[partEnd - 1] == '\n') --partEnd;
          if (partEnd > partStart && body[partEnd - 1] == '\r') --partEnd;
          Part part;
          const std::string_view text = body.substr(partStart, partEnd - partStart);
          if (!SplitHeaders(text, part.headers, part.body, true)) part.body = text;
          parts.push_back(part);
        }
        if (closing) return parts;
        partStart = last ? body.size() : end + 1;
      }
    }
    if (last) break;
    at = end + 1;
  }
  // A multipart cut off before its closing line: its last part as far as
  // it goes.
  if (partStart != std::string_view::npos && partStart < body.size()) {
    Part part;
    const std::string_view text = body.substr(partStart);
    if (!SplitHeaders(text, part.headers, part.body, true)) part.body = text;
    parts.push_back(part);
  }
  return parts;
}

class Walk {
 public:
  explicit Walk(std::vector<MailText>& texts) : texts(texts) {}

  void Mail(std::string_view mail, size_t mailNumber) {
    Part whole;
    if (!SplitHeaders(mail, whole.headers, whole.body, false)) {
      whole.body = mail;
    }
    Origin origin;
    origin.mail = true;
    origin.mailNumber = mailNumber;
    origin.date = whole.headers.Get("date");
    origin.sender = DecodeEncodedWords(whole.headers.Get("from"));
    origin.subject = DecodeEncodedWords(whole.headers.Get("subject"));
    const size_t before = texts.size();
    Entity(whole, origin, 0);
    if (texts.size() == before) {
      // A mail with nothing readable in it still tells where it came from.
      MailText empty;
      empty.origin = origin;
      empty.origin.part = "the body";
      empty.notes.push_back("The mail holds no text part.");
      texts.push_back(std::move(empty));
    }
  }

 private:
  void Entity(const Part& part, const Origin& origin, int depth) {
    if (depth > kDeepestPart) return;
    const StructuredValue type = ParseStructured(part.headers.Get("content-type"));
    const std::string mediaType = type.value.empty() ? "text/plain" : type.value;
    const StructuredValue disposition = ParseStructured(part.headers.Get("content-disposition"));
    std::string filename = disposition.Parameter("filename");
    if (filename.empty()) filename = type.Parameter("name");
    filename = DecodeEncodedWords(filename);
    if (mediaType.rfind("multipart/", 0) == 0) {
      const std::vector<Part> parts = PartsOf(part.body, type.Parameter("boundary"));
      if (mediaType == "multipart/alternative") return Alternative(parts, origin, depth);
      for (const Part& child : parts) Entity(child, origin, depth + 1);
      return;
    }
    if (mediaType == "message/rfc822" || mediaType == "message/global") {
      const std::string inner = Decoded(part);
      // A forwarded mail: its own origin.
      Mail(inner, origin.mailNumber);
      return;
    }
    const std::string lowerName = Lowered(filename);
    const bool textFile = EndsWith(lowerName, ".txt") || EndsWith(lowerName, ".log") || EndsWith(lowerName, ".report");
    const bool html = mediaType == "text/html";
    // A saved report attached may come as application/octet-stream.
    if (mediaType != "text/plain" && !html && !textFile) return; // a picture, a PDF: no report in it
    MailText text;
    text.origin = origin;
    if (!filename.empty()) {
      text.origin.part = "the attachment \"" + filename + "\"";
    } else if (html) {
      text.origin.part = "the HTML body";
    } else {
      text.origin.part = "the body";
    }
    std::string note;
    std::string utf8 = ToUtf8(Decoded(part), type.Parameter("charset"), note);
    if (!note.empty()) text.notes.push_back(note);
    if (html) {
      utf8 = HtmlToText(utf8);
    } else if (Lowered(type.Parameter("format")) == "flowed") {
      utf8 = UnflowText(utf8, Lowered(type.Parameter("delsp")) == "yes");
    }
    text.decoded = std::move(utf8);
    texts.push_back(std::move(text));
  }

  // The plain part where there is one (the report as the tool wrote it),
  // else the richest the reader can read.
  void Alternative(const std::vector<Part>& parts, const Origin& origin, int depth) {
    const Part* chosen = nullptr;
    for (const Part& child : parts) {
      const std::string mediaType = ParseStructured(child.headers.Get("content-type")).value;
      if (mediaType.empty() || mediaType == "text/plain") {
        chosen = &child;
        break;
      }
    }
    if (chosen == nullptr) {
      for (auto child = parts.rbegin(); child != parts.rend() && chosen == nullptr; ++child) {
        const std::string mediaType = ParseStructured(child->headers.Get("content-type")).value;
        if (mediaType == "text/html" || mediaType.rfind("multipart/", 0) == 0) chosen = &*child;
      }
    }
    if (chosen != nullptr) Entity(*chosen, origin, depth + 1);
  }

  // The part's body as its sender wrote it.
  static std::string Decoded(const Part& part) {
    const std::string encoding = Lowered(part.headers.Get("content-transfer-encoding"));
    if (encoding == "quoted-printable") return DecodeQuotedPrintable(part.body);
    if (encoding == "base64") return DecodeBase64(part.body);
    return std::string(part.body);
  }

  std::vector<MailText>& texts;
};

// An mbox (each mail after a line "From ..."): its mails, each with the
// ">From " its writer made of a body line "From " turned back.
std::vector<std::string> MailsOfMbox(std::string_view mbox) {
  std::vector<std::string> mails;
  std::string* current = nullptr;
  bool previousEmpty = true;
  size_t at = 0;
  while (at < mbox.size()) {
    size_t end = mbox.find('\n', at);
    if (end == std::string_view::npos) end = mbox.size();
    std::string_view line = mbox.substr(at, end - at + (end < mbox.size() ? 1 : 0));
    at = end + 1;
    if (previousEmpty && line.compare(0, 5, "From ") == 0) {
      current = &mails.emplace_back();
      previousEmpty = false;
      continue;
    }
    std::string_view bare = line;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
    previousEmpty = bare.empty();
    if (current == nullptr) continue;
    size_t quotes = 0;
    while (quotes < line.size() && line[quotes] == '>') ++quotes;
    if (quotes > 0 && line.compare(quotes, 5, "From ") == 0) line.remove_prefix(1);
    current->append(line);
  }
  return mails;
}

MailText PlainText(std::string_view pasted) {
  MailText plain;
  plain.pasted = pasted;
  plain.fromPaste = true;
  return plain;
}

} // namespace

std::vector<MailText> TextsOf(std::string_view pasted) {
  std::vector<MailText> texts;
  // A byte-order mark some editors leave before a saved text.
  std::string_view text = pasted;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
  Walk walk(texts);
  Headers headers;
  std::string_view body;
  if (text.compare(0, 5, "From ") == 0) {
    const std::vector<std::string> mails = MailsOfMbox(text);
    // A paste that merely begins "From Ann: ..." is no mbox: its first mail
    // must begin with a mail's header block.
    if (mails.empty() || !SplitHeaders(mails.front(), headers, body, false)) return {PlainText(pasted)};
    size_t number = 0;
    for (const std::string& mail : mails) walk.Mail(mail, ++number);
    if (!texts.empty()) return texts;
  }
  if (SplitHeaders(text, headers, body, false)) {
    walk.Mail(text, 0);
    return texts;
  }
  texts.push_back(PlainText(pasted));
  return texts;
}

} // namespace report_reader::mail
