// measure-run [--runs N] [--nominal SECONDS] [--stdout FILE] [--report FILE] [--after CHECK]
//             -- COMMAND [ARGS...]
//
// Runs COMMAND N times, one after the other, and prints for each run its
// wall time and how far beyond the nominal length (5 s) it went, the CPU time
// it used (user + system, its threads together) as a share of one core over
// its wall time, and its peak resident memory; with --report, also the size
// of the report file it left and the peak beyond that size. The last line
// gives the median and the spread (lowest to highest) of each figure.
//
// Why not /usr/bin/time -v and /proc: the kernel's figures are the same
// (wait4's resource usage), but time prints CPU and wall time in hundredths
// of a second, and an idle run of the tool uses about 6 ms of CPU in five
// seconds; and /proc shows a process's private memory only at the moment it
// is read, never its peak. So this program keeps exactly that: the times to
// the microsecond, the largest private memory over the run (pages of the
// process's own, from /proc/PID/smaps_rollup, looked at every 20 ms; the
// peak resident set counts shared pages too, and a JACK client maps the
// server's shared memory), the report's size taken off, and the median and
// spread over the runs.
//
// The command's standard output goes to FILE (/dev/null by default), as when
// a user redirects it; its standard error is this program's. CHECK, a shell
// command, runs after each run (to look at what the run left); when it fails,
// so does measure-run, after all runs.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Figures {
  double wall = 0;       // seconds
  double cpu = 0;        // seconds, user + system
  long peakKiB = 0;      // largest resident set
  long privateKiB = -1;  // largest private memory seen, or -1 when unreadable
  long long report = -1; // bytes, or -1 without --report
};

// Private_Clean + Private_Dirty of a running process, or -1.
long PrivateKiB(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/smaps_rollup", static_cast<int>(pid));
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return -1;
  long total = -1;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    long kib = 0;
    if (std::sscanf(line, "Private_Clean: %ld kB", &kib) == 1 ||
        std::sscanf(line, "Private_Dirty: %ld kB", &kib) == 1) {
      total = (total < 0 ? 0 : total) + kib;
    }
  }
  std::fclose(file);
  return total;
}

bool RunOnce(char** command, const char* output, const char* report, Figures& figures) {
  if (report != nullptr) ::unlink(report); // the size read afterwards is this run's
  // A new file rather than a truncated one: ext4 starts writing back a file
  // that was truncated and rewritten when it is closed, which would add the
  // disk's time to the run's exit.
  if (std::strcmp(output, "/dev/null") != 0) ::unlink(output);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("measure-run: fork");
    return false;
  }
  if (child == 0) {
    const int fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) _exit(126);
    ::close(fd);
    ::execvp(command[0], command);
    std::perror("measure-run: exec");
    _exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  // The private memory is looked at on a thread of its own, so that the
  // exit is seen the moment it happens.
  std::atomic<bool> exited{false};
  std::atomic<long> privateKiB{-1};
  std::thread watcher([&] {
    while (!exited.load()) {
      const long now = PrivateKiB(child);
      if (now > privateKiB.load()) privateKiB.store(now);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  bool waited = true;
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("measure-run: wait4");
      waited = false;
      break;
    }
  }
  const auto end = std::chrono::steady_clock::now();
  exited.store(true);
  watcher.join();
  if (!waited) return false;
  figures.privateKiB = privateKiB.load();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "measure-run: %s did not exit with 0 (status %d)\n", command[0], status);
    return false;
  }
  figures.wall = std::chrono::duration<double>(end - start).count();
  figures.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  figures.peakKiB = usage.ru_maxrss;
  if (report != nullptr) {
    struct stat info = {};
    figures.report = ::stat(report, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintSpread(const char* label, const std::vector<double>& values, const char* unit, double scale) {
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::printf("  %-22s median %10.3f %s  (%.3f to %.3f)\n", label, Median(values) * scale, unit, *low * scale,
              *high * scale);
}

} // namespace

int main(int argc, char** argv) {
  int runs = 5;
  double nominal = 5.0;
  const char* output = "/dev/null";
  const char* report = nullptr;
  const char* after = nullptr;
  int at = 1;
  for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
    const std::string option = argv[at];
    if (at + 1 >= argc) break;
    if (option == "--runs") {
      runs = std::atoi(argv[++at]);
    } else if (option == "--nominal") {
      nominal = std::atof(argv[++at]);
    } else if (option == "--stdout") {
      output = argv[++at];
    } else if (option == "--report") {
      report = argv[++at];
    } else if (option == "--after") {
      after = argv[++at];
    } else {
      break;
    }
  }
  if (at >= argc - 1 || std::strcmp(argv[at], "--") != 0 || runs < 1) {
    std::fprintf(stderr,
                 "usage: measure-run [--runs N] [--nominal SECONDS] [--stdout FILE] [--report FILE] [--after CHECK] "
                 "-- COMMAND [ARGS...]\n");
    return 2;
  }
  char** command = argv + at + 1;

  std::vector<double> beyond, cpu, share, peak, privatePeak, overReport, privateOverReport;
  int failedChecks = 0;
  for (int run = 1; run <= runs; ++run) {
    Figures figures;
    if (!RunOnce(command, output, report, figures)) return 1;
    beyond.push_back(figures.wall - nominal);
    cpu.push_back(figures.cpu);
    share.push_back(figures.cpu / figures.wall);
    peak.push_back(static_cast<double>(figures.peakKiB));
    std::printf("run %d: wall %.4f s", run, figures.wall);
    if (nominal > 0) std::printf(" (%+.1f ms beyond %.0f s)", (figures.wall - nominal) * 1e3, nominal);
    std::printf(", CPU %.1f ms (%.2f %% of one core), peak %ld KiB", figures.cpu * 1e3,
                100 * figures.cpu / figures.wall, figures.peakKiB);
    if (figures.privateKiB >= 0) {
      privatePeak.push_back(static_cast<double>(figures.privateKiB));
      std::printf(" (private %ld KiB)", figures.privateKiB);
    }
    if (figures.report >= 0) {
      const double over = static_cast<double>(figures.peakKiB) - static_cast<double>(figures.report) / 1024;
      overReport.push_back(over);
      std::printf(", report %lld bytes, peak beyond it %.0f KiB", figures.report, over);
      if (figures.privateKiB >= 0) {
        const double privateOver = static_cast<double>(figures.privateKiB) - static_cast<double>(figures.report) / 1024;
        privateOverReport.push_back(privateOver);
        std::printf(" (private %.0f KiB)", privateOver);
      }
    }
    std::printf("\n");
    std::fflush(stdout);
    if (after != nullptr && std::system(after) != 0) ++failedChecks;
  }
  std::printf("%s over %d runs:\n", command[0], runs);
  if (nominal > 0) PrintSpread("beyond nominal", beyond, "ms", 1e3);
  PrintSpread("CPU", cpu, "ms", 1e3);
  PrintSpread("CPU share of a core", share, "%", 100);
  PrintSpread("peak", peak, "KiB", 1);
  if (!privatePeak.empty()) PrintSpread("private peak", privatePeak, "KiB", 1);
  if (!overReport.empty()) PrintSpread("peak beyond report", overReport, "KiB", 1);
  if (!privateOverReport.empty()) PrintSpread("private beyond report", privateOverReport, "KiB", 1);
  if (failedChecks > 0) {
    std::printf("  check failed after %d of %d runs\n", failedChecks, runs);
    return 1;
  }
  return 0;
}
