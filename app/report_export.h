// Hands the finished report to the user: the clipboard on Windows; a desktop
// clipboard tool, or failing that a file, elsewhere. The report's bytes are
// passed on exactly; only the closing console message tells where it went.
#pragma once

#include "app/report_text.h"

void ExportReport(const ReportText& report);
