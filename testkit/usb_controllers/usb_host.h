// Plugs the scene's virtual controllers into a user-mode Linux kernel as USB
// MIDI units: each a gadget on the kernel's virtual USB bus (dummy_hcd),
// made through configfs with the device's name as its product string, so
// that the kernel's own snd-usb-audio binds it and names its card, its
// sequencer client and its port as it names the real unit. What a
// controller sends, the host writes to the gadget's own raw MIDI device (the
// unit's side of the cable); what the tool sends the unit, it reads there.
// The same controllers and scenes as jack-controllers: one behaviour, two
// transports.
//
// The gadget side is a sound card of its own in the guest (card index
// kFirstGadgetCard and up, id "gadgetN"), which the sequencer lists as well;
// the host holds its raw MIDI device open, so the sequencer's bridge cannot
// open it, and the tool finds it in use (tests/uml/README.md).
//
// Threads:
//  - one reader thread per unit: blocks in read() on the gadget's raw MIDI
//    device, cuts what comes into messages and hands each to the unit's
//    controller (OnReceive), under the host's lock;
//  - one writer thread: sends what the controllers scheduled, each at its
//    time, and records it (an Unplug event unbinds the unit's gadget);
//  - the caller's thread: Plug before the others start, StartInput (the
//    controllers' OnInputStarted, under the host's lock) and Stop, which
//    ends and joins them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testkit/jack_controllers/jack_scenes.h"
#include "testkit/jack_controllers/wire_record.h"

namespace usb_controllers {

constexpr int kFirstGadgetCard = 16;

class UsbHost {
 public:
  UsbHost(std::vector<jack_controllers::JackDevice> devices, jack_controllers::WireRecord& record);
  ~UsbHost();
  UsbHost(const UsbHost&) = delete;
  UsbHost& operator=(const UsbHost&) = delete;

  // Makes and binds the gadgets (configfs at `configfs`), waits for their
  // raw MIDI devices and opens them; false, with the reason on stderr, when
  // one cannot be made.
  bool Plug(const std::string& configfs);
  // The tool has opened its ports: the controllers' own traffic begins.
  void StartInput();
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Unit;
  class Link;
  struct Scheduled {
    Clock::time_point due;
    Unit* unit;
    port::sim::ControllerEvent event;
  };

  void Schedule(Unit& unit, const port::sim::ControllerEvent& event);
  void ReadLoop(Unit& unit);
  void WriteLoop();
  void Unplug(Unit& unit);

  std::vector<std::unique_ptr<Unit>> units;
  jack_controllers::WireRecord& record;
  std::string configfs;
  std::mutex lock; // the controllers, the schedule and the record
  std::condition_variable scheduled;
  std::deque<Scheduled> schedule;
  bool stopping = false;
  std::thread writer;
};

} // namespace usb_controllers
