// The simulated MIDI service: virtual ports with virtual controllers behind
// them, behaving like the Windows multimedia MIDI service, never more kindly
// than its strictest form.
//
// It drives the unit and end-to-end tests and portprobe-demo. Ports are
// created by name; each can be scripted to fail any call with any code.
// Controllers attached to a port pair react to what is sent to the output
// port by sending events to the input port, which the service delivers on
// that port's own delivery thread, in time order, as the driver would:
//  - an event is delivered only while the port's input is started: what
//    comes before midiInStart, or after midiInStop, is lost, as Windows
//    loses it;
//  - bytes are read as the Windows service reads them: a System Exclusive
//    message is written into queued long-message buffers, one after the
//    other, each handed back when it is full or the message ends; a status
//    byte that interrupts the message hands its buffer back as "invalid long
//    message"; a real-time byte inside it comes as a short message of its
//    own; a message that has not ended keeps its partly filled buffer until
//    more comes or input stops, which hands it back as "invalid long
//    message". A message that finds no queued buffer waits for one as long
//    as the model says (ServiceModel), then is dropped whole, or, when it
//    was begun, its rest is; after such a wait later ones that find no
//    buffer are dropped at once;
//  - ports are named, and tell their device, as the model's Windows does:
//    AddUsbDevice names a device's ports by its rules (windows_port_names.h);
//  - each input port has a delivery thread of its own, so two ports'
//    callbacks run at the same time; a stop or detach waits, without limit,
//    for a callback of its port that is running;
//  - "port opened" is delivered inside OpenInput, on the caller's thread;
//  - a device can be unplugged in the middle of the run: its input reports
//    "port closed", its calls answer MMSYSERR_NODRIVER, and the buffers it
//    held never come back.
// Everything sent to an output port is recorded for tests to inspect, and so
// is every request that reaches a controller whose input could not take the
// answer yet (EarlyRequests).
//
// This folder holds the service, the controller interface
// (virtual_controller.h), the controllers of the families the tool knows
// (controllers/), what the service records of its ports (records.h) and
// the demo scene. What tests and benchmarks strain and watch it with (named
// scenarios with their faults, misbehaving and flooding controllers, the
// floods) is the test kit's (testkit/).
//
// Threads: any thread may call the port operations. Controllers are called
// on the thread that sends to them (OnReceive) or starts input
// (OnInputStarted), one at a time. No lock of the service is held while the
// input callback or a controller runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/port/port.h"
#include "midi/port/simulated/records.h"
#include "midi/port/simulated/result_script.h"
#include "midi/port/simulated/service_model.h"
#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {

struct InputFaults {
  ResultScript name;   // capabilities: e.g. Always(kInvalParam)
  ResultScript device; // the device query, on top of the model's answer
  ResultScript open;   // e.g. Always(kAllocated)
  ResultScript start;
  ResultScript stop;
  ResultScript prepare;
  ResultScript addBuffer; // the queueing and every give-back
  ResultScript unprepare; // on top of the service's own "still queued" refusal
  // A careless driver that calls back with input whether or not the port
  // was started: a port the program never started still reaches its
  // callback.
  bool deliversWhileStopped = false;
};

struct OutputFaults {
  ResultScript name;
  ResultScript device;
  ResultScript open;
  ResultScript prepare;
  ResultScript send;    // e.g. FirstN(5, kNotReady) for a busy port; kStalls
  ResultScript release; // e.g. Always(kStillPlaying): the port keeps the bytes
};

// A USB MIDI device: its product name and, for each port of each
// direction, the name its USB jack has ("" for none).
struct UsbDevice {
  std::string name;
  std::vector<std::string> inputJacks;
  std::vector<std::string> outputJacks;
};

// The indices AddUsbDevice gave a device's ports.
struct DevicePorts {
  std::vector<unsigned> inputs;
  std::vector<unsigned> outputs;
};

class SimulatedService final : public port::MidiService {
 public:
  explicit SimulatedService(ServiceModel model = ServiceModel::Classic());
  ~SimulatedService() override;

