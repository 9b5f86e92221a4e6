#include "testkit/flood_check.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace testkit::flood {

using namespace port::sim;

namespace {

constexpr uint8_t kNonCommercialId = 0x7D;
constexpr uint64_t kPacketNumbers = 1u << 14; // a packet carries 14 bits of its number
constexpr uint64_t kLongNumbers = 1u << 21;   // a long message 21
constexpr size_t kAssembledLength = 9;        // three packets of three bytes
constexpr size_t kLongLength = 7;

// A unit's place in its device's stream: event i's own unit is 2i, the
// assembled message after the last packet of event i is 2i + 1.
using Position = uint64_t;

struct Unit {
  bool dump = false; // a "SysEx message received:" dump, else a short message
  std::vector<uint8_t> bytes;
  bool operator==(const Unit& other) const { return dump == other.dump && bytes == other.bytes; }
};

std::vector<uint8_t> WordBytes(uint32_t word) {
  return {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16)};
}

bool IsPacketEnd(const ControllerEvent& event) {
  return event.kind == ControllerEvent::Kind::Short && (event.word & 0xFF) == 0xF7;
}

// The unit the plan has at a place, or false when it has none there.
bool ExpectedUnit(const Plan& plan, uint8_t device, Position position, Unit& unit) {
  const uint64_t index = position / 2;
  if (index > UINT32_MAX || (plan.eventsPerDevice != 0 && index >= plan.eventsPerDevice)) return false;
  const ControllerEvent event = Event(plan, device, static_cast<uint32_t>(index));
  if (position % 2 == 1) {
    if (!IsPacketEnd(event) || index < 2) return false;
    unit.dump = true;
    unit.bytes.clear();
    for (uint64_t packet = index - 2; packet <= index; ++packet) {
      const std::vector<uint8_t> bytes = WordBytes(Event(plan, device, static_cast<uint32_t>(packet)).word);
      unit.bytes.insert(unit.bytes.end(), bytes.begin(), bytes.end());
    }
    return true;
  }
  unit.dump = event.kind == ControllerEvent::Kind::SysEx;
  unit.bytes = unit.dump ? event.bytes : WordBytes(event.word);
  return true;
}

Position NextPosition(const Plan& plan, uint8_t device, Position position) {
  const uint64_t index = position / 2;
  if (position % 2 == 0 && IsPacketEnd(Event(plan, device, static_cast<uint32_t>(index)))) return position + 1;
  return 2 * (index + 1);
}

// The number nearest to `near` that is `decoded` modulo `modulus`, not below it.
uint64_t Unwrap(uint64_t decoded, uint64_t modulus, uint64_t near) {
  if (near <= decoded + modulus / 2) return decoded;
  return decoded + (near - decoded + modulus / 2) / modulus * modulus;
}

class Checker {
 public:
  explicit Checker(const Plan& plan) : plan(plan), states(plan.devices.size()) {
    tally.devices.resize(plan.devices.size());
  }

  void Line(const std::string& line, std::istream& log) {
    if (SaidLost(line)) return;
    Unit unit;
    if (ShortMessageOf(line, unit.bytes)) {
      TakeShort(unit);
      return;
    }
    if (line.find("SysEx message received:") == std::string::npos) return;
    std::string dump;
    if (!std::getline(log, dump)) return;
    unit.dump = true;
    if (DumpBytes(dump, unit.bytes)) TakeDump(unit);
  }

  Tally Finish() {
    for (size_t device = 0; device < states.size(); ++device) {
      State& state = states[device];
      DeviceTally& counts = tally.devices[device];
      if (plan.eventsPerDevice == 0) continue; // an endless stream is cut off anywhere
      if (state.next % 2 == 1) ++counts.unassembled;
      if (state.startPending) ++counts.beyond;
    }
    for (const DeviceTally& counts : tally.devices) {
      tally.expected += plan.eventsPerDevice;
      tally.logged += counts.logged;
      tally.gaps += counts.gaps;
      tally.repeated += counts.repeated;
      tally.late += counts.late;
      tally.beyond += counts.beyond;
      tally.unassembled += counts.unassembled;
      tally.saidLost += counts.saidLost;
    }
    tally.lost = tally.expected > tally.logged ? tally.expected - tally.logged : 0;
    return tally;
  }

 private:
  struct State {
    std::vector<bool> seen; // by position
    Position next = 0;      // of the next unit
    // A packet message under way: its first packet waits for the middle one
    // to place it, or the message's first event is known.
    bool startPending = false;
    bool messageKnown = false;
    uint64_t messageStart = 0;
  };

