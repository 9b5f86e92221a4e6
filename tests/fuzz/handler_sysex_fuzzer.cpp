// Every handler's System Exclusive dialogue alone: started, then fed a
// series of arbitrary messages of any length, replies to a simulated port.
// Whatever it is fed, a handler sends only its family's protocol messages,
// and a BC takes its name and model from the first identity reply alone.
#include <cstddef>
#include <cstdint>
#include <string>

#include "handlers/handler.h"
#include "midi/device.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// What a BC must have made of the messages, by the identity reply's rules:
// the first with either header and the end byte's room decides, once.
struct IdentityReference {
  explicit IdentityReference(const std::string& portName) : name(portName), model(portName == "BCF2000" ? 'G' : 'H') {}

  void See(const FuzzBytes& message) {
    if (decided || message.size() < 8) return;
    const FuzzBytes header(message.begin(), message.begin() + 7);
    if (header == FuzzBytes{0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02}) {
      model = 'G';
    } else if (header == FuzzBytes{0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02}) {
      model = 'H';
    } else {
      return;
    }
    decided = true;
    // Three bytes of text at least; all of them, as they are, up to the last byte.
    if (message.size() >= 11) name.assign(message.begin() + 7, message.end() - 1);
  }

  bool decided = false;
  std::string name;
  char model;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardingConsole console;
  app::logsink::SetConsoleWriter(&console);
  app::logsink::BeginCapture();
  FuzzInput input(data, size);

  const std::string name = kFuzzPortNames[input.Byte() % kFuzzPortNameCount];
  const bool isBC = name == "BCF2000" || name == "BCR2000";
  IdentityReference reference(name);
  port::sim::SimulatedService service;
  service.SetPausesSleep(false);
  service.AddInput(name);
  service.AddOutput(name);
  {
    CMIDIManagerWin manager(service);
    manager.Start(); // attach starts the handler, which sends its first request
    CMIDIDevice* device = manager.devices.empty() ? nullptr : manager.devices[0];
    CMIDIDeviceHandler* handler = device == nullptr ? nullptr : device->handler;
    while (handler != nullptr && !input.Empty()) {
      // Messages of exactly the lengths the dialogues care about are likely:
      // a length byte of 0xFF means "take 402 bytes".
      const uint8_t lengthByte = input.Byte();
      std::vector<uint8_t> message = input.Bytes(lengthByte == 0xFF ? 402 : lengthByte);
      reference.See(message);
      handler->OnSysEx(message.data(), static_cast<uint16_t>(message.size()));
    }
    if (isBC && device != nullptr) {
      Require(device->name.Get() == reference.name, "a BC's name comes from its first identity reply");
      Require(device->modelCode == reference.model, "a BC's model comes from its first identity reply");
    }
    manager.Stop();
  }
  RequireOnlyProtocolMessages(name, service.Output(0).messages);
  app::logsink::SetConsoleWriter(nullptr);
  return 0;
}
