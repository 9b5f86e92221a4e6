// A reading as plain text (findings first, then the decoded log) and as one
// self-contained HTML page with the same content; for the web page, the
// findings and the decoded log's rows apart, the rows as far as they are
// shown.
//
// Text and page are written piece by piece to a sink, so that a report of a
// million lines is never held again as one string.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "tools/report_reader/findings.h"

namespace report_reader {

using Sink = std::function<void(const char* text, size_t length)>;

void RenderText(const Reading& reading, const Sink& out);
void RenderHtml(const Reading& reading, const Sink& out);
// The same, whole, for readings of a size to hold twice.
std::string RenderText(const Reading& reading);
std::string RenderHtml(const Reading& reading);

// The web page's parts: everything but the decoded log, and count rows of
// the log from first on.
std::string RenderFindingsHtml(const Reading& reading);
std::string RenderLogRowsHtml(const Reading& reading, size_t first, size_t count);

// The findings alone, without the lines they point to: what two pastes of
// one report, mangled differently, must have in common.
std::string FindingsOnly(const Reading& reading);

// All the reports a text holds: a plain paste of one report exactly as
// above; else first how many were found, then each report under a heading
// that says where it came from.
void RenderText(const Readings& readings, const Sink& out);
void RenderHtml(const Readings& readings, const Sink& out);
std::string FindingsOnly(const Readings& readings);
// The page's findings: every report's, each under its heading.
std::string RenderFindingsHtml(const Readings& readings);
// "Report 2 of 3: from the mail of ... by ..., its attachment ...; quoted
// 2 levels deep." (empty for a plain paste)
std::string Heading(const Readings& readings, size_t index);

} // namespace report_reader