  bool SaidLost(const std::string& line) {
    static const std::string kMiddle = " MIDI events lost on \"";
    const size_t middle = line.find(kMiddle);
    if (middle == std::string::npos) return false;
    const size_t nameStart = middle + kMiddle.size();
    const size_t nameEnd = line.find("\".", nameStart);
    if (nameEnd == std::string::npos) return false;
    const std::string name = line.substr(nameStart, nameEnd - nameStart);
    for (size_t device = 0; device < plan.devices.size(); ++device) {
      if (plan.devices[device].name == name) {
        tally.devices[device].saidLost += std::strtoull(line.c_str(), nullptr, 10);
      }
    }
    return true;
  }

  // The three bytes of a line of portprobe ("got MIDI: 90 3C 64", perhaps
  // after text that left its line open) or of jack_midi_dump ("  17: 90 3c
  // 64 note on (channel  0): ..."). portprobe's line must end after the
  // bytes; anything else is not one of its messages.
  static bool ShortMessageOf(const std::string& line, std::vector<uint8_t>& bytes) {
    unsigned b[3] = {};
    const size_t got = line.find("got MIDI: ");
    if (got != std::string::npos) {
      char end = 0;
      if (std::sscanf(line.c_str() + got, "got MIDI: %X %X %X%c", &b[0], &b[1], &b[2], &end) < 3) return false;
      if (end != 0 && end != '\r') return false;
    } else {
      long long time = 0;
      int consumed = 0;
      if (std::sscanf(line.c_str(), " %lld: %2x %2x %2x%n", &time, &b[0], &b[1], &b[2], &consumed) < 4) return false;
      const char after = line[static_cast<size_t>(consumed)];
      if (after != ' ' && after != '\0') return false;
    }
    for (const unsigned byte : b) {
      if (byte > 0xFF) return false;
    }
    bytes = {static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1]), static_cast<uint8_t>(b[2])};
    return true;
  }

  // "{ 0xF0, 0x7D, ...,};"
  static bool DumpBytes(const std::string& line, std::vector<uint8_t>& bytes) {
    size_t at = line.find('{');
    if (at == std::string::npos) return false;
    ++at;
    bytes.clear();
    while (true) {
      while (at < line.size() && line[at] == ' ') ++at;
      if (at < line.size() && line[at] == '}') return true;
      if (line.compare(at, 2, "0x") != 0 || at + 5 > line.size() || line[at + 4] != ',') return false;
      char* end = nullptr;
      const std::string digits = line.substr(at + 2, 2);
      const unsigned long byte = std::strtoul(digits.c_str(), &end, 16);
      if (end != digits.c_str() + 2) return false;
      bytes.push_back(static_cast<uint8_t>(byte));
      at += 5;
    }
  }

  bool OurDevice(unsigned device) const { return device < plan.devices.size(); }

  void TakeShort(const Unit& unit) {
    const std::vector<uint8_t>& b = unit.bytes;
    if (b[0] == 0xF0 && b[1] == kNonCommercialId && OurDevice(b[2])) {
      // The first packet carries no number: it is the next unit when the
      // stream has a packet message there, else the middle packet places it.
      State& state = states[b[2]];
      if (state.startPending) ++tally.devices[b[2]].beyond;
      Unit next;
      state.startPending = !(ExpectedUnit(plan, b[2], state.next, next) && next == unit);
      state.messageKnown = !state.startPending;
      if (state.messageKnown) {
        state.messageStart = state.next / 2;
        Record(b[2], state.next, unit);
      }
      return;
    }
    if (b[0] < 0x10 && OurDevice(b[0])) {
      State& state = states[b[0]];
      const uint64_t index = Unwrap((uint64_t{b[1]} << 7) | b[2], kPacketNumbers, state.next / 2);
      if (state.startPending && index >= 1) Record(b[0], 2 * (index - 1), {false, {0xF0, kNonCommercialId, b[0]}});
      state.startPending = false;
      state.messageKnown = index >= 1;
      state.messageStart = index - 1;
      Record(b[0], 2 * index, unit);
      return;
    }
    if (b[0] == 0xF7 && OurDevice(b[1])) {
      State& state = states[b[1]];
      if (state.messageKnown) {
        Record(b[1], 2 * (state.messageStart + 2), unit);
      } else {
        ++tally.devices[b[1]].beyond;
      }
      state.messageKnown = false;
      return;
    }
    unsigned device = 0;
    uint32_t number = 0;
    if (!DecodeMessage(b[0], b[1], b[2], device, number) || !OurDevice(device)) return;
    Record(device, 2 * Unwrap(number, kShortMessageNumbers, states[device].next / 2), unit);
  }

  void TakeDump(const Unit& unit) {
    const std::vector<uint8_t>& b = unit.bytes;
    if (b.size() < 3 || b[0] != 0xF0 || b[1] != kNonCommercialId || !OurDevice(b[2])) return;
    const uint8_t device = b[2];
    const uint64_t near = states[device].next / 2;
    if (b.size() == kAssembledLength) {
      const uint64_t middle = Unwrap((uint64_t{b[4]} << 7) | b[5], kPacketNumbers, near);
      Record(device, 2 * (middle + 1) + 1, unit);
    } else if (b.size() == kLongLength) {
      const uint64_t number = (uint64_t{b[3]} << 14) | (uint64_t{b[4]} << 7) | b[5];
      Record(device, 2 * Unwrap(number, kLongNumbers, near), unit);
    } else {
      ++tally.devices[device].beyond;
    }
  }

  void Record(uint8_t device, Position position, const Unit& found) {
    State& state = states[device];
    DeviceTally& counts = tally.devices[device];
    Unit expected;
    if (!ExpectedUnit(plan, device, position, expected) || !(expected == found)) {
      ++counts.beyond;
      return;
    }
    if (state.seen.size() <= position) state.seen.resize(position + 1, false);
    if (state.seen[position]) {
      ++counts.repeated;
      return;
    }
    state.seen[position] = true;
    if (position % 2 == 0) ++counts.logged;
    if (position < state.next) {
      ++counts.late;
      return;
    }
    if (position > state.next) {
      // Skipping an assembled message only (its packets are all there) is
      // not a gap in the device's events.
      const bool dumpSkipped = state.next % 2 == 1;
      if (dumpSkipped) ++counts.unassembled;
      if (!dumpSkipped || position > state.next + 1) ++counts.gaps;
    }
    state.next = NextPosition(plan, device, position);
  }

  const Plan& plan;
  std::vector<State> states;
  Tally tally;
};

} // namespace

