// portprobe-flood [DEVICES [PER_SECOND [SECONDS]]]
//
// The tool's own five-second run, as portprobe-demo runs it, over the
// simulated service with DEVICES ports (16) each streaming PER_SECOND short
// messages (16,000, USB-MIDI's full-speed rate) for SECONDS (4.5, so that
// every message is due well before the report is taken). The streams keep a
// fixed schedule: a receiver that cannot keep up makes messages late, and
// what is not logged when the report is taken is lost. flood-check counts
// the messages in the report or the console log afterwards.
//
// On standard error, once the run is over: what was sent, and how far the
// deliveries fell behind their schedule at worst.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/run.h"
#include "bench/flood.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"

namespace {

using Clock = std::chrono::steady_clock;

// How late a stream's deliveries were against the schedule of its first.
// Written by the service's thread, read once the service has stopped.
struct Lateness {
  std::atomic<int64_t> worstMicroseconds{0};
};

// The source of one device's stream. It is pulled right after the previous
// message was delivered, so the time of a pull tells how late that one was.
class FloodSource {
 public:
  FloodSource(unsigned device, uint32_t count, double perSecond, std::shared_ptr<Lateness> lateness)
      : device(device), count(count), pacer(perSecond), lateness(std::move(lateness)) {}

  bool operator()(sim::ControllerEvent& next) {
    if (sequence == count) return false;
    if (sequence >= 1) {
      // The message before this one has just been delivered.
      const Clock::time_point now = Clock::now();
      if (sequence == 1) {
        firstDelivered = now;
        firstDue = previousDue;
      } else {
        const int64_t late = std::chrono::duration_cast<std::chrono::microseconds>(now - firstDelivered).count() -
                             (previousDue - firstDue);
        if (late > lateness->worstMicroseconds.load(std::memory_order_relaxed)) {
          lateness->worstMicroseconds.store(late, std::memory_order_relaxed);
        }
      }
    }
    const std::chrono::microseconds delay = pacer.Next();
    next = sim::ControllerEvent::ShortMessage(0, 0, 0, delay);
    next.word = flood::MessageWord(device, sequence);
    ++sequence;
    previousDue += delay.count();
    return true;
  }

 private:
  unsigned device;
  uint32_t count;
  flood::Pacer pacer;
  std::shared_ptr<Lateness> lateness;
  uint32_t sequence = 0;   // of the next message
  int64_t previousDue = 0; // microseconds from the stream's start to the last message handed out
  int64_t firstDue = 0;
  Clock::time_point firstDelivered;
};

} // namespace

int main(int argc, char** argv) {
  double devices = 16, perSecond = 16000, seconds = 4.5;
  if (argc > 4 || !flood::ParsePositiveArgument(argc, argv, 1, devices) ||
      !flood::ParsePositiveArgument(argc, argv, 2, perSecond) || !flood::ParsePositiveArgument(argc, argv, 3, seconds)) {
    std::fprintf(stderr, "usage: portprobe-flood [DEVICES [PER_SECOND [SECONDS]]]\n");
    return 2;
  }
  const auto deviceCount = static_cast<unsigned>(devices);
  const auto perDevice = static_cast<uint32_t>(perSecond * seconds);
  if (deviceCount == 0 || deviceCount > flood::kMaxDevices || perDevice > flood::kMaxSequence) {
    std::fprintf(stderr, "portprobe-flood: at most %u devices and %u messages per device\n", flood::kMaxDevices,
                 flood::kMaxSequence);
    return 2;
  }

  std::vector<std::shared_ptr<Lateness>> lateness;
  int code;
  {
    sim::SimulatedService service;
    for (unsigned device = 0; device < deviceCount; ++device) {
      char name[32];
      std::snprintf(name, sizeof name, "Flood %02u", device + 1);
      const unsigned input = service.AddInput(name);
      lateness.push_back(std::make_shared<Lateness>());
      service.AddStream(input, FloodSource(device, perDevice, perSecond, lateness.back()));
    }
    CMIDIManagerWin manager(service);
    code = RunTool(manager);
  }
  int64_t worst = 0;
  for (const auto& stream : lateness) worst = std::max(worst, stream->worstMicroseconds.load());
  std::fprintf(stderr, "\nflood: %u devices x %u messages at %.0f/s each; latest delivery %.3f ms behind schedule\n",
               deviceCount, perDevice, perSecond, static_cast<double>(worst) / 1e3);
  return code;
}
