// The mail decoding's corners that the mailed reports (written by Python's
// email package and libmime, tests/tools/mail/) do not reach: the texts
// below are as other mail programs and gateways write them, each written
// out by hand from the RFC it follows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/report_reader/mail/charset.h"
#include "tools/report_reader/mail/flowed_text.h"
#include "tools/report_reader/mail/html_text.h"
#include "tools/report_reader/mail/mail_headers.h"
#include "tools/report_reader/mail/mail_texts.h"
#include "tools/report_reader/mail/transfer_decoding.h"

namespace {

using report_reader::mail::TextsOf;

TEST(MailDecoding, TextsComeBackAsTheirWriterTypedThem) {
  struct Case {
    const char* what;
    std::string decoded;
    std::string expected;
  };
  using namespace report_reader::mail;
  const std::vector<Case> cases = {
      {"quoted-printable soft breaks on CR LF lines, =XX, a bare = kept, transport blanks off",
       DecodeQuotedPrintable("MIDI device found: P=C3=A9dale=\r\n =E2=82=AC  \r\nx = y=3\r\n"),
       "MIDI device found: P\xC3\xA9"
       "dale \xE2\x82\xAC\r\nx = y=3\r\n"},
      {"base64 across lines, a stray character, stops at padding", DecodeBase64("TUlN\r\nX09Q*RU4=\r\nZZZZ"),
       "MIM_OPEN"},
      // RFC 3676 4.1 to 4.5: soft breaks joined, stuffing off, quote
      // depth kept, the signature line hard.
      {"format=flowed", UnflowText("MIDI device \r\nfound: X\r\n From here\r\n>> a \r\n>> b\r\n-- \r\nsig", false),
       "MIDI device found: X\nFrom here\n>> a b\n-- \nsig"},
      {"format=flowed, DelSp=yes", UnflowText("{ 0xF0, 0x7E,  \r\n0xF7,};\r\n", true), "{ 0xF0, 0x7E, 0xF7,};\n"},
      {"format=flowed, a soft break before a change of depth is hard", UnflowText("> a \r\nb\r\n", false), "> a \nb\n"},
      {"HTML: entities, blanks run together, <br> and blocks, blockquote as quotes, style out",
       HtmlToText("<style>p{}</style><p>Run Time: 1.0 &nbsp;x&amp;y&#233;&#x20AC;</p>\n<blockquote><div>got "
                  "MIDI:\n 90 3C 64</div><div><br></div></blockquote>a < b<!-- c -->"),
       "Run Time: 1.0  x&y\xC3\xA9\xE2\x82\xAC\n> got MIDI: 90 3C 64\n\na < b"},
      {"HTML: <pre> keeps its blanks and line ends", HtmlToText("<pre>a  b\nc</pre>d"), "a  b\nc\nd"},
      {"encoded words: B and Q, blanks between two dropped, the rest kept",
       DecodeEncodedWords("Re: =?utf-8?B?UMOpZGFsZQ==?= =?ISO-8859-1?Q?_=80_?= done"),
       "Re: P\xC3\xA9"
       "dale \xC2\x80  done"},
  };
  for (const Case& test : cases) EXPECT_EQ(test.decoded, test.expected) << test.what;
}

TEST(MailDecoding, CharsetsAreReadAsNamedAndWhatIsNotKnownSaysSo) {
  struct Case {
    const char* charset;
    std::string bytes;
    std::string expected;
    bool noted;
  };
  const std::vector<Case> cases = {
      {"windows-1252",
       "P\xE9"
       "dale \x80",
       "P\xC3\xA9"
       "dale \xE2\x82\xAC",
       false},
      {"ISO-8859-15",
       "P\xE9"
       "dale \xA4",
       "P\xC3\xA9"
       "dale \xE2\x82\xAC",
       false},
      {"latin1",
       "P\xE9"
       "dale \xA4",
       "P\xC3\xA9"
       "dale \xC2\xA4",
       false},
      {"utf-8", "P\xC3\xA9", "P\xC3\xA9", false},
      {"utf-8", "P\xE9", "P\xC3\xA9", true},            // not UTF-8 at all
      {"", "P\xC3\xA9", "P\xC3\xA9", true},             // none named, 8-bit bytes
      {"koi8-r", "P\xC3\xA9", "P\xC3\xA9", true},       // unknown, valid UTF-8
      {"koi8-r", "\xF0\xD2", "\xC3\xB0\xC3\x92", true}, // unknown, read as windows-1252
  };
  for (const Case& test : cases) {
    std::string note;
    EXPECT_EQ(report_reader::mail::ToUtf8(test.bytes, test.charset, note), test.expected) << test.charset;
    EXPECT_EQ(!note.empty(), test.noted) << test.charset << ": " << note;
    if (std::string(test.charset) == "koi8-r") {
      EXPECT_NE(note.find("\"koi8-r\""), std::string::npos) << note;
    }
  }
}

TEST(MailDecoding, AMailIsTakenApartAsItsStructureSays) {
  // Folded headers, an RFC 2231 file name in pieces, an inline picture
  // passed over, a forwarded mail with its own origin, and a multipart cut
  // off before its closing line.
  const std::string mail =
      "Received: from x\r\n\tby y\r\nFrom: Ann <ann@example.org>\r\nSubject: =?utf-8?Q?Pr=C3=BCfung?=\r\n"
      "  report\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"=-b\"\r\n\r\n"
      "preamble\r\n--=-b\r\nContent-Type: text/plain\r\n\r\nbody text\r\n--=-b\r\n"
      "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0K\r\n--=-b\r\n"
      "Content-Type: application/octet-stream\r\nContent-Disposition: attachment;\r\n"
      " filename*0*=utf-8''P%C3%A9dale;\r\n filename*1=\".txt\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "TUlNX09QRU4=\r\n--=-b\r\nContent-Type: message/rfc822\r\n\r\nFrom: Bo <bo@example.net>\r\n"
      "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\nforwarded\r\n--=-b\r\nContent-Type: text/plain\r\n\r\ncut";
  const std::vector<report_reader::mail::MailText> texts = TextsOf(mail);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].Text(), "body text");
  EXPECT_EQ(texts[0].origin.subject,
            "Pr\xC3\xBC"
            "fung report");
  EXPECT_EQ(texts[1].origin.part,
            "the attachment \"P\xC3\xA9"
            "dale.txt\"");
  EXPECT_EQ(texts[1].Text(), "MIM_OPEN");
  EXPECT_EQ(texts[2].origin.sender, "Bo <bo@example.net>");
  EXPECT_EQ(texts[2].Text(), "forwarded");
  EXPECT_EQ(texts[3].Text(), "cut");
}

