// The manager torn down while the service is inside the program's input
// callback: in the middle of an event, and while a handler sends its reply.
// The teardown must wait for the callback, and the callback must find its
// record, its handler and the log still there (the sanitizer builds see a
// use after free or a race).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "app/log_sink.h"
#include "handlers/nano_kontrol.h"
#include "midi/device.h"
#include "midi/listener.h"
#include "midi/manager.h"
#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/controllers/scripted_controller.h"
#include "midi/port/simulated/simulated_service.h"
#include "tests/support/console_capture.h"

namespace {

// Holds the first note-on until the service's shutdown has begun (or, were
// the teardown not to wait, until it has ended), then reads its device and
// logs, as a listener may.
class HoldingListener final : public CMIDIListener {
 public:
  explicit HoldingListener(port::sim::SimulatedService& service) : service(service) {}
  void OnNoteOn(CMIDIDevice* device, uint8_t, uint8_t, uint8_t) override {
    entered = true;
    while (!service.ShuttingDown() && !teardownReturned) std::this_thread::yield();
    app::LogPrintf("still here: %s\n", device->name.Get().c_str());
    finished = true;
  }
  void OnControlChange(CMIDIDevice*, uint8_t, uint8_t, uint8_t) override {}
  void OnNoteOff(CMIDIDevice*, uint8_t, uint8_t, uint8_t) override {}
  void OnPitchBend(CMIDIDevice*, uint8_t, uint16_t) override {}
  void OnDevicesChanged(const std::vector<CMIDIDevice*>&) override {}

  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> teardownReturned{false};

 private:
  port::sim::SimulatedService& service;
};

TEST(ManagerTeardown, WaitsForACallbackInTheMiddleOfAnEvent) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  service.AddDevice("Keys", std::make_shared<port::sim::ScriptedController>(std::vector<port::sim::ControllerEvent>{
                                port::sim::ControllerEvent::ShortMessage(0x90, 60, 100)}));
  HoldingListener listener(service);
  auto manager = std::make_unique<CMIDIManagerWin>(service);
  manager->listeners.push_back(&listener);
  manager->Start();
  while (!listener.entered) std::this_thread::yield();

  bool callbackEndedFirst = false;
  std::thread teardown([&] {
    manager.reset();
    callbackEndedFirst = listener.finished;
    listener.teardownReturned = true;
  });
  teardown.join();
  EXPECT_TRUE(callbackEndedFirst);
  EXPECT_NE(app::logsink::CaptureContents().find("got MIDI: 90 3C 64\nstill here: Keys\n"), std::string::npos);
}

TEST(ManagerTeardown, WaitsForAReplyBeingSentFromTheCallback) {
  ConsoleCapture console;
  port::sim::SimulatedService service;
  port::sim::OutputFaults faults;
  // The dump request goes out; the scene image sent from the callback, in
  // answer to the edited scene, hangs until the teardown.
  faults.send = port::sim::ResultScript({port::kNoError, port::sim::kNeverReturns}, port::kNoError);
  service.AddInput("nanoKONTROL2");
  service.AddOutput("nanoKONTROL2", std::move(faults));
  service.Connect(
      std::make_shared<port::sim::NanoKontrolController>(port::sim::NanoKontrolController::HoldingAnEditedScene()), 0,
      0);
  auto manager = std::make_unique<CMIDIManagerWin>(service);
  manager->Start();
  service.WaitForHungCalls(1);
  manager.reset();
  service.Shutdown();
  EXPECT_EQ(service.HungCalls(), 1);
  EXPECT_EQ(service.CorruptedHeldSends(), 0);
  const std::string log = app::logsink::CaptureContents();
  EXPECT_NE(log.find("current settings are bad!\n"), std::string::npos);
  EXPECT_EQ(log.find("data upload"), std::string::npos);
}

} // namespace
