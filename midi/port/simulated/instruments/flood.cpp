#include "midi/port/simulated/instruments/flood.h"

#include "midi/port/simulated/controllers/bc_controller.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/twister_controller.h"
#include "midi/port/simulated/controllers/xtouch_mini_controller.h"

namespace port::sim {

namespace {

constexpr uint8_t kNonCommercialId = 0x7D;
constexpr uint32_t kPacketsPerMessage = 3;

uint8_t Bits(uint32_t value, int shift) {
  return static_cast<uint8_t>((value >> shift) & 0x7F);
}

} // namespace

std::chrono::microseconds FloodInterval(uint32_t index) {
  return std::chrono::microseconds(index % 2 == 0 ? 62 : 63);
}

uint32_t FloodEventsIn(std::chrono::milliseconds duration) {
  return static_cast<uint32_t>(duration.count() * 16); // 16 per millisecond
}

ControllerEvent FloodEvent(const FloodPlan& plan, uint8_t device, uint32_t index) {
  const FloodDevice& settings = plan.devices.at(device);
  const std::chrono::microseconds delay = FloodInterval(index);
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
  return ControllerEvent::ShortMessage(static_cast<uint8_t>(0x90 | device), Bits(index, 0), Bits(index, 7), delay);
}

FloodPlan FullSpeedFlood(std::chrono::milliseconds duration) {
  // A control the user reassigned: the scene is rewritten.
  NanoKontrolController::Settings nano = NanoKontrolController::HoldingAnEditedScene();

  FloodPlan plan;
  plan.eventsPerDevice = FloodEventsIn(duration);
  plan.devices = {
      {"Midi Fighter Twister 1", 0, 40, std::make_shared<TwisterController>()},
      {"Midi Fighter Twister 2", 50, 40, std::make_shared<TwisterController>()},
      // No packets: a 9-byte message would count as an identity reply.
      {"BCF2000", 0, 40, std::make_shared<BCController>(BCController::BCF2000("BCF2000 under flood"))},
      {"nanoKONTROL2", 50, 40, std::make_shared<NanoKontrolController>(std::move(nano))},
      {"X-TOUCH MINI", 50, 40, std::make_shared<XTouchMiniController>()},
  };
  for (uint8_t device = 5; device < 16; ++device) {
    plan.devices.push_back({"Flood Keyboard " + std::to_string(device), device % 2 == 1 ? 50u : 0u, 0, nullptr});
  }
  return plan;
}

void AddFlood(SimulatedService& service, const FloodPlan& plan) {
  auto shared = std::make_shared<const FloodPlan>(plan);
  for (size_t device = 0; device < plan.devices.size(); ++device) {
    const FloodDevice& settings = plan.devices[device];
    unsigned input;
    if (settings.controller) {
      input = service.AddInput(settings.name);
      const unsigned output = service.AddOutput(settings.name);
      service.Connect(settings.controller, static_cast<int>(input), static_cast<int>(output));
    } else {
      input = service.AddInput(settings.name);
    }
    const auto channel = static_cast<uint8_t>(device);
    service.AddStream(input, [shared, channel, index = uint32_t{0}](ControllerEvent& next) mutable {
      if (shared->eventsPerDevice != 0 && index == shared->eventsPerDevice) return false;
      next = FloodEvent(*shared, channel, index++);
      return true;
    });
  }
}

} // namespace port::sim
