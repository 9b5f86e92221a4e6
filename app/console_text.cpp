#include "app/console_text.h"

namespace app {

namespace {

// Length of the valid UTF-8 sequence at text, or 0 when the byte there must
// be escaped (a control, an invalid or incomplete sequence, a C1 control).
size_t SafeSequenceLength(const unsigned char* text, size_t remaining) {
  const unsigned char lead = text[0];
  if (lead < 0x80) return (lead >= 0x20 && lead != 0x7F) || lead == '\n' || lead == '\t' ? 1 : 0;
  size_t length;
  unsigned minimum;
  unsigned codePoint;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (remaining < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (text[i] & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF) return 0; // overlong or out of range
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;  // surrogates
  if (codePoint >= 0x80 && codePoint <= 0x9F) return 0;      // C1 controls, CSI among them
  return length;
}

} // namespace

bool IsConsoleSafe(const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t at = 0; at < length;) {
    // Printable ASCII, the bulk of every log line, passes without decoding.
    const unsigned char byte = bytes[at];
    if (byte >= 0x20 && byte < 0x7F) {
      ++at;
      continue;
    }
    const size_t step = SafeSequenceLength(bytes + at, length - at);
    if (step == 0) return false;
    at += step;
  }
  return true;
}

std::string MakeConsoleSafe(const char* text, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::string safe;
  safe.reserve(length);
  for (size_t at = 0; at < length;) {
    const size_t step = SafeSequenceLength(bytes + at, length - at);
    if (step != 0) {
      safe.append(text + at, step);
      at += step;
      continue;
    }
    const char escape[4] = {'\\', 'x', kHex[bytes[at] >> 4], kHex[bytes[at] & 0x0F]};
    safe.append(escape, sizeof escape);
    ++at;
  }
  return safe;
}

} // namespace app
