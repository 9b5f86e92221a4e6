#include "app/clipboard_report.h"

#include <cstring>

#include "app/log_sink.h"

namespace app {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the well-formed sequence starting at text[at] and its code
// point, or 0 when the byte there starts none.
size_t DecodeOne(const std::string& text, size_t at, char32_t& point) {
  const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    point = lead;
    return 1;
  }
  size_t length;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
    point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
    point = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) return 0;
    point = (point << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and points beyond U+10FFFF are not text.
  if (point < minimum || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) return 0;
  return length;
}

// The UTF-16 copy is a courtesy for mail programs: when it cannot be made,
// the 8-bit text is still there, so nothing is said.
void OfferUnicodeText(const std::string& report, ClipboardCalls& calls) {
  const std::u16string text = Utf8ToUtf16(report);
  const size_t bytes = (text.size() + 1) * sizeof(char16_t);
  ClipboardCalls::Memory memory = calls.Allocate(bytes);
  if (memory == nullptr) return;
  void* target = calls.Lock(memory);
  if (target == nullptr) {
    calls.Free(memory);
    return;
  }
  std::memcpy(target, text.c_str(), bytes);
  calls.Unlock(memory);
  if (!calls.SetData(kClipboardUnicodeText, memory)) calls.Free(memory);
}

bool OpenWithRetries(ClipboardCalls& calls) {
  for (int attempt = 1;; ++attempt) {
    if (calls.Open()) return true;
    if (attempt == kClipboardOpenAttempts) return false;
    calls.Pause(kClipboardOpenPauseMs);
  }
}

} // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string result;
  result.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    char32_t point = 0;
    const size_t length = DecodeOne(text, at, point);
    if (length == 0) {
      result += kReplacement;
      ++at;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      result += static_cast<char16_t>(0xD800 + (point >> 10));
      result += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    } else {
      result += static_cast<char16_t>(point);
    }
    at += length;
  }
  return result;
}

bool CopyReportToClipboard(const std::string& report, ClipboardCalls& calls) {
  if (!OpenWithRetries(calls)) {
    ConsolePrintf("Could not open clipboard.");
    return false;
  }
  calls.Empty();
  const size_t length = report.size();
  // Twice the length plus two, although only length + 1 bytes are written.
  ClipboardCalls::Memory memory = calls.Allocate(2 * length + 2);
  if (memory == nullptr) {
    calls.Close();
    return false;
  }
  auto* target = static_cast<char*>(calls.Lock(memory));
  if (target == nullptr) {
    calls.Free(memory);
    calls.Close();
    return false;
  }
  std::memcpy(target, report.data(), length);
  target[length] = '\0';
  calls.Unlock(memory);
  if (!calls.SetData(kClipboardText, memory)) {
    // The clipboard did not take the memory, so it is still ours to free,
    // and the user must not be told to paste a report that is not there.
    calls.Free(memory);
    calls.Close();
    return false;
  }
  OfferUnicodeText(report, calls);
  calls.Close();
  ConsolePrintf("Portprobe finished, paste clipboard into an email.");
  return true;
}

} // namespace app
