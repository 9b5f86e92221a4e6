// Test support: a JACK server of the test's own, with the dummy backend and a
// name of its own, so that tests of the RtMidi layer meet a real MIDI server
// without touching anybody else's. The process's JACK_DEFAULT_SERVER points
// at it from then on; it is stopped by its process id, and it also ends when
// the test process dies without running any destructor (a crash, a
// sanitizer's report, a timeout), so that no server is left behind.
//
// Synchronous by default (jackd -S): each cycle waits until every client
// has finished the one before. In the default (asynchronous) mode a client
// that a busy machine makes late misses its cycle, and the events of that
// cycle are overwritten by the next; the tests are about what the program
// loses, not the machine. Asynchronous for tests of exactly that.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TestJackServer {
 public:
  enum class Mode { Synchronous, Asynchronous };

  explicit TestJackServer(Mode mode = Mode::Synchronous) : mode(mode) {
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    // One test server on the machine at a time (ctest runs tests in
    // parallel): two servers that start and stop side by side share JACK's
    // registry of shared memory, and a client of one was seen failing to
    // attach to its server's memory while the other one went away.
    machineFd = ::open("/tmp/portprobe-test-jack.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (machineFd >= 0) ::flock(machineFd, LOCK_EX);
    // A handful of names, each taken under a lock file: JACK keeps a server
    // slot per name in its registry (eight in all) and frees one that a
    // killed server left behind only when the same name comes again, so a
    // new name per run would use them up.
    for (int slot = 0; slot < 8 && !running; ++slot) {
      const std::string candidate = "portprobe-test-" + std::to_string(slot);
      lockFd = ::open(("/tmp/" + candidate + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (lockFd < 0) continue;
      if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0 || !Launch(candidate)) {
        ::close(lockFd);
        lockFd = -1;
      }
    }
  }
  ~TestJackServer() { Stop(); }
  TestJackServer(const TestJackServer&) = delete;
  TestJackServer& operator=(const TestJackServer&) = delete;

  bool Running() const { return running; }
  // Why no server came up, for the test's failure message.
  const std::string& Why() const { return why; }

  // Holds every cycle: the server's process is stopped, so no client's
  // process callback runs until Resume. A cycle already under way when the
  // signal lands still finishes in its clients.
  // Returns once every thread of the server has stopped.
  bool Pause() {
    if (pid <= 0 || ::kill(pid, SIGSTOP) != 0) return false;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (int attempt = 0; attempt < 20000; ++attempt) {
      if (AllThreadsStopped(tasks)) return true;
      ::usleep(1000);
    }
    return false;
  }
  void Resume() {
    if (pid > 0) ::kill(pid, SIGCONT);
  }

  // Stops the server now, as a user's server goes away under a running tool.
  void Stop() {
    if (pid > 0) {
      ::kill(pid, SIGCONT); // a paused server would never take its SIGTERM
      ::kill(pid, SIGTERM);
      int status = 0;
      ::waitpid(pid, &status, 0);
      pid = 0;
    }
    if (lockFd >= 0) ::close(lockFd);
    lockFd = -1;
    if (machineFd >= 0) ::close(machineFd);
    machineFd = -1;
    running = false;
  }

 private:
  // Starts jackd under the name and waits until it answers. A server that
  // cannot start (its name taken, the registry full) exits at once, so its
  // exit is watched for rather than waiting out the whole patience.
  bool Launch(const std::string& candidate) {
    ::setenv("JACK_DEFAULT_SERVER", candidate.c_str(), 1);
    const char* synchronous[] = {"jackd", "--no-realtime", "-S", "-d", "dummy", "-r", "48000", "-p", "256", nullptr};
    const char* asynchronous[] = {"jackd", "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256", nullptr};
    char** argv = const_cast<char**>(mode == Mode::Synchronous ? synchronous : asynchronous);
    const std::string logPath = "/tmp/" + candidate + ".jackd.log";
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
      // Only async-signal-safe calls between fork and exec. The server gets
      // SIGTERM when the thread that started it ends (gtest runs every test
      // on the main thread), and ends at once if that happened already.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
      ::execvp("jackd", argv);
      ::_exit(127);
    }
    if (pid < 0) {
      pid = 0;
      return false;
    }
    const std::string check = "jack_wait -s '" + candidate + "' -c 2>/dev/null | grep -q '^running'";
    for (int attempt = 0; attempt < 200; ++attempt) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        pid = 0;
        why = "jackd " + candidate + " ended at once: " + LastLines(logPath);
        return false;
      }
      if (std::system(check.c_str()) == 0) {
        running = true;
        return true;
      }
      ::usleep(100 * 1000);
    }
    why = "jackd " + candidate + " did not answer within 20 s: " + LastLines(logPath);
    int status = 0;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
    pid = 0;
    return false;
  }

  static bool AllThreadsStopped(const std::string& tasks) {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      std::ifstream stat(task.path() / "stat");
      std::string line;
      std::getline(stat, line);
      // "pid (comm) state ...": the command may hold blanks and brackets.
      const size_t end = line.rfind(')');
      if (end == std::string::npos || end + 2 >= line.size() || line[end + 2] != 'T') return false;
    }
    return !error;
  }

  static std::string LastLines(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) {
      if (!line.empty()) last = line;
    }
    return last;
  }

  const Mode mode;
  pid_t pid = 0;
  int lockFd = -1;
  int machineFd = -1;
  bool running = false;
  std::string why;
};
