// jack-controllers SCENE DIRECTORY
//
// Publishes the scene's virtual controllers (jack_scenes.h) as the JACK
// client "a2j" on the server JACK_DEFAULT_SERVER names, records what crosses
// the wire into DIRECTORY (wire_record.h), writes DIRECTORY/ready once its
// ports are there, and runs until SIGTERM or SIGINT. It never starts a
// server.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "testkit/jack_controllers/jack_host.h"
#include "testkit/jack_controllers/jack_scenes.h"
#include "testkit/jack_controllers/wire_record.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: jack-controllers SCENE DIRECTORY\nscenes:");
    for (const std::string& name : jack_controllers::JackSceneNames()) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
  }
  std::vector<jack_controllers::JackDevice> devices;
  if (!jack_controllers::BuildJackScene(argv[1], devices)) {
    std::fprintf(stderr, "jack-controllers: no scene \"%s\"\n", argv[1]);
    return 2;
  }
  ::setenv("JACK_NO_START_SERVER", "1", 1);

  // Blocked here, before any thread starts, so that every thread inherits
  // the mask and the signals wait for sigwait below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  jack_controllers::WireRecord record(argv[2]);
  jack_controllers::JackHost host(std::move(devices), record);
  if (!host.Start("a2j")) return 1;
  if (!record.WriteFile("ready", "ready\n")) {
    std::fprintf(stderr, "jack-controllers: cannot write to %s\n", argv[2]);
    return 1;
  }
  int received = 0;
  sigwait(&stopSignals, &received);
  host.Stop();
  host.WriteTiming(argv[2]);
  if (host.Overflows() != 0) {
    std::fprintf(stderr, "jack-controllers: %llu received events lost in a full queue\n",
                 static_cast<unsigned long long>(host.Overflows()));
    return 1;
  }
  return 0;
}
