// Hands the finished report to the user: the clipboard on Windows; a desktop
// clipboard tool elsewhere; and wherever the clipboard cannot take it, a
// file (report_file.h). The report's bytes are passed on exactly; only the
// closing console message tells where they went.
#pragma once

#include "app/report_text.h"

namespace app {

enum class ReportPlace { Clipboard, File, Nowhere };

ReportPlace ExportReport(const ReportText& report);

// The report where the clipboard could not take it: saved to a file, with
// the closing message that says where (the file's full path when
// fullPathShown, else the path as written) or that it could not be saved.
ReportPlace SaveReportInstead(const ReportText& report, bool fullPathShown);

} // namespace app
