// Every handler's System Exclusive dialogue alone: started, then fed a
// series of arbitrary messages of any length, replies to a simulated port.
#include <cstddef>
#include <cstdint>

#include "handlers/handler.h"
#include "midi/device.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardingConsole console;
  logsink::SetConsoleWriter(&console);
  logsink::BeginCapture();
  FuzzInput input(data, size);

  const char* name = kFuzzPortNames[input.Byte() % kFuzzPortNameCount];
  sim::SimulatedService service;
  service.SetPausesSleep(false);
  service.AddInput(name);
  service.AddOutput(name);
  {
    CMIDIManagerWin manager(service);
    manager.Start(); // attach starts the handler, which sends its first request
    CMIDIDeviceHandler* handler = manager.devices.empty() ? nullptr : manager.devices[0]->handler;
    while (handler != nullptr && !input.Empty()) {
      // Messages of exactly the lengths the dialogues care about are likely:
      // a length byte of 0xFF means "take 402 bytes".
      const uint8_t lengthByte = input.Byte();
      std::vector<uint8_t> message = input.Bytes(lengthByte == 0xFF ? 402 : lengthByte);
      handler->OnSysEx(message.data(), static_cast<uint16_t>(message.size()));
    }
    manager.Stop();
  }
  logsink::SetConsoleWriter(nullptr);
  return 0;
}
