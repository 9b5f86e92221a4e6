// A text's lines one by one, as mail decoding walks them: each without its
// line end (LF or CR LF), with whether that was CR LF and whether it is the
// last line (one that no line end closes).
#pragma once

#include <string_view>

namespace report_reader::mail {

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = last ? end : end + 1;
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.remove_suffix(1);
    visit(line, crlf, last);
  }
}

} // namespace report_reader::mail
