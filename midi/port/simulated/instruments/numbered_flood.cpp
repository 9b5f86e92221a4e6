#include "midi/port/simulated/instruments/numbered_flood.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "midi/port/simulated/simulated_service.h"

namespace flood {

namespace {

// The status kinds with two data bytes; program change and channel pressure
// have one and are left out.
constexpr uint8_t kKinds[] = {0x80, 0x90, 0xA0, 0xB0, 0xE0};
static_assert(sizeof kKinds * 16384 == kMaxSequence, "one kind per 16384 messages");

} // namespace

uint32_t MessageWord(unsigned device, uint32_t sequence) {
  const uint32_t status = kKinds[(sequence >> 14) % sizeof kKinds] | (device & 0x0Fu);
  const uint32_t data1 = (sequence >> 7) & 0x7Fu;
  const uint32_t data2 = sequence & 0x7Fu;
  return status | (data1 << 8) | (data2 << 16);
}

bool DecodeMessage(unsigned status, unsigned data1, unsigned data2, unsigned& device, uint32_t& sequence) {
  if (data1 > 0x7F || data2 > 0x7F) return false;
  for (uint32_t kind = 0; kind < sizeof kKinds; ++kind) {
    if ((status & 0xF0) != kKinds[kind]) continue;
    device = status & 0x0F;
    sequence = (kind << 14) | (data1 << 7) | data2;
    return true;
  }
  return false;
}

std::chrono::microseconds Pacer::Next() {
  // Each due time rounded down from the exact one; a delay is the step
  // between two of them.
  const auto at = [this](uint64_t n) { return static_cast<int64_t>(static_cast<double>(n) * 1e6 / perSecond); };
  const int64_t delay = at(count + 1) - at(count);
  ++count;
  return std::chrono::microseconds(delay);
}

namespace {

// The three bytes of a line of portprobe ("got MIDI: 90 3C 64") or of
// jack_midi_dump ("  17: 90 3c 64 note on (channel  0): ..."). portprobe's
// line must end after the bytes; anything else is not one of its messages.
bool ParseLine(const std::string& line, unsigned& status, unsigned& data1, unsigned& data2) {
  char end = 0;
  if (line.compare(0, 10, "got MIDI: ") == 0) {
    if (std::sscanf(line.c_str(), "got MIDI: %X %X %X%c", &status, &data1, &data2, &end) < 3) return false;
    return end == 0 || end == '\r';
  }
  long long time = 0;
  int consumed = 0;
  if (std::sscanf(line.c_str(), " %lld: %2x %2x %2x%n", &time, &status, &data1, &data2, &consumed) < 4) return false;
  return line[static_cast<size_t>(consumed)] == ' ' || line[static_cast<size_t>(consumed)] == '\0';
}

} // namespace

Tally CheckLog(std::istream& log, unsigned devices, uint32_t perDevice) {
  Tally tally;
  tally.devices.resize(devices);
  // A repeat tells a receiver that delivered a message twice from one that
  // delivered it late: both come after a higher number.
  std::vector<std::vector<bool>> seen(devices, std::vector<bool>(perDevice, false));
  std::vector<uint32_t> next(devices, 0); // one past the highest logged
  std::string line;
  while (std::getline(log, line)) {
    unsigned long long saidLost = 0;
    unsigned named = 0;
    if (std::sscanf(line.c_str(), "%llu MIDI events lost on \"Flood %u\".", &saidLost, &named) == 2 && named >= 1 &&
        named <= devices) {
      tally.devices[named - 1].saidLost += saidLost;
      continue;
    }
    unsigned status = 0, data1 = 0, data2 = 0;
    if (!ParseLine(line, status, data1, data2)) continue;
    unsigned device = 0;
    uint32_t sequence = 0;
    if (!DecodeMessage(status, data1, data2, device, sequence) || device >= devices) continue;
    DeviceTally& counts = tally.devices[device];
    if (sequence >= perDevice) {
      ++counts.beyond;
      continue;
    }
    if (seen[device][sequence]) {
      ++counts.repeated;
      continue;
    }
    seen[device][sequence] = true;
    ++counts.logged;
    if (sequence < next[device]) {
      ++counts.late;
      continue;
    }
    if (sequence > next[device]) ++counts.gaps;
    next[device] = sequence + 1;
  }
  tally.expected = static_cast<uint64_t>(devices) * perDevice;
  for (const DeviceTally& counts : tally.devices) {
    tally.logged += counts.logged;
    tally.repeated += counts.repeated;
    tally.late += counts.late;
    tally.beyond += counts.beyond;
    tally.saidLost += counts.saidLost;
  }
  tally.lost = tally.expected - tally.logged;
  return tally;
}

bool Tally::Accounted() const {
  if (repeated != 0 || late != 0 || beyond != 0) return false;
  const uint64_t perDevice = devices.empty() ? 0 : expected / devices.size();
  for (const DeviceTally& counts : devices) {
    if (counts.logged + counts.saidLost != perDevice) return false;
  }
  return true;
}

std::string Describe(const Tally& tally) {
  std::ostringstream text;
  text << "expected " << tally.expected << ", logged " << tally.logged << ", lost " << tally.lost << ", repeated "
       << tally.repeated << ", late " << tally.late << ", never sent " << tally.beyond;
  if (tally.saidLost != 0) text << ", said lost " << tally.saidLost;
  const uint64_t perDevice = tally.devices.empty() ? 0 : tally.expected / tally.devices.size();
  for (size_t device = 0; device < tally.devices.size(); ++device) {
    const DeviceTally& counts = tally.devices[device];
    if (counts.logged == perDevice && counts.repeated == 0 && counts.late == 0 && counts.beyond == 0) continue;
    text << "\n  device " << device << ": logged " << counts.logged << " (" << counts.gaps << " gaps), repeated "
         << counts.repeated << ", late " << counts.late << ", never sent " << counts.beyond << ", said lost "
         << counts.saidLost;
  }
  return text.str();
}

namespace {

using Clock = std::chrono::steady_clock;

// The source of one device's stream. It is pulled right after the previous
// message was delivered, so the time of a pull tells how late that one was.
class Source {
 public:
  Source(unsigned device, uint32_t count, double perSecond, std::shared_ptr<Lateness> lateness)
      : device(device), count(count), pacer(perSecond), lateness(std::move(lateness)) {}

