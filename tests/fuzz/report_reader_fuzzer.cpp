// The report reader on any pasted text: it must never crash or hang, and
// whatever it cannot place it still accounts for, line by line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string pasted(reinterpret_cast<const char*>(data), size);
  const report_reader::Reading reading = report_reader::Read(pasted);
  if (reading.findings.empty()) std::abort(); // there is always something to say
  const size_t lines = static_cast<size_t>(std::count(pasted.begin(), pasted.end(), '\n')) + 1;
  for (const report_reader::Finding& unknown : reading.notUnderstood) {
    // Each not understood line is one of the text's, inside the report.
    if (unknown.lines.size() != 1 || unknown.lines[0] < reading.firstLine || unknown.lines[0] > reading.lastLine ||
        unknown.lines[0] > lines) {
      std::abort();
    }
  }
  (void)report_reader::RenderText(reading);
  (void)report_reader::RenderHtml(reading);
  return 0;
}