  // --- port::MidiService ---
  unsigned InputCount() override;
  [[nodiscard]] port::Result InputName(unsigned index, std::string& name) override;
  [[nodiscard]] port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                                       port::InputHandle& handle) override;
  [[nodiscard]] port::Result StartInput(port::InputHandle handle) override;
  [[nodiscard]] port::Result StopInput(port::InputHandle handle) override;
  [[nodiscard]] port::Result PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  void DetachInput(port::InputHandle handle) override;
  unsigned OutputCount() override;
  [[nodiscard]] port::Result OutputName(unsigned index, std::string& name) override;
  [[nodiscard]] port::Result OpenOutput(unsigned index, port::OutputHandle& handle) override;
  [[nodiscard]] port::Result PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result SendLong(port::OutputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) override;
  [[nodiscard]] port::Result DeviceOf(port::Direction direction, unsigned index, std::string& device) override;
  void KeepAwake() override;
  void Pause(unsigned milliseconds) override;
  void Shutdown() override;

  // --- building the scene (before the run) ---
  // A port of exactly this name. Its device is the one of that interface
  // path, or, with none given, a device of its own.
  unsigned AddInput(std::string name, InputFaults faults = {}, std::string devicePath = {});
  unsigned AddOutput(std::string name, OutputFaults faults = {}, std::string devicePath = {});
  // Connects a controller to an input port (its events) and an output port
  // (what it receives); -1 for none.
  void Connect(std::shared_ptr<VirtualController> controller, int inputIndex, int outputIndex);
  // An input and an output of the same name, one device, with the controller
  // behind both.
  void AddDevice(const std::string& name, std::shared_ptr<VirtualController> controller);
  // A USB device with its ports named as the model's Windows names them
  // (the unit counted among the USB devices of that name added before); the
  // controller sits behind its first input and first output, the later
  // ports (a BCF2000's DIN sockets) have nothing behind them.
  DevicePorts AddUsbDevice(const UsbDevice& device, std::shared_ptr<VirtualController> controller);
  // Windows MIDI Services' own ports: its synth ("General MIDI Synth", an
  // input and an output), and a loopback pair whose input and output share
  // a name and whose output comes back at its input.
  void AddServiceSynth();
  void AddLoopback(const std::string& name);
  // Whether Pause really sleeps; tests of the retry policy only count them.
  void SetPausesSleep(bool sleep);

  // --- driving ---
  // Sends an event on the input port as if its controller had.
  void Inject(unsigned inputIndex, ControllerEvent event);
  // A source of events pulled one at a time; false when it has no more. It
  // is called on the service's threads with the service's lock held, so it
  // must only compute the next event.
  using EventSource = std::function<bool(ControllerEvent& next)>;
  // Plays a stream on the input port: each event is due its delay after the
  // previous one's due time, on a fixed schedule, so a slow receiver makes
  // events late instead of slowing the stream. Memory stays constant
  // however long the stream runs. The stream begins when the port's input
  // starts (at once if it runs) and ends when it stops.
  void AddStream(unsigned inputIndex, EventSource source);

  // --- what only tests and benchmarks read ---
  // Waits until every event that can be delivered has been delivered.
  void WaitUntilIdle();
  OutputRecord Output(unsigned outputIndex);
  // The output's name as records label it, read past any scripted fault: a
  // later output of a name an earlier one has too (a second unit's, where
  // the units of a product share names) gets " #N", N its place among the
  // outputs of that name.
  std::string OutputLabel(unsigned outputIndex);
  InputRecord Input(unsigned inputIndex);
  std::vector<unsigned> Pauses(); // the length of every Pause, in order
  int KeepAwakeCalls();
  // Headers still held because their release was refused, whose bytes the
  // caller changed or freed while held (checked at Shutdown).
  int CorruptedHeldSends();
  // One line for every message that reached a controller while its input
  // port could not take an answer: not started, or with no long-message
  // buffer queued (unless the message was sent from inside that port's own
  // delivery, after which the buffer goes back before any answer comes).
  std::vector<std::string> EarlyRequests();
  // One line for every call the program made that the current Windows
  // service would never return from: a stop or detach of a port from inside
  // that port's own callback, which waits for itself. The call returns here,
  // so that the test can say so.
  std::vector<std::string> SelfWaits();
  // Stops and detaches waiting for a callback of their port to return.
  int DeliveryWaiters();
  void WaitForDeliveryWaiters(int count);
  // Calls held because their script said kNeverReturns, and the release of
  // all of them (and of any later one).
  int HungCalls();
  void WaitForHungCalls(int count);
  void ReleaseHungCalls();
  // Whether Shutdown has begun: a test holds a callback until the teardown
  // is under way.
  bool ShuttingDown();

 private:
  struct InputPort;
  struct OutputPort;
  struct Controller;
  struct Pending {
    InputPort* input;
    ControllerEvent event;
    std::shared_ptr<EventSource> stream; // pulled again once this event is out
  };
  class PortLink;

  InputPort* FindInput(port::InputHandle handle);
  OutputPort* FindOutput(port::OutputHandle handle);
  unsigned AddInputLocked(std::string name, InputFaults faults, std::string devicePath);
  unsigned AddOutputLocked(std::string name, OutputFaults faults, std::string devicePath);
  std::string OwnDevicePathLocked();
  void Schedule(InputPort& input, ControllerEvent event, std::chrono::microseconds earliest = {});
  void QueueLocked(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream,
                   std::chrono::microseconds earliest = {});
  // The port's delivery thread.
  void DeliveryLoop(InputPort& input);
  bool ListeningLocked(const InputPort& input) const;
  // Delivers one event; the lock is released while the callback runs.
  void Deliver(InputPort& input, ControllerEvent& event, std::chrono::steady_clock::time_point due,
               std::unique_lock<std::mutex>& guard);
  // Reads bytes off the wire into short messages and long-message buffers.
  void ReadBytes(InputPort& input, const uint8_t* bytes, size_t count, std::unique_lock<std::mutex>& guard);
  // A short-message word as the bytes it puts on the wire.
  void ReadWord(InputPort& input, uint32_t word, std::unique_lock<std::mutex>& guard);
  void ReadSysExByte(InputPort& input, uint8_t byte, std::unique_lock<std::mutex>& guard);
  // Takes the next queued buffer to write into, if one is queued by the
  // deadline; waits for it until then.
  bool TakeBuffer(InputPort& input, std::chrono::steady_clock::time_point deadline,
                  std::unique_lock<std::mutex>& guard);
  // Hands the buffer being written back to the callback.
  void HandBack(InputPort& input, uint32_t message, std::unique_lock<std::mutex>& guard);
  // A broken short message or an unknown event code: passed on where the
  // model's service reports them, otherwise dropped.
  void ReportBroken(InputPort& input, uint32_t message, uintptr_t param1, std::unique_lock<std::mutex>& guard);
  // A send the device stopped taking, as the model's service ends it.
  [[nodiscard]] port::Result Stall(OutputPort& output, port::MidiHeader& header, std::unique_lock<std::mutex>& guard);
  void Unplug(InputPort& input, std::unique_lock<std::mutex>& guard);
  void Callback(InputPort& input, uint32_t message, uintptr_t param1, std::unique_lock<std::mutex>& guard);
  // Waits until no event of the port is being delivered; what asks from the
  // port's own delivery is recorded as a wait that never ends (SelfWaits).
  void WaitOutDelivery(const InputPort& input, const char* call, std::unique_lock<std::mutex>& guard);
  bool IdleLocked() const;
  void CheckHeldSendsLocked();
  // The next result of a call's script; a call scripted never to return
  // waits here, the lock let go, until released.
  [[nodiscard]] port::Result Outcome(ResultScript& script, std::unique_lock<std::mutex>& guard);

  std::mutex lock;
  std::condition_variable settled;        // waiters: delivery done, queues drained
  std::condition_variable buffersChanged; // a SysEx waiting for a buffer
  std::condition_variable hangsChanged;   // hung, stalled and waiting calls, and their release
  ServiceModel model;
  std::vector<std::unique_ptr<InputPort>> inputs;
  std::vector<std::unique_ptr<OutputPort>> outputs;
  std::map<std::string, unsigned> usbUnits; // USB devices added, by name
  unsigned portsOfTheirOwn = 0;             // devices made for a lone port
  bool shuttingDown = false;
  bool pausesSleep = true;
  std::vector<unsigned> pauses;
  int keepAwakeCalls = 0;
  int corruptedHeldSends = 0;
  std::vector<std::string> earlyRequests;
  std::vector<std::string> selfWaits;
  int deliveryWaiters = 0;
  int hungCalls = 0;
  bool hangsReleased = false;
};

} // namespace port::sim
