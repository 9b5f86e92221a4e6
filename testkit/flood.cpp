#include "testkit/flood.h"

#include <cstdio>

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/twister_controller.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"
#include "midi/port/simulated/simulated_service.h"

namespace testkit::flood {

using namespace port::sim;

namespace {

constexpr uint8_t kNonCommercialId = 0x7D;
constexpr uint32_t kPacketsPerMessage = 3;

// The status kinds with two data bytes; program change and channel pressure
// have one and are left out.
constexpr uint8_t kKinds[] = {0x80, 0x90, 0xA0, 0xB0, 0xE0};
static_assert(sizeof kKinds * 16384 == kShortMessageNumbers, "one kind per 16384 messages");

uint8_t Bits(uint32_t value, int shift) {
  return static_cast<uint8_t>((value >> shift) & 0x7F);
}

} // namespace

uint32_t MessageWord(unsigned device, uint32_t number) {
  const uint32_t status = kKinds[(number >> 14) % sizeof kKinds] | (device & 0x0Fu);
  return status | (uint32_t{Bits(number, 7)} << 8) | (uint32_t{Bits(number, 0)} << 16);
}

bool DecodeMessage(unsigned status, unsigned data1, unsigned data2, unsigned& device, uint32_t& number) {
  if (data1 > 0x7F || data2 > 0x7F) return false;
  for (uint32_t kind = 0; kind < sizeof kKinds; ++kind) {
    if ((status & 0xF0) != kKinds[kind]) continue;
    device = status & 0x0F;
    number = (kind << 14) | (data1 << 7) | data2;
    return true;
  }
  return false;
}

std::chrono::microseconds DelayBefore(double perSecond, uint32_t index) {
  // Each due time rounded down from the exact one; a delay is the step
  // between two of them.
  const auto dueAt = [perSecond](uint64_t n) { return static_cast<int64_t>(static_cast<double>(n) * 1e6 / perSecond); };
  return std::chrono::microseconds(dueAt(uint64_t{index} + 1) - dueAt(index));
}

ControllerEvent Event(const Plan& plan, uint8_t device, uint32_t index) {
  const Device& settings = plan.devices.at(device);
  const std::chrono::microseconds delay = DelayBefore(plan.perSecond, index);
  if (settings.packetsEvery >= kPacketsPerMessage) {
    const uint32_t slot = index % settings.packetsEvery;
    const uint32_t first = index - slot;
    const bool fits = plan.eventsPerDevice == 0 || first + kPacketsPerMessage <= plan.eventsPerDevice;
    if (slot < kPacketsPerMessage && fits) {
      switch (slot) {
        case 0:
          return ControllerEvent::ShortMessage(0xF0, kNonCommercialId, device, delay);
        case 1:
          return ControllerEvent::ShortMessage(device, Bits(index, 7), Bits(index, 0), delay);
        default:
          return ControllerEvent::ShortMessage(0xF7, device, 0x00, delay);
      }
    }
  }
  if (settings.longEvery != 0 && index % settings.longEvery == settings.longEvery - 1) {
    return ControllerEvent::SysExMessage(
        {0xF0, kNonCommercialId, device, Bits(index, 14), Bits(index, 7), Bits(index, 0), 0xF7}, delay);
  }
  ControllerEvent event = ControllerEvent::ShortMessage(0, 0, 0, delay);
  event.word = MessageWord(device, index % kShortMessageNumbers);
  return event;
}

Plan FullSpeed(std::chrono::milliseconds duration) {
  // A control the user reassigned: the scene is rewritten.
  NanoKontrolController::Settings nano = NanoKontrolController::HoldingAnEditedScene();

  Plan plan;
  plan.eventsPerDevice = static_cast<uint32_t>(duration.count() * 16); // 16 a millisecond
  plan.devices = {
      {"Midi Fighter Twister 1", 0, 40, std::make_shared<TwisterController>()},
      {"Midi Fighter Twister 2", 50, 40, std::make_shared<TwisterController>()},
      // No packets: a 9-byte message would count as an identity reply.
      {"BCF2000", 0, 40, std::make_shared<BCController>(BCController::BCF2000("BCF2000 under flood"))},
      {"nanoKONTROL2", 50, 40, std::make_shared<NanoKontrolController>(std::move(nano))},
      {"X-TOUCH MINI", 50, 40, std::make_shared<XTouchMiniController>()},
  };
  for (unsigned device = 5; device < kMaxDevices; ++device) {
    plan.devices.push_back({"Flood Keyboard " + std::to_string(device), device % 2 == 1 ? 50u : 0u, 0, nullptr});
  }
  return plan;
}

Plan Numbered(unsigned devices, double perSecond, double seconds) {
  const double perDevice = perSecond * seconds;
  if (devices == 0 || devices > kMaxDevices || !(perSecond > 0) || !(perDevice >= 1) ||
      perDevice > kShortMessageNumbers) {
    return {};
  }
  Plan plan;
  plan.perSecond = perSecond;
  plan.eventsPerDevice = static_cast<uint32_t>(perDevice);
  for (unsigned device = 0; device < devices; ++device) {
    char name[32];
    std::snprintf(name, sizeof name, "Flood %02u", device + 1);
    plan.devices.push_back({name, 0, 0, nullptr});
  }
  return plan;
}

Plan ThroughTheStop() {
  Plan plan;
  plan.perSecond = 1000;
  plan.eventsPerDevice = 0;
  for (unsigned device = 1; device <= 4; ++device) {
    plan.devices.push_back(
        {"Midi Fighter Twister " + std::to_string(device), 0, 25, std::make_shared<TwisterController>()});
  }
  return plan;
}

namespace {

using Clock = std::chrono::steady_clock;

// The source of one device's stream. It is pulled right after the previous
// event was delivered, so the time of a pull tells how late that one was.
class Source {
 public:
  Source(std::shared_ptr<const Plan> plan, uint8_t device, std::shared_ptr<Lateness> lateness)
      : plan(std::move(plan)), device(device), lateness(std::move(lateness)) {}

  bool operator()(ControllerEvent& next) {
    if (plan->eventsPerDevice != 0 && index == plan->eventsPerDevice) return false;
    if (index >= 1 && lateness) Note(Clock::now());
    next = Event(*plan, device, index++);
    previousDue += next.delay.count();
    return true;
  }

 private:
  // The event before this one has just been delivered.
  void Note(Clock::time_point now) {
    if (index == 1) {
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

  std::shared_ptr<const Plan> plan;
  uint8_t device;
  std::shared_ptr<Lateness> lateness;
  uint32_t index = 0;      // of the next event
  int64_t previousDue = 0; // microseconds from the stream's start to the last event handed out
  int64_t firstDue = 0;
  Clock::time_point firstDelivered;
};

} // namespace

void Add(SimulatedService& service, const Plan& plan, std::vector<std::shared_ptr<Lateness>>* lateness) {
  auto shared = std::make_shared<const Plan>(plan);
  for (size_t device = 0; device < plan.devices.size(); ++device) {
    const Device& settings = plan.devices[device];
    const unsigned input = service.AddInput(settings.name);
    if (settings.controller) {
      const unsigned output = service.AddOutput(settings.name);
      service.Connect(settings.controller, static_cast<int>(input), static_cast<int>(output));
    }
    std::shared_ptr<Lateness> late;
    if (lateness != nullptr) {
      late = std::make_shared<Lateness>();
      lateness->push_back(late);
    }
    service.AddStream(input, Source(shared, static_cast<uint8_t>(device), std::move(late)));
  }
}

} // namespace testkit::flood
