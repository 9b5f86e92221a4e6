// The texts a paste holds, as support staff receive them: a saved mail
// (.eml), an mbox of many, or no mail at all. Each mail gives the texts a
// report may stand in: its plain body, its attached text files, an HTML
// body where it has no plain one, and the mails it forwards inside it; each
// decoded (quoted-printable, base64; its charset made UTF-8; format=flowed
// undone) and told by where it came from.
//
// Text that is no mail is one text, the paste itself, not copied: a
// twenty-megabyte report pasted costs nothing more here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace report_reader::mail {

struct Origin {
  bool mail = false;     // the text came out of a mail
  size_t mailNumber = 0; // of an mbox, from 1
  std::string date;      // the mail's Date field, as it stands
  std::string sender;    // its From, encoded words decoded
  std::string subject;   // its Subject, likewise
  std::string part;      // "the body", "the attachment \"portprobe-report.txt\"", "the HTML body"
};

struct MailText {
  Origin origin;
  std::vector<std::string> notes; // what was read other than as the mail says
  // The text: decoded out of a mail, or the paste itself.
  std::string decoded;
  std::string_view pasted;
  bool fromPaste = false;

  std::string_view Text() const { return fromPaste ? pasted : std::string_view(decoded); }
};

std::vector<MailText> TextsOf(std::string_view pasted);

} // namespace report_reader::mail
