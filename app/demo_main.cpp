// portprobe-demo: the tool's own run over the simulated MIDI service, with a
// virtual controller of every family, so that the whole report can be seen
// without any MIDI hardware.
#include "app/console_setup.h"
#include "app/run.h"
#include "midi/manager.h"
#include "midi/port/simulated/scenes.h"

int main() {
  PrepareConsole();
  sim::SimulatedService service;
  sim::BuildDemoScene(service);
  CMIDIManagerWin manager(service);
  return RunProbe(manager, kRunDuration);
}
