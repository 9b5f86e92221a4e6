// The simulated MIDI service: virtual ports with virtual controllers behind
// them, behaving like the Windows multimedia MIDI service.
//
// It drives the unit and end-to-end tests and portprobe-demo. Ports are
// created by name; each can be scripted to fail any call with any code.
// Controllers attached to a port pair react to what is sent to the output
// port by sending events to the input port, which the service delivers on
// its own dispatcher thread, in time order, as a driver thread would:
//  - events sent before the port's input is started wait until it is, and
//    until the starting thread has queued the port's long-message buffer
//    (or moved on to other ports), so a reply to the first request never
//    races the buffer; events sent after the port is stopped are dropped;
//  - a System Exclusive message lands only in a queued long-message buffer
//    and is dropped when none is queued; a message longer than the buffer
//    continues in the next queued buffer;
//  - "port opened" is delivered inside OpenInput, on the caller's thread.
// Everything sent to an output port is recorded for tests to inspect.
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
#include "midi/port/simulated/result_script.h"
#include "midi/port/simulated/virtual_controller.h"

namespace sim {

struct InputFaults {
  ResultScript name;      // capabilities: e.g. Always(kInvalParam)
  ResultScript open;      // e.g. Always(kAllocated)
  ResultScript start;
  ResultScript stop;
  ResultScript prepare;
  ResultScript addBuffer; // the queueing and every give-back
  ResultScript unprepare; // on top of the service's own "still queued" refusal
};

struct OutputFaults {
  ResultScript name;
  ResultScript open;
  ResultScript prepare;
  ResultScript send;    // e.g. FirstN(5, kNotReady) for a busy port
  ResultScript release; // e.g. Always(kStillPlaying): the port keeps the bytes
};

// What one output port was asked to do.
struct OutputRecord {
  std::vector<std::vector<uint8_t>> messages; // every accepted long message
  int prepareCalls = 0;
  int sendCalls = 0;
  int releaseCalls = 0;
};

// What happened on one input port.
struct InputRecord {
  int delivered = 0;           // events delivered to the callback
  int droppedLongMessages = 0; // SysEx that found no queued buffer
};

class SimulatedService final : public port::MidiService {
 public:
  SimulatedService();
  ~SimulatedService() override;

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

  // --- driving and inspecting ---
  // Sends an event on the input port as if its controller had.
  void Inject(unsigned inputIndex, ControllerEvent event);
  // A source of events pulled one at a time; false when it has no more. It
  // is called on the service's threads with the service's lock held, so it
  // must only compute the next event.
  using EventSource = std::function<bool(ControllerEvent& next)>;
  // Plays a stream on the input port: each event is due its delay after the
  // previous one's due time, on a fixed schedule, so a slow receiver makes
  // events late instead of slowing the stream. Memory stays constant
  // however long the stream runs. Starts when the port's input starts and
  // ends when it stops.
  void AddStream(unsigned inputIndex, EventSource source);
  // Waits until every event that can be delivered has been delivered.
  void WaitUntilIdle();
  OutputRecord Output(unsigned outputIndex);
  InputRecord Input(unsigned inputIndex);
  std::vector<unsigned> Pauses(); // the length of every Pause, in order
  int KeepAwakeCalls();
  // Headers still held because their release was refused, whose bytes the
  // caller changed or freed while held (checked at Shutdown).
  int CorruptedHeldSends();

  // --- port::MidiService ---
  unsigned InputCount() override;
  port::Result InputName(unsigned index, std::string& name) override;
  port::Result OpenInput(unsigned index, port::InputCallback callback, uintptr_t context,
                         port::InputHandle& handle) override;
  port::Result StartInput(port::InputHandle handle) override;
  port::Result StopInput(port::InputHandle handle) override;
  port::Result PrepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  port::Result AddInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  port::Result UnprepareInputBuffer(port::InputHandle handle, port::MidiHeader& header) override;
  void DetachInput(port::InputHandle handle) override;
  unsigned OutputCount() override;
  port::Result OutputName(unsigned index, std::string& name) override;
  port::Result OpenOutput(unsigned index, port::OutputHandle& handle) override;
  port::Result PrepareOutput(port::OutputHandle handle, port::MidiHeader& header) override;
  port::Result SendLong(port::OutputHandle handle, port::MidiHeader& header) override;
  port::Result UnprepareOutput(port::OutputHandle handle, port::MidiHeader& header) override;
  void KeepAwake() override;
  void Pause(unsigned milliseconds) override;
  void Shutdown() override;

 private:
  struct InputPort;
  struct OutputPort;
  struct Pending {
    InputPort* input;
    ControllerEvent event;
    std::shared_ptr<EventSource> stream; // pulled again once this event is out
  };
  class PortLink;

  InputPort* FindInput(port::InputHandle handle);
  OutputPort* FindOutput(port::OutputHandle handle);
  void Schedule(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream = nullptr);
  void QueueLocked(InputPort& input, ControllerEvent event, std::shared_ptr<EventSource> stream);
  void ReleaseHeldLocked(InputPort& input);
  // A call from the thread that started a port ends that port's start.
  void EndStartsLocked(const InputPort* exceptPort);
  void DispatchLoop();
  // Delivers one event; the lock is released while the callback runs.
  void Deliver(InputPort& input, ControllerEvent& event, std::unique_lock<std::mutex>& guard);
  void Callback(InputPort& input, uint32_t message, uintptr_t param1, std::unique_lock<std::mutex>& guard);
  bool IdleLocked() const;
  void CheckHeldSendsLocked();

  std::mutex lock;
  std::condition_variable wake;   // the dispatcher: new events, shutdown
  std::condition_variable settled; // waiters: delivery done, queue drained
  std::vector<std::unique_ptr<InputPort>> inputs;
  std::vector<std::unique_ptr<OutputPort>> outputs;
  std::multimap<std::chrono::steady_clock::time_point, Pending> queue; // by due time, then order sent
  int startingPorts = 0;
  InputPort* delivering = nullptr;
  bool shuttingDown = false;
  bool pausesSleep = true;
  std::vector<unsigned> pauses;
  int keepAwakeCalls = 0;
  int corruptedHeldSends = 0;
  std::thread dispatcher;
  std::thread::id dispatcherId;
};

} // namespace sim