Tally CheckLog(std::istream& log, const Plan& plan) {
  Checker checker(plan);
  std::string line;
  while (std::getline(log, line)) checker.Line(line, log);
  return checker.Finish();
}

Tally CheckText(const std::string& text, const Plan& plan) {
  std::istringstream log(text);
  return CheckLog(log, plan);
}

bool Tally::Accounted() const {
  if (repeated != 0 || late != 0 || beyond != 0 || unassembled != 0) return false;
  const uint64_t perDevice = devices.empty() ? 0 : expected / devices.size();
  for (const DeviceTally& counts : devices) {
    if (counts.logged + counts.saidLost != perDevice) return false;
  }
  return true;
}

StopCheck CheckThroughTheStop(const std::string& report, const std::string& console,
                              const std::vector<uint32_t>& deliveredBeforeStop, uint32_t slack) {
  const Plan plan = ThroughTheStop();
  const Tally inReport = CheckText(report, plan);
  const Tally onConsole = CheckText(console, plan);
  StopCheck check;
  check.passed = inReport.Unbroken() && onConsole.Unbroken() && deliveredBeforeStop.size() == plan.devices.size();
  std::ostringstream text;
  if (!inReport.Unbroken()) text << "report broken: " << Describe(inReport) << "\n";
  if (!onConsole.Unbroken()) text << "console broken: " << Describe(onConsole) << "\n";
  for (size_t device = 0; device < plan.devices.size() && device < deliveredBeforeStop.size(); ++device) {
    // The open event is no flood event.
    const uint32_t delivered = deliveredBeforeStop[device] > 0 ? deliveredBeforeStop[device] - 1 : 0;
    const uint32_t reported = inReport.devices[device].logged;
    const uint32_t shown = onConsole.devices[device].logged;
    const bool fine = shown >= delivered && reported <= shown && reported + slack >= delivered;
    check.passed = check.passed && fine;
    text << plan.devices[device].name << ": delivered before the stop " << delivered << ", report " << reported
         << ", console " << shown << (fine ? "" : "  <- wrong") << "\n";
  }
  check.description = text.str();
  return check;
}

std::string Describe(const Tally& tally) {
  std::ostringstream text;
  text << "expected " << tally.expected << ", logged " << tally.logged << ", lost " << tally.lost << ", repeated "
       << tally.repeated << ", late " << tally.late << ", never sent " << tally.beyond;
  if (tally.unassembled != 0) text << ", not assembled " << tally.unassembled;
  if (tally.saidLost != 0) text << ", said lost " << tally.saidLost;
  const uint64_t perDevice = tally.devices.empty() ? 0 : tally.expected / tally.devices.size();
  for (size_t device = 0; device < tally.devices.size(); ++device) {
    const DeviceTally& counts = tally.devices[device];
    const bool whole = perDevice == 0 || counts.logged == perDevice;
    if (whole && counts.gaps == 0 && counts.repeated == 0 && counts.late == 0 && counts.beyond == 0 &&
        counts.unassembled == 0) {
      continue;
    }
    text << "\n  device " << device << ": logged " << counts.logged << " (" << counts.gaps << " gaps), repeated "
         << counts.repeated << ", late " << counts.late << ", never sent " << counts.beyond << ", not assembled "
         << counts.unassembled << ", said lost " << counts.saidLost;
  }
  return text.str();
}

} // namespace testkit::flood
