// Test support: a JACK server of the test's own, with the dummy backend and a
// private name, so that tests of the RtMidi layer meet a real MIDI server
// without touching anybody else's. The process's JACK_DEFAULT_SERVER points
// at it from then on; it is stopped by its process id.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

class TestJackServer {
 public:
  TestJackServer() {
    name = "portprobe-test-" + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    const char* argv[] = {"jackd", "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid, "jackd", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      pid = 0;
      return;
    }
    // jack_wait returns once the server answers (or after the timeout).
    const std::string wait = "jack_wait -s '" + name + "' -w -t 20 >/dev/null 2>&1";
    running = std::system(wait.c_str()) == 0;
  }
  ~TestJackServer() {
    if (pid == 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  TestJackServer(const TestJackServer&) = delete;
  TestJackServer& operator=(const TestJackServer&) = delete;

  bool Running() const { return running; }

 private:
  std::string name;
  pid_t pid = 0;
  bool running = false;
};
