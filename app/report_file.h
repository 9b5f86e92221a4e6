// The report's last refuge: a file the user can attach to the e-mail.
//
// When the report cannot reach the clipboard, it is written byte for byte to
// portprobe-report.txt in the current folder, or, when that folder cannot be
// written (a program started from a read-only place), in the user's
// temporary folder.
//
// Threads: whichever thread exports the report, once.
#pragma once

#include <string>

#include "app/report_text.h"

namespace app {

constexpr const char* kReportFileName = "portprobe-report.txt";

struct SavedReport {
  bool saved = false;
  std::string path;     // UTF-8: as opened, relative for the current folder
  std::string fullPath; // UTF-8: the same made absolute, for the user to find it
};

// Writes the report into the first folder of those given that takes it
// whole; an empty folder is the current one. A file that could not be
// written whole is not left behind half written.
SavedReport SaveReportFile(const ReportText& report, const std::string& firstFolder, const std::string& secondFolder);

// The user's temporary folder (UTF-8, without a trailing separator); empty
// when there is none.
std::string TemporaryFolder();

} // namespace app
