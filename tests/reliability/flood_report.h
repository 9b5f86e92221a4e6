// Test support: checks a report against the streams of a flood.
//
// The report is read as units: each "got MIDI" line, and each "SysEx message
// received:" line with its hex dump. A unit names its device (the channel of
// a note, the device byte of a packet or of a flood message); units that do
// not come from the flood (a controller's replies) are passed over. Each
// device's units must be exactly the ones its stream produces, in its
// order: nothing lost, nothing doubled, nothing out of place. Memory stays
// constant: the expected units are made one at a time from the plan.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "midi/port/simulated/instruments/flood.h"

class FloodReportCheck {
 public:
  explicit FloodReportCheck(const port::sim::FloodPlan& plan) : plan(plan), devices(plan.devices.size()) {}

  // Reads the capture part of a report (or the whole report: the summary
  // holds no units).
  void Read(const std::string& report) {
    size_t at = 0;
    while (at < report.size()) {
      size_t end = report.find('\n', at);
      if (end == std::string::npos) end = report.size();
      const std::string line = report.substr(at, end - at);
      at = end + 1;
      // "Updated device name: %s" leaves its line open, so a unit may begin
      // in the middle of a line.
      size_t unit = line.find("got MIDI: ");
      if (unit != std::string::npos) {
        Take(line.substr(unit) + "\n");
        continue;
      }
      unit = line.find("SysEx message received:\r");
      if (unit != std::string::npos && at < report.size()) {
        size_t dumpEnd = report.find('\n', at);
        if (dumpEnd == std::string::npos) dumpEnd = report.size() - 1;
        Take(line.substr(unit) + "\n" + report.substr(at, dumpEnd + 1 - at));
        at = dumpEnd + 1;
      }
    }
  }

  // Every device's stream was found whole; false with a description if not.
  bool Complete(std::string& problem) const {
    for (size_t device = 0; device < devices.size(); ++device) {
      const Progress& progress = devices[device];
      if (!progress.problem.empty()) {
        problem = progress.problem;
        return false;
      }
      if (plan.eventsPerDevice != 0 && (progress.event != plan.eventsPerDevice || !progress.pending.empty())) {
        problem = "device " + std::to_string(device) + " logged " + std::to_string(progress.event) + " of " +
                  std::to_string(plan.eventsPerDevice) + " events";
        return false;
      }
    }
    return true;
  }

  // Events of the device found so far, in order and without a gap.
  uint32_t EventsOf(size_t device) const { return devices.at(device).event; }
  size_t ShortMessageLines() const { return shortLines; }

  static std::string HexDump(const std::vector<uint8_t>& bytes) {
    std::string dump = "{";
    char item[8];
    for (uint8_t byte : bytes) {
      std::snprintf(item, sizeof item, " 0x%02X,", byte);
      dump += item;
    }
    return dump + "};";
  }

 private:
  struct Progress {
    uint32_t event = 0;               // the next event of the stream
    std::vector<std::string> pending; // units of an event not yet all seen
    std::vector<uint8_t> packets;     // a packet message being assembled
    std::string problem;
  };

  // The device a unit comes from, or -1 when it is not the flood's.
  static int DeviceOf(const std::string& unit) {
    unsigned first = 0, second = 0, third = 0;
    if (std::sscanf(unit.c_str(), "got MIDI: %X %X %X", &first, &second, &third) == 3) {
      if ((first & 0xF0) == 0x90) return static_cast<int>(first & 0x0F);
      if (first == 0xF0 && second == 0x7D) return static_cast<int>(third);
      if (first == 0xF7 || first < 0x10) return static_cast<int>(first == 0xF7 ? second : first);
      return -1;
    }
    const size_t dump = unit.find("{ 0xF0, 0x7D, 0x");
    if (dump == std::string::npos) return -1;
    return static_cast<int>(std::stoul(unit.substr(dump + 16, 2), nullptr, 16));
  }

  void Take(const std::string& unit) {
    if (unit.compare(0, 10, "got MIDI: ") == 0) ++shortLines;
    const int device = DeviceOf(unit);
    if (device < 0 || static_cast<size_t>(device) >= devices.size()) return;
    Progress& progress = devices[static_cast<size_t>(device)];
    if (!progress.problem.empty()) return;
    if (progress.pending.empty()) {
      if (plan.eventsPerDevice != 0 && progress.event == plan.eventsPerDevice) {
        progress.problem = "device " + std::to_string(device) + " logged more than its stream: " + unit;
        return;
      }
      progress.pending = UnitsOf(progress, static_cast<uint8_t>(device), progress.event++);
    }
    const std::string expected = progress.pending.front();
    progress.pending.erase(progress.pending.begin());
    if (unit != expected) {
      progress.problem = "device " + std::to_string(device) + " event " + std::to_string(progress.event - 1) +
                         ": expected \"" + expected + "\", found \"" + unit + "\"";
    }
  }

  // What the report shows for one event of a stream.
  std::vector<std::string> UnitsOf(Progress& progress, uint8_t device, uint32_t index) const {
    const port::sim::ControllerEvent event = port::sim::FloodEvent(plan, device, index);
    const std::string received = "SysEx message received:\r\n";
    if (event.kind == port::sim::ControllerEvent::Kind::SysEx) return {received + HexDump(event.bytes) + "\r\n"};
    const uint8_t packet[3] = {static_cast<uint8_t>(event.word), static_cast<uint8_t>(event.word >> 8),
                               static_cast<uint8_t>(event.word >> 16)};
    char line[32];
    std::snprintf(line, sizeof line, "got MIDI: %X %X %X\n", packet[0], packet[1], packet[2]);
    if (packet[0] == 0xF0) progress.packets.clear();
    const bool assembling = packet[0] == 0xF0 || !progress.packets.empty();
    if (!assembling) return {line};
    progress.packets.insert(progress.packets.end(), packet, packet + 3);
    if (packet[0] != 0xF7) return {line};
    std::vector<uint8_t> message;
    message.swap(progress.packets);
    return {line, received + HexDump(message) + "\r\n"};
  }

  const port::sim::FloodPlan& plan;
  std::vector<Progress> devices;
  size_t shortLines = 0;
};
