// The reader's core as the web page calls it: a pasted text (UTF-8) in, the
// reading out as the page's HTML or as portprobe-read's text. Each result
// is the caller's to free.
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

namespace {

char* Copy(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

} // namespace

extern "C" {

char* portprobe_read_html(const char* pasted) {
  return Copy(reader::RenderHtmlBody(reader::Read(pasted)));
}

char* portprobe_read_text(const char* pasted) {
  return Copy(reader::RenderText(reader::Read(pasted)));
}

} // extern "C"
