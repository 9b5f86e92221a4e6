// The simulated MIDI service: virtual ports with virtual controllers behind
// them, behaving like the Windows multimedia MIDI service, never more kindly
// than its strictest form.
//
// It drives the unit and end-to-end tests and portprobe-demo. Ports are
// created by name; each can be scripted to fail any call with any code.
// Controllers attached to a port pair react to what is sent to the output
// port by sending events to the input port, which the service delivers on
// its own dispatcher thread, in time order, as a driver thread would:
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
//    as the timing says (ServiceTiming), then is dropped whole, or, when it
//    was begun, its rest is;
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
// (controllers/) and the demo scene. What tests and benchmarks strain and
// watch it with (named scenarios with their faults, misbehaving and
// flooding controllers, the floods, the records) is in instruments/.
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
#include "midi/port/simulated/instruments/records.h"
#include "midi/port/simulated/result_script.h"
#include "midi/port/simulated/virtual_controller.h"

namespace port::sim {

// How fast the service and its controllers are. Each preset is as strict as
// the Windows stack it stands for.
struct ServiceTiming {
  // The bytes of a long message are with the device before midiOutLongMsg
  // returns: its header comes back done inside the call.
  bool sendDoneInCall = false;
  // What a controller's answer takes at least, from the moment the message
  // it answers reached it.
  std::chrono::microseconds answerLatency{0};
  // How long a System Exclusive message that finds no queued buffer waits
  // for one at its F0, and when the buffers run out in its middle.
  std::chrono::microseconds bufferWaitAtStart{0};
  std::chrono::microseconds bufferWaitInMiddle{0};

  // The classic driver stack: sends are taken by the call and given back
  // at release, controllers answer at once, and a SysEx that finds no
  // buffer is lost at once.
  static ServiceTiming Classic() { return {}; }
  // Windows MIDI Services behind winmm (Windows 11 24H2 and later): sends
  // complete inside the call, controllers answer within a millisecond, and
  // a SysEx waits 1 ms for a buffer at its start and 10 ms in its middle.
  static ServiceTiming CurrentWindows() {
    return {true, std::chrono::milliseconds(1), std::chrono::milliseconds(1), std::chrono::milliseconds(10)};
  }
};

struct InputFaults {
  ResultScript name; // capabilities: e.g. Always(kInvalParam)
  ResultScript open; // e.g. Always(kAllocated)
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
  ResultScript open;
  ResultScript prepare;
  ResultScript send;    // e.g. FirstN(5, kNotReady) for a busy port
  ResultScript release; // e.g. Always(kStillPlaying): the port keeps the bytes
};

class SimulatedService final : public port::MidiService {
 public:
  explicit SimulatedService(ServiceTiming timing = ServiceTiming::Classic());
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
  void KeepAwake() override;
  void Pause(unsigned milliseconds) override;
  void Shutdown() override;

  // --- building the scene (before the run) ---
  unsigned AddInput(std::string name, InputFaults faults = {});
  unsigned AddOutput(std::string name, OutputFaults faults = {});
  // Connects a controller to an input port (its events) and an output port
  // (what it receives); -1 for none.
  void Connect(std::shared_ptr<VirtualController> controller, int inputIndex, int outputIndex);
  // An input and an output of the same name with the controller behind both.
  void AddDevice(const std::string& name, std::shared_ptr<VirtualController> controller);
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

  // --- instruments: what only tests and benchmarks read ---
  // Waits until every event that can be delivered has been delivered.
  void WaitUntilIdle();
  OutputRecord Output(unsigned outputIndex);
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
  void Schedule(InputPort& input, ControllerEvent event, std::chrono::microseconds earliest = {});
  void QueueLocked(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream,
                   std::chrono::microseconds earliest = {});
  void DispatchLoop();
  bool ListeningLocked(const InputPort& input) const;
  // Delivers one event; the lock is released while the callback runs.
  void Deliver(InputPort& input, ControllerEvent& event, std::chrono::steady_clock::time_point due,
               std::unique_lock<std::mutex>& guard);
  // Reads bytes off the wire into short messages and long-message buffers.
  void ReadBytes(InputPort& input, const std::vector<uint8_t>& bytes, std::unique_lock<std::mutex>& guard);
  void ReadSysExByte(InputPort& input, uint8_t byte, std::unique_lock<std::mutex>& guard);
  // Takes the next queued buffer to write into, if one is queued by the
  // deadline; waits for it until then.
  bool TakeBuffer(InputPort& input, std::chrono::steady_clock::time_point deadline,
                  std::unique_lock<std::mutex>& guard);
  // Hands the buffer being written back to the callback.
  void HandBack(InputPort& input, uint32_t message, std::unique_lock<std::mutex>& guard);
  void Unplug(InputPort& input, std::unique_lock<std::mutex>& guard);
  void Callback(InputPort& input, uint32_t message, uintptr_t param1, std::unique_lock<std::mutex>& guard);
  // Waits until no event of the port is being delivered on another thread.
  void WaitOutDelivery(const InputPort& input, std::unique_lock<std::mutex>& guard);
  bool IdleLocked() const;
  void CheckHeldSendsLocked();
  // The next result of a call's script; a call scripted never to return
  // waits here, the lock let go, until released.
  [[nodiscard]] port::Result Outcome(ResultScript& script, std::unique_lock<std::mutex>& guard);

  std::mutex lock;
  std::condition_variable wake;           // the dispatcher: new events, shutdown
  std::condition_variable settled;        // waiters: delivery done, queue drained
  std::condition_variable buffersChanged; // a SysEx waiting for a buffer
  std::condition_variable hangsChanged;   // hung calls and their release
  ServiceTiming timing;
  std::vector<std::unique_ptr<InputPort>> inputs;
  std::vector<std::unique_ptr<OutputPort>> outputs;
  std::multimap<std::chrono::steady_clock::time_point, Pending> queue; // by due time, then order sent
  InputPort* reading = nullptr;                                        // whose event the dispatcher is in the middle of
  bool shuttingDown = false;
  bool pausesSleep = true;
  std::vector<unsigned> pauses;
  int keepAwakeCalls = 0;
  int corruptedHeldSends = 0;
  std::vector<std::string> earlyRequests;
  int hungCalls = 0;
  bool hangsReleased = false;
  std::thread dispatcher;
  std::thread::id dispatcherId;
};

} // namespace port::sim
