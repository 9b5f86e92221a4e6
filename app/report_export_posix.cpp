// Without a system clipboard API, the report goes to the desktop's clipboard
// through the usual command-line tools, or into a file beside the user.
#include "app/report_export.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/log_sink.h"
#include "app/report_file.h"

extern char** environ;

namespace app {

namespace {

bool IsSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] != '\0';
}

bool WriteAll(int fd, const char* bytes, size_t length) {
  size_t written = 0;
  while (written < length) {
    const ssize_t n = ::write(fd, bytes + written, length - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

bool WriteReport(int fd, const ReportText& report) {
  return report.WriteTo([fd](const char* bytes, size_t length) { return WriteAll(fd, bytes, length); });
}

// Runs the command with the report on its standard input; true when it took
// all of it and succeeded. Its output goes nowhere: xclip stays behind to
// serve the selection and must not hold our output open.
bool FeedCommand(const std::vector<const char*>& command, const ReportText& report) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return false;
  ::fcntl(pipeEnds[1], F_SETFD, FD_CLOEXEC);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const char* word : command) argv.push_back(const_cast<char*>(word));
  argv.push_back(nullptr);

  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[0]);
  if (spawned != 0) {
    ::close(pipeEnds[1]);
    return false;
  }

  // A tool that quits early must not take this process down with SIGPIPE.
  struct sigaction ignore = {};
  struct sigaction previous = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  const bool fed = WriteReport(pipeEnds[1], report);
  ::close(pipeEnds[1]);
  ::sigaction(SIGPIPE, &previous, nullptr);

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return fed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CopyToDesktopClipboard(const ReportText& report) {
#if defined(__APPLE__)
  if (FeedCommand({"pbcopy"}, report)) return true;
#endif
  if (IsSet("WAYLAND_DISPLAY") && FeedCommand({"wl-copy"}, report)) return true;
  if (IsSet("DISPLAY")) {
    if (FeedCommand({"xclip", "-selection", "clipboard"}, report)) return true;
    if (FeedCommand({"xsel", "--clipboard", "--input"}, report)) return true;
  }
  return false;
}

} // namespace

ReportPlace ExportReport(const ReportText& report) {
  if (CopyToDesktopClipboard(report)) {
    ConsolePrintf("Portprobe finished, paste clipboard into an email.");
    return ReportPlace::Clipboard;
  }
  // A terminal user knows the folder the program ran in; a file that had
  // to go elsewhere is named in full.
  return SaveReportInstead(report, false);
}

} // namespace app
