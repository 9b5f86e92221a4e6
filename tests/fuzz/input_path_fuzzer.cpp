// Arbitrary event streams from one controller, through the real input path
// and the real handler, with the handler's replies going to the simulated
// service (whose output may be busy or hold its buffers). Whatever comes,
// every short message is logged, the tool sends only its protocol messages,
// one at a time and never before the answer can be heard.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "midi/device.h"
#include "midi/manager.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/forwarding_service.h"

namespace {

// Counts the short messages the driver hands the program's callback.
class CountingService final : public ForwardingService {
 public:
  using ForwardingService::ForwardingService;

  port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                         port::InputHandle& handle) override {
    programCallback = callback;
    programContext = context;
    return inner.OpenInput(index, Counted, reinterpret_cast<uintptr_t>(this), handle);
  }

  std::atomic<size_t> shortMessages{0};

 private:
  static void Counted(port::InputHandle handle, uint32_t message, uintptr_t context, uintptr_t param1,
                      uintptr_t param2) {
    auto* self = reinterpret_cast<CountingService*>(context);
    if (message == port::kEventData) ++self->shortMessages;
    self->programCallback(handle, message, self->programContext, param1, param2);
  }

  port::InputCallback programCallback = nullptr;
  uintptr_t programContext = 0;
};

bool NoWorkerThreads(std::function<void()>&& /*body*/) {
  return false; // the fuzzer stays single-threaded apart from the service
}

port::sim::ControllerEvent NextEvent(FuzzInput& input) {
  port::sim::ControllerEvent event;
  switch (input.Byte() % 8) {
    case 0:
    case 1:
    case 2:
      event.kind = port::sim::ControllerEvent::Kind::Short;
      event.word = input.Byte() | (input.Byte() << 8) | (input.Byte() << 16) | (input.Byte() << 24);
      break;
    case 3:
    case 4:
      event.kind = port::sim::ControllerEvent::Kind::SysEx;
      event.bytes = input.Bytes(input.Word() % 1200);
      break;
    case 5:
      event.kind = port::sim::ControllerEvent::Kind::InvalidShort;
      event.word = input.Byte();
      break;
    case 6:
      event.kind = port::sim::ControllerEvent::Kind::InvalidLong;
      event.bytes = input.Bytes(input.Byte());
      break;
    default:
      event.kind = port::sim::ControllerEvent::Kind::RawEvent;
      event.word = 0x3C0 + (input.Byte() % 16); // every callback code and its neighbours
      break;
  }
  return event;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardingConsole console;
  app::logsink::SetConsoleWriter(&console);
  app::logsink::BeginCapture();
  FuzzInput input(data, size);

  const std::string name = kFuzzPortNames[input.Byte() % kFuzzPortNameCount];
  const uint8_t faults = input.Byte();
  port::sim::SimulatedService service;
  service.SetPausesSleep(false);
  service.AddInput(name);
  port::sim::OutputFaults outputFaults;
  if (faults & 0x01) outputFaults.send = port::sim::ResultScript::FirstN(faults >> 4, port::kNotReady);
  if (faults & 0x02) outputFaults.release = port::sim::ResultScript::FirstN(faults >> 4, port::kStillPlaying);
  if (faults & 0x04) outputFaults.send = port::sim::ResultScript::Always(port::kError);
  if ((faults & 0x08) == 0) service.AddOutput(name, std::move(outputFaults));

  CountingService counting(service);
  std::string deviceName;
  {
    CMIDIManagerWin manager(counting);
    manager.Workers().SetThreadStarter(NoWorkerThreads);
    manager.Start();
    // Once input is started, as the service drops what comes before; the
    // events play through the service's own thread as a driver's would.
    while (!input.Empty()) service.Inject(0, NextEvent(input));
    service.WaitUntilIdle();
    if (!manager.devices.empty()) deviceName = manager.devices[0]->name.Get();
    manager.Stop();
  }
  // A BC's identity text is logged as it is and may itself hold the words.
  const std::string log = app::logsink::CaptureContents();
  const std::string shown(deviceName.c_str());
  Require(Occurrences(log, "got MIDI: ") == counting.shortMessages + Occurrences(shown, "got MIDI: "),
          "every short message is logged once");
  Require(service.EarlyRequests().empty(), "no request goes out before its answer can be heard");
  if ((faults & 0x08) == 0) {
    const port::sim::OutputRecord sent = service.Output(0);
    Require(sent.overlappingSends == 0, "a device's sends never overlap");
    RequireOnlyProtocolMessages(name, sent.messages);
  }
  app::logsink::SetConsoleWriter(nullptr);
  return 0;
}