  bool operator()(port::sim::ControllerEvent& next) {
    if (sequence == count) return false;
    if (sequence >= 1 && lateness) Note(Clock::now());
    const std::chrono::microseconds delay = pacer.Next();
    next = port::sim::ControllerEvent::ShortMessage(0, 0, 0, delay);
    next.word = MessageWord(device, sequence);
    ++sequence;
    previousDue += delay.count();
    return true;
  }

 private:
  // The message before this one has just been delivered.
  void Note(Clock::time_point now) {
    if (sequence == 1) {
      firstDelivered = now;
      firstDue = previousDue;
      return;
    }
    const int64_t late =
        std::chrono::duration_cast<std::chrono::microseconds>(now - firstDelivered).count() - (previousDue - firstDue);
    if (late > lateness->worstMicroseconds.load(std::memory_order_relaxed)) {
      lateness->worstMicroseconds.store(late, std::memory_order_relaxed);
    }
  }

  unsigned device;
  uint32_t count;
  Pacer pacer;
  std::shared_ptr<Lateness> lateness;
  uint32_t sequence = 0;   // of the next message
  int64_t previousDue = 0; // microseconds from the stream's start to the last message handed out
  int64_t firstDue = 0;
  Clock::time_point firstDelivered;
};

} // namespace

bool AddNumberedFlood(port::sim::SimulatedService& service, unsigned devices, double perSecond, double seconds,
                      std::vector<std::shared_ptr<Lateness>>* lateness) {
  const double perDevice = perSecond * seconds;
  if (devices == 0 || devices > kMaxDevices || perSecond <= 0 || perDevice < 1 || perDevice > kMaxSequence) {
    return false;
  }
  for (unsigned device = 0; device < devices; ++device) {
    char name[32];
    std::snprintf(name, sizeof name, "Flood %02u", device + 1);
    const unsigned input = service.AddInput(name);
    std::shared_ptr<Lateness> late;
    if (lateness != nullptr) {
      late = std::make_shared<Lateness>();
      lateness->push_back(late);
    }
    service.AddStream(input, Source(device, static_cast<uint32_t>(perDevice), perSecond, std::move(late)));
  }
  return true;
}

bool ParsePositiveArgument(int argc, char** argv, int index, double& value) {
  if (argc <= index) return true;
  char* end = nullptr;
  value = std::strtod(argv[index], &end);
  return end != argv[index] && *end == '\0' && value > 0;
}

} // namespace flood
