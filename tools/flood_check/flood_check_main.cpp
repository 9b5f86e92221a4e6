// flood-check LOG DEVICES PER_DEVICE [--accounted]
//
// Counts the flood's messages in a log of portprobe-flood (its report or
// its console output): how many of the DEVICES × PER_DEVICE were logged, how
// many are missing, and whether any came twice, late or never was sent. Exit
// code 0 only when every message is there once, in order; with --accounted,
// also when each device's missing messages are exactly what the report says
// it lost ("N MIDI events lost on ...").
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "midi/port/simulated/instruments/flood_check.h"

namespace flood = port::sim::flood;

int main(int argc, char** argv) {
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
