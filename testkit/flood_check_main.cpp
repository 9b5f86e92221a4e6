// flood-check LOG DEVICES PER_DEVICE [--accounted]
// flood-check --through-stop REPORT CONSOLE STOPS SLACK
//
// Counts the flood's messages in a log of portprobe-flood (its report or
// its console output): how many of the DEVICES × PER_DEVICE were logged, how
// many are missing, and whether any came twice, late or never was sent. Exit
// code 0 only when every message is there once, in order; with --accounted,
// also when each device's missing messages are exactly what the report says
// it lost ("N MIDI events lost on ...").
//
// --through-stop checks the flood that runs on through a run's stop
// (flood::ThroughTheStop) against the stand-in winmm's stops.txt: every
// event delivered before a port's stop on the console, all but SLACK of them
// in the report, each stream unbroken (flood::CheckThroughTheStop); and it
// prints when the first stop began, in milliseconds from the program's
// first MIDI call, for the caller to hold against its limit.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/flood_check.h"

namespace flood = testkit::flood;

namespace {

std::string ReadAll(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

int ThroughTheStop(char** argv) {
  const flood::Plan plan = flood::ThroughTheStop();
  std::vector<uint32_t> delivered(plan.devices.size(), 0);
  unsigned long long firstStop = 0;
  bool anyStop = false;
  std::istringstream stops(ReadAll(argv[4]));
  // "NAME DELIVERED MILLISECONDS"; names hold blanks.
  for (std::string line; std::getline(stops, line);) {
    const size_t last = line.rfind(' ');
    const size_t before = last == std::string::npos ? std::string::npos : line.rfind(' ', last - 1);
    if (before == std::string::npos) continue;
    const std::string name = line.substr(0, before);
    const unsigned long long milliseconds = std::strtoull(line.c_str() + last + 1, nullptr, 10);
    if (!anyStop || milliseconds < firstStop) firstStop = milliseconds;
    anyStop = true;
    for (size_t device = 0; device < plan.devices.size(); ++device) {
      if (plan.devices[device].name == name) {
        delivered[device] = static_cast<uint32_t>(std::strtoul(line.c_str() + before + 1, nullptr, 10));
      }
    }
  }
  const flood::StopCheck check = flood::CheckThroughTheStop(ReadAll(argv[2]), ReadAll(argv[3]), delivered,
                                                            static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)));
  std::cout << check.description << "first stop at " << firstStop << " ms\n";
  return check.passed && anyStop ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--through-stop") return ThroughTheStop(argv);
  const bool accounted = argc == 5 && std::string(argv[4]) == "--accounted";
  if (argc != 4 && !accounted) {
    std::fprintf(stderr, "usage: flood-check LOG DEVICES PER_DEVICE [--accounted]\n");
    return 2;
  }
  std::ifstream log(argv[1], std::ios::binary);
  if (!log) {
    std::fprintf(stderr, "flood-check: cannot read %s\n", argv[1]);
    return 2;
  }
  // The rate does not change what is sent, only when.
  const unsigned long devices = std::strtoul(argv[2], nullptr, 10);
  const double perDevice = std::strtod(argv[3], nullptr);
  const flood::Plan plan = flood::Numbered(static_cast<unsigned>(devices), perDevice, 1);
  if (plan.devices.empty()) {
    std::fprintf(stderr, "flood-check: 1 to %u devices and 1 to %u messages per device\n", flood::kMaxDevices,
                 flood::kShortMessageNumbers);
    return 2;
  }
  const flood::Tally tally = flood::CheckLog(log, plan);
  std::cout << argv[1] << ": " << flood::Describe(tally) << "\n";
  return tally.Exact() || (accounted && tally.Accounted()) ? 0 : 1;
}
