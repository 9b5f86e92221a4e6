// usb-controllers SCENE DIRECTORY
// usb-controllers --count SCENE
//
// Inside the tests' user-mode kernel: plugs the scene's virtual controllers
// (the same scenes as jack-controllers) in as USB MIDI units (usb_host.h),
// records what crosses the wire into DIRECTORY (wire_record.h), writes
// DIRECTORY/ready once the units are there, starts the controllers' own
// traffic on SIGUSR1 (the tool has opened its ports) and runs until SIGTERM
// or SIGINT. With --count, prints how many units the scene has (the
// virtual bus needs a port each).
#include <signal.h>

#include <cstdio>
#include <string>

#include "testkit/jack_controllers/jack_scenes.h"
#include "testkit/jack_controllers/wire_record.h"
#include "testkit/usb_controllers/usb_host.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: usb-controllers SCENE DIRECTORY | --count SCENE\n");
    return 2;
  }
  const bool count = std::string(argv[1]) == "--count";
  const char* scene = count ? argv[2] : argv[1];
  std::vector<jack_controllers::JackDevice> devices;
  if (!jack_controllers::BuildJackScene(scene, devices)) {
    std::fprintf(stderr, "usb-controllers: no scene \"%s\"\n", scene);
    return 2;
  }
  if (count) {
    std::printf("%zu\n", devices.size());
    return 0;
  }
  // Blocked before any thread starts, so that every thread inherits the
  // mask and the signals wait for sigwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  jack_controllers::WireRecord record(argv[2]);
  usb_controllers::UsbHost host(std::move(devices), record);
  if (!host.Plug("/sys/kernel/config")) return 1;
  if (!record.WriteFile("ready", "ready\n")) return 1;
  for (;;) {
    int received = 0;
    sigwait(&signals, &received);
    if (received != SIGUSR1) break;
    host.StartInput();
  }
  host.Stop();
  return 0;
}
