// The reader's core as the web page's worker calls it: a pasted text
// (UTF-8) in, the findings out as the page's HTML; the reading is kept, and
// the decoded log's rows are made when the page shows them. Each result is
// the caller's to free; a null result means memory ran out.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

namespace {

std::unique_ptr<report_reader::Reading> current;

char* Copy(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

} // namespace

extern "C" {

// Reads the pasted text, `length` bytes; keeps the reading for the rows.
char* portprobe_read(const char* pasted, size_t length) {
  current.reset();
  current = std::make_unique<report_reader::Reading>(report_reader::Read(std::string_view(pasted, length)));
  return Copy(report_reader::RenderFindingsHtml(*current));
}

// Rows of the decoded log of the last reading.
size_t portprobe_log_rows() {
  return current ? current->LogSize() : 0;
}

// Rows first to first + count - 1 of the decoded log, as table rows.
char* portprobe_log_html(size_t first, size_t count) {
  return Copy(current ? report_reader::RenderLogRowsHtml(*current, first, count) : std::string());
}

// The reading as portprobe-read prints it.
char* portprobe_read_text(const char* pasted, size_t length) {
  return Copy(report_reader::RenderText(report_reader::Read(std::string_view(pasted, length))));
}

} // extern "C"
