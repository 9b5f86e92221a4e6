// Ready-made sets of virtual devices: the demo's, and named scenarios that
// the stand-in services (winmm under Wine, JACK) play.
#pragma once

#include <string>
#include <vector>

#include "midi/port/simulated/simulated_service.h"

namespace sim {

// The demo: one controller of every family the tool has a dialogue with,
// plus the ports that show what the report says about failures.
void BuildDemoScene(SimulatedService& service);

// Builds the named scenario; false when there is none of that name.
bool BuildScenario(const std::string& name, SimulatedService& service);
std::vector<std::string> ScenarioNames();

} // namespace sim
