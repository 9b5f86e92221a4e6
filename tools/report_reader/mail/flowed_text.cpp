#include "tools/report_reader/mail/flowed_text.h"

#include "tools/report_reader/mail/text_lines.h"

namespace report_reader::mail {

std::string UnflowText(std::string_view flowed, bool deleteSpace) {
  std::string text;
  text.reserve(flowed.size());
  bool open = false; // the last line written ended in a soft break
  size_t openDepth = 0;
  ForEachLine(flowed, [&](std::string_view line, bool, bool lastLine) {
    size_t depth = 0;
    while (depth < line.size() && line[depth] == '>') ++depth;
    line.remove_prefix(depth);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    // A paragraph goes on only at its own depth; a writer that changed the
    // depth after a soft break broke the rule, and the break is taken as
    // hard.
    if (open && depth != openDepth) text += '\n';
    if (!open || depth != openDepth) {
      for (size_t level = 0; level < depth; ++level) text += '>';
      if (depth > 0) text += ' ';
    }
    // "-- " is the signature's line, never a soft break.
    const bool soft = !line.empty() && line.back() == ' ' && line != "-- ";
    if (soft && deleteSpace) line.remove_suffix(1);
    text += line;
    open = soft;
    openDepth = depth;
    if (!soft && !lastLine) text += '\n';
  });
  return text;
}

} // namespace report_reader::mail
