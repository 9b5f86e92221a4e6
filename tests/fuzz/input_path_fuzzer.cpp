// Arbitrary event streams from one controller, through the real input path
// and the real handler, with the handler's replies going to the simulated
// service (whose output may be busy or hold its buffers).
#include <cstddef>
#include <cstdint>

#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

bool NoWorkerThreads(std::function<void()>) {
  return false; // the fuzzer stays single-threaded apart from the service
}

sim::ControllerEvent NextEvent(FuzzInput& input) {
  sim::ControllerEvent event;
  switch (input.Byte() % 8) {
    case 0:
    case 1:
    case 2:
      event.kind = sim::ControllerEvent::Kind::Short;
      event.word = input.Byte() | (input.Byte() << 8) | (input.Byte() << 16) | (input.Byte() << 24);
      break;
    case 3:
    case 4:
      event.kind = sim::ControllerEvent::Kind::SysEx;
      event.bytes = input.Bytes(input.Word() % 1200);
      break;
    case 5:
      event.kind = sim::ControllerEvent::Kind::InvalidShort;
      event.word = input.Byte();
      break;
    case 6:
      event.kind = sim::ControllerEvent::Kind::InvalidLong;
      event.bytes = input.Bytes(input.Byte());
      break;
    default:
      event.kind = sim::ControllerEvent::Kind::RawEvent;
      event.word = 0x3C0 + (input.Byte() % 16); // every callback code and its neighbours
      break;
  }
  return event;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardingConsole console;
  logsink::SetConsoleWriter(&console);
  logsink::BeginCapture();
  FuzzInput input(data, size);

  const char* name = kFuzzPortNames[input.Byte() % kFuzzPortNameCount];
  const uint8_t faults = input.Byte();
  sim::SimulatedService service;
  service.SetPausesSleep(false);
  service.AddInput(name);
  sim::OutputFaults outputFaults;
  if (faults & 0x01) outputFaults.send = sim::ResultScript::FirstN(faults >> 4, port::kNotReady);
  if (faults & 0x02) outputFaults.release = sim::ResultScript::FirstN(faults >> 4, port::kStillPlaying);
  if (faults & 0x04) outputFaults.send = sim::ResultScript::Always(port::kError);
  if ((faults & 0x08) == 0) service.AddOutput(name, std::move(outputFaults));

  // Everything the controller sends waits until input starts, then plays
  // through the service's own thread as a driver's would.
  while (!input.Empty()) service.Inject(0, NextEvent(input));
  {
    CMIDIManagerWin manager(service);
    manager.Workers().SetThreadStarter(NoWorkerThreads);
    manager.Start();
    service.WaitUntilIdle();
    manager.Stop();
  }
  logsink::SetConsoleWriter(nullptr);
  return 0;
}
