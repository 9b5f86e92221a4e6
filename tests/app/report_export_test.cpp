// Where the report goes without a system clipboard: a desktop clipboard
// tool when one works, else a file, and never silently nowhere.
#include "app/report_export.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/console_capture.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A scratch directory as the current directory, a PATH holding only the
// fake tools a test writes, and the display variables as the test sets them.
class ExportScene {
 public:
  ExportScene() {
    char pattern[] = "/tmp/portprobe-export-XXXXXX";
    directory = mkdtemp(pattern);
    bin = directory + "/bin";
    mkdir(bin.c_str(), 0755);
    char* cwd = getcwd(nullptr, 0);
    previousDirectory = cwd;
    free(cwd);
    previousPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    SaveVariable("DISPLAY");
    SaveVariable("WAYLAND_DISPLAY");
    SaveVariable("TMPDIR");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    temporary = directory + "/tmp";
    mkdir(temporary.c_str(), 0755);
    setenv("TMPDIR", temporary.c_str(), 1);
    setenv("PATH", bin.c_str(), 1);
    EXPECT_EQ(chdir(directory.c_str()), 0);
  }
  ~ExportScene() {
    EXPECT_EQ(chdir(previousDirectory.c_str()), 0);
    setenv("PATH", previousPath.c_str(), 1);
    for (const auto& saved : variables) {
      if (saved.second.first) {
        setenv(saved.first.c_str(), saved.second.second.c_str(), 1);
      } else {
        unsetenv(saved.first.c_str());
      }
    }
    const std::string remove = "rm -rf '" + directory + "'";
    EXPECT_EQ(std::system(remove.c_str()), 0);
  }
  // A fake tool that stores its input in a file named after it.
  void AddTool(const std::string& name, int exitCode = 0) {
    const std::string path = bin + "/" + name;
    std::ofstream script(path);
    script << "#!/bin/sh\n/bin/cat > '" << directory << "/" << name << ".got'\nexit " << exitCode << "\n";
    script.close();
    chmod(path.c_str(), 0755);
  }
  std::string Got(const std::string& tool) { return ReadFile(directory + "/" + tool + ".got"); }
  bool ReportFileExists() { return access((directory + "/portprobe-report.txt").c_str(), F_OK) == 0; }

  std::string directory;
  std::string temporary; // the user's temporary folder, as TMPDIR says

 private:
  void SaveVariable(const char* name) {
    const char* value = std::getenv(name);
    variables.push_back({name, {value != nullptr, value ? value : ""}});
  }
  std::string bin;
  std::string previousDirectory;
  std::string previousPath;
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> variables;
};

const std::string kTail("MIM_OPEN\n\xC3\xA9\0tail\r\n\r\n\"Port\"\r\n\r\n", 30);
constexpr size_t kBlockSize = size_t{1} << 20;

// As a run leaves it: a full capture block (a pipe's worth many times over),
// a block the capture had only begun to fill, then the summary.
app::ReportText Report() {
  app::ReportText report;
  auto full = std::make_unique<char[]>(kBlockSize);
  for (size_t at = 0; at < kBlockSize; ++at) full[at] = static_cast<char>('a' + at % 26);
  report.Append(std::move(full), kBlockSize);
  auto begun = std::make_unique<char[]>(kBlockSize);
  begun[0] = '\r';
  begun[1] = '\n';
  report.Append(std::move(begun), 2);
  report.Append(kTail);
  return report;
}

std::string Expected() {
  std::string expected;
  for (size_t at = 0; at < kBlockSize; ++at) expected += static_cast<char>('a' + at % 26);
  return expected + "\r\n" + kTail;
}

TEST(ReportExport, WithoutDisplayTheReportIsSavedByteForByte) {
  ConsoleCapture console;
  ExportScene scene;
  scene.AddTool("xclip");
  EXPECT_EQ(app::ExportReport(Report()), app::ReportPlace::File);
  EXPECT_TRUE(ReadFile(scene.directory + "/portprobe-report.txt") == Expected());
  EXPECT_EQ(console.Text(), "Portprobe finished, report saved to portprobe-report.txt; attach it to an email.");
}

TEST(ReportExport, DesktopClipboardToolGetsTheExactBytes) {
  struct Case {
    const char* variable;
    std::vector<std::string> tools;
    const char* used;
  };
  const Case cases[] = {
      {"DISPLAY", {"xclip", "xsel"}, "xclip"},
      {"DISPLAY", {"xsel"}, "xsel"},
      {"WAYLAND_DISPLAY", {"wl-copy", "xclip"}, "wl-copy"},
  };
  for (const Case& c : cases) {
    ConsoleCapture console;
    ExportScene scene;
    for (const std::string& tool : c.tools) scene.AddTool(tool);
    setenv(c.variable, ":99", 1);
    EXPECT_EQ(app::ExportReport(Report()), app::ReportPlace::Clipboard);
    EXPECT_TRUE(scene.Got(c.used) == Expected()) << c.used;
    EXPECT_FALSE(scene.ReportFileExists()) << c.used;
    EXPECT_EQ(console.Text(), "Portprobe finished, paste clipboard into an email.") << c.used;
  }
}

TEST(ReportExport, FailingClipboardToolFallsBackToTheFile) {
  ConsoleCapture console;
  ExportScene scene;
  scene.AddTool("xclip", 1);
  setenv("DISPLAY", ":99", 1);
  app::ExportReport(Report());
  EXPECT_TRUE(ReadFile(scene.directory + "/portprobe-report.txt") == Expected());
  EXPECT_EQ(console.Text(), "Portprobe finished, report saved to portprobe-report.txt; attach it to an email.");
}

TEST(ReportExport, UnwritableFolderSendsTheReportToTheTemporaryFolderAndSaysWhere) {
  // A directory in the file's place blocks the write even for root.
  ConsoleCapture console;
  ExportScene scene;
  mkdir((scene.directory + "/portprobe-report.txt").c_str(), 0755);
  EXPECT_EQ(app::ExportReport(Report()), app::ReportPlace::File);
  EXPECT_TRUE(ReadFile(scene.temporary + "/portprobe-report.txt") == Expected());
  EXPECT_EQ(console.Text(),
            "Portprobe finished, report saved to " + scene.temporary + "/portprobe-report.txt; attach it to an email.");
}

TEST(ReportExport, NowhereToSaveIsSaidOnTheConsole) {
  ConsoleCapture console;
  ExportScene scene;
  mkdir((scene.directory + "/portprobe-report.txt").c_str(), 0755);
  mkdir((scene.temporary + "/portprobe-report.txt").c_str(), 0755);
  EXPECT_EQ(app::ExportReport(Report()), app::ReportPlace::Nowhere);
  EXPECT_EQ(console.Text(),
            "Portprobe finished, but the report could not be copied to the clipboard or saved to a file.");
}

} // namespace
