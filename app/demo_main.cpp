// portprobe-demo: the tool's own run over the simulated MIDI service, with a
// virtual controller of every family, so that the whole report can be seen
// without any MIDI hardware. Given a scenario's name (scenarios.h), it runs
// that scenario instead: portprobe-demo hostile-names.
#include <cstdio>
#include <string>

#include "app/run.h"
#include "midi/manager.h"
#include "testkit/scenarios.h"

int main(int argc, char** argv) {
  // Timed as the Windows MIDI service most users now have: sends done
  // inside the call, controllers answering within a millisecond.
  port::sim::SimulatedService service(port::sim::ServiceModel::CurrentWindows());
  const std::string scenario = argc > 1 ? argv[1] : "demo";
  if (!testkit::BuildScenario(scenario, service)) {
    std::fprintf(stderr, "portprobe-demo: no scenario named \"%s\"; there are:", scenario.c_str());
    for (const std::string& name : testkit::ScenarioNames()) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
  }
  CMIDIManagerWin manager(service);
  return app::RunTool(manager);
}
