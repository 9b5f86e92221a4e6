#include "tools/report_reader/mail/transfer_decoding.h"

#include <array>
#include <cstdint>

#include "tools/report_reader/mail/text_lines.h"

namespace report_reader::mail {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

} // namespace

std::string DecodeQuotedPrintable(std::string_view encoded) {
  std::string decoded;
  decoded.reserve(encoded.size());
  ForEachLine(encoded, [&decoded](std::string_view line, bool crlf, bool lastLine) {
    // Blanks at a line's end are the transport's, not the text's: a
    // blank the sender meant is written "=20".
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    bool soft = false;
    for (size_t index = 0; index < line.size(); ++index) {
      const char c = line[index];
      if (c != '=') {
        decoded += c;
        continue;
      }
      if (index + 1 == line.size()) {
        soft = true;
        break;
      }
      const int high = HexValue(line[index + 1]);
      const int low = index + 2 < line.size() ? HexValue(line[index + 2]) : -1;
      if (high < 0 || low < 0) {
        decoded += c;
        continue;
      }
      decoded += static_cast<char>(high * 16 + low);
      index += 2;
    }
    if (!soft && !lastLine) decoded += crlf ? "\r\n" : "\n";
  });
  return decoded;
}

std::string DecodeBase64(std::string_view encoded) {
  static const std::array<int, 256> kValues = [] {
    std::array<int, 256> values{};
    values.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int index = 0; index < 64; ++index) values[static_cast<unsigned char>(alphabet[index])] = index;
    return values;
  }();
  std::string decoded;
  decoded.reserve(encoded.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  for (const char c : encoded) {
    if (c == '=') break;
    const int value = kValues[static_cast<unsigned char>(c)];
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      decoded += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return decoded;
}

} // namespace report_reader::mail
