// The report reader on any pasted text, mails and mboxes included: it must
// never crash or hang, and whatever it cannot place it still accounts for,
// line by line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"
#include "tools/report_reader/render_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string pasted(reinterpret_cast<const char*>(data), size);
  const report_reader::Readings readings = report_reader::ReadAll(pasted);
  if (readings.reports.empty()) std::abort(); // there is always something to say
  const size_t lines = static_cast<size_t>(std::count(pasted.begin(), pasted.end(), '\n')) + 1;
  for (const report_reader::Reading& reading : readings.reports) {
    if (reading.findings.empty()) std::abort();
    for (const report_reader::Finding& unknown : reading.notUnderstood) {
      // Each not understood line is one of the text's, inside the report
      // (a mail's lines are those of its decoded part, which may be more).
      if (unknown.lines.size() != 1 || unknown.lines[0] < reading.firstLine || unknown.lines[0] > reading.lastLine ||
          (!reading.origin.mail && unknown.lines[0] > lines)) {
        std::abort();
      }
    }
  }
  const report_reader::Sink discard = [](const char*, size_t) {};
  report_reader::RenderText(readings, discard);
  report_reader::RenderHtml(readings, discard);
  report_reader::RenderJson(readings, discard);
  return 0;
}
