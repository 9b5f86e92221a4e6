// The reader's core as the web page's worker calls it: a pasted text or an
// opened file (its bytes as they are: a saved mail may be in any charset)
// in, the findings of every report it holds out as the page's HTML; the
// readings are kept, and the decoded log's rows of the report the page
// shows are made when it shows them. Each result is the caller's to free; a
// null result means memory ran out.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

namespace {

std::unique_ptr<report_reader::Readings> current;
size_t shown = 0; // the report whose log rows the page asks for

char* Copy(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

const report_reader::Reading* Shown() {
  return current && shown < current->reports.size() ? &current->reports[shown] : nullptr;
}

} // namespace

extern "C" {

// Reads the text, `length` bytes; keeps the readings for the rows, and
// shows the first report's.
char* portprobe_read(const char* pasted, size_t length) {
  current.reset();
  current = std::make_unique<report_reader::Readings>(report_reader::ReadAll(std::string_view(pasted, length)));
  shown = 0;
  return Copy(report_reader::RenderFindingsHtml(*current));
}

// Which report's log the rows come from, from 0; its number of rows.
size_t portprobe_select(size_t report) {
  if (current && report < current->reports.size()) shown = report;
  return Shown() != nullptr ? Shown()->LogSize() : 0;
}

// Rows of the decoded log of the report shown.
size_t portprobe_log_rows() {
  return Shown() != nullptr ? Shown()->LogSize() : 0;
}

// Rows first to first + count - 1 of the decoded log, as table rows.
char* portprobe_log_html(size_t first, size_t count) {
  return Copy(Shown() != nullptr ? report_reader::RenderLogRowsHtml(*Shown(), first, count) : std::string());
}

// The readings as portprobe-read prints them.
char* portprobe_read_text(const char* pasted, size_t length) {
  std::string text;
  report_reader::RenderText(report_reader::ReadAll(std::string_view(pasted, length)),
                            [&text](const char* piece, size_t size) { text.append(piece, size); });
  return Copy(text);
}

} // extern "C"