TEST(MailDecoding, AnMboxIsSplitAtItsFromLinesAndTextThatIsNoMailIsLeftAlone) {
  const std::string mbox =
      "From ann@example.org Thu Dec 10 09:30:00 2026\nFrom: Ann\nSubject: one\n\n>From the start\n\n"
      "From bo@example.net Thu Dec 10 09:31:00 2026\nFrom: Bo\n\nFrom: inside the body\n";
  const std::vector<report_reader::mail::MailText> mails = TextsOf(mbox);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].Text(), "From the start\n\n");
  EXPECT_EQ(mails[1].origin.mailNumber, 2u);
  EXPECT_EQ(mails[1].Text(), "From: inside the body\n");
  // A report's own lines have colons, and a pasted greeting may too, or
  // begin as an mbox's separator line does.
  for (const char* text : {"MIDI device found: BCF2000\nRun Time: 1.0  Interval Time: 1.0\n",
                           "Hi: my controller\n\nMIM_OPEN\n", "From Ann, about my controller:\n\nMIM_OPEN\n"}) {
    const std::vector<report_reader::mail::MailText> plain = TextsOf(text);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_FALSE(plain[0].origin.mail) << text;
    EXPECT_EQ(plain[0].Text().data(), text) << "the paste itself, not a copy";
  }
}

} // namespace
