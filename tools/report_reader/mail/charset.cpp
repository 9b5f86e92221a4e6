#include "tools/report_reader/mail/charset.h"

#include <cctype>
#include <cstdint>

namespace report_reader::mail {

namespace {

enum class Charset { Utf8, Ascii, Windows1252, Latin1, Latin9, Unknown };

std::string Lowered(std::string_view text) {
  std::string lowered;
  for (const char c : text) lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

Charset Named(std::string_view name) {
  const std::string lowered = Lowered(name);
  if (lowered == "utf-8" || lowered == "utf8") return Charset::Utf8;
  if (lowered.empty() || lowered == "us-ascii" || lowered == "ascii" || lowered == "ansi_x3.4-1968") {
    return Charset::Ascii;
  }
  if (lowered == "windows-1252" || lowered == "cp1252" || lowered == "x-cp1252") return Charset::Windows1252;
  if (lowered == "iso-8859-1" || lowered == "iso8859-1" || lowered == "latin1" || lowered == "latin-1" ||
      lowered == "iso_8859-1") {
    return Charset::Latin1;
  }
  if (lowered == "iso-8859-15" || lowered == "iso8859-15" || lowered == "latin-9" || lowered == "latin9" ||
      lowered == "iso_8859-15") {
    return Charset::Latin9;
  }
  return Charset::Unknown;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// windows-1252's 0x80 to 0x9F; the five it leaves undefined stand for
// themselves, as Windows' own conversion has them.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t Latin9(uint8_t byte) {
  switch (byte) {
    case 0xA4:
      return 0x20AC;
    case 0xA6:
      return 0x0160;
    case 0xA8:
      return 0x0161;
    case 0xB4:
      return 0x017D;
    case 0xB8:
      return 0x017E;
    case 0xBC:
      return 0x0152;
    case 0xBD:
      return 0x0153;
    case 0xBE:
      return 0x0178;
    default:
      return byte;
  }
}

std::string FromSingleByte(std::string_view bytes, Charset charset) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (const char c : bytes) {
    const uint8_t byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      out += c;
    } else if (charset == Charset::Windows1252 && byte < 0xA0) {
      AppendUtf8(out, kWindows1252High[byte - 0x80]);
    } else if (charset == Charset::Latin9) {
      AppendUtf8(out, Latin9(byte));
    } else {
      AppendUtf8(out, byte);
    }
  }
  return out;
}

bool IsAscii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  }
  return true;
}

} // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const uint8_t lead = static_cast<uint8_t>(bytes[at]);
    size_t more;
    uint32_t code;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      more = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      more = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (at + more >= bytes.size()) return false;
    for (size_t index = 1; index <= more; ++index) {
      const uint8_t next = static_cast<uint8_t>(bytes[at + index]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode's end.
    static constexpr uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[more] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    at += more + 1;
  }
  return true;
}

std::string ToUtf8(std::string bytes, std::string_view charset, std::string& note) {
  note.clear();
  const Charset named = Named(charset);
  switch (named) {
    case Charset::Utf8:
      if (IsValidUtf8(bytes)) return bytes;
      note = "The text is not valid UTF-8 as its mail says; it was read as windows-1252.";
      return FromSingleByte(bytes, Charset::Windows1252);
    case Charset::Ascii:
      if (IsAscii(bytes)) return bytes;
      // Mail programs that name no charset, or US-ASCII, yet send 8-bit
      // bytes: most often UTF-8, else the sender's Windows code page.
      if (IsValidUtf8(bytes)) {
        note = "The text holds bytes beyond US-ASCII, which its mail names; they were read as UTF-8.";
        return bytes;
      }
      note = "The text holds bytes beyond US-ASCII, which its mail names; they were read as windows-1252.";
      return FromSingleByte(bytes, Charset::Windows1252);
    case Charset::Windows1252:
    case Charset::Latin1:
    case Charset::Latin9:
      return FromSingleByte(bytes, named);
    case Charset::Unknown:
      break;
  }
  if (IsValidUtf8(bytes)) {
    note = "The text's charset \"" + std::string(charset) + "\" is not one the reader knows; it was read as UTF-8.";
    return bytes;
  }
  note = "The text's charset \"" + std::string(charset) +
         "\" is not one the reader knows; it was read as windows-1252, and names beyond ASCII may be wrong.";
  return FromSingleByte(bytes, Charset::Windows1252);
}

} // namespace report_reader::mail
