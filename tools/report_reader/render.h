// A reading as plain text (findings first, then the decoded log) and as one
// self-contained HTML page with the same content.
#pragma once

#include <string>

#include "tools/report_reader/findings.h"

namespace reader {

std::string RenderText(const Reading& reading);
std::string RenderHtml(const Reading& reading);
// The page's content alone, for a page of its own (the web reader's).
std::string RenderHtmlBody(const Reading& reading);
// The findings alone, without the lines they point to: what two pastes of
// one report, mangled differently, must have in common.
std::string FindingsOnly(const Reading& reading);

} // namespace reader
