// The device record: what the tool knows about the controller behind one
// MIDI input port.
//
// Threads: the main thread creates the record, identifies it and attaches it
// before its input starts. From then on the thread that delivers the port's
// input owns the decoding state (workerStarted, sysexInProgress,
// sysexBuffer, sysexOverflow) and the handler may rename the device there,
// while the main thread reads the name for the summary. `name` and
// `modelCode` are therefore safe to read and write from any thread. Input
// starts before the handler's first request, so a reply may be handled, and
// answered, while that request is still being sent: sendLock keeps the
// device's sends apart.
//
// Ownership: the manager that created the record owns it. A listed record
// lives until the manager is destroyed; it never owns its handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/port/port.h"

class CMIDIDeviceHandler;
class CMIDIManager;

// A string that one thread may rewrite while another reads it.
class SharedName {
 public:
  std::string Get() const;
  void Set(std::string text);

 private:
  mutable std::mutex lock;
  std::string text;
};

class CMIDIDevice {
 public:
  explicit CMIDIDevice(CMIDIManager& owner) : manager(owner) {}
  CMIDIDevice(const CMIDIDevice&) = delete;
  CMIDIDevice& operator=(const CMIDIDevice&) = delete;
  virtual ~CMIDIDevice();

  // A complete System Exclusive message arrived: logs it and hands it to the
  // handler. bytes is valid for the call only.
  void OnSysExReceived(const uint8_t* bytes, uint16_t length);

  SharedName name;
  std::atomic<char> modelCode{0};
  bool workerStarted = false;
  bool supported = false;
  bool sysexInProgress = false;
  std::vector<uint8_t> sysexBuffer;
  // The message being assembled grew too long to deliver; its bytes are
  // skipped until its end byte.
  bool sysexOverflow = false;
  CMIDIDeviceHandler* handler = nullptr;

  // The manager that created this record and decodes its input.
  CMIDIManager& manager;
};

// The record over a port of the MIDI port layer.
class CMIDIDeviceWin : public CMIDIDevice {
 public:
  CMIDIDeviceWin(CMIDIManager& owner, port::MidiService& midiService) : CMIDIDevice(owner), service(midiService) {}
  ~CMIDIDeviceWin() override;

  // Reads the port's name, pairs the output of the same name and classifies.
  void Identify(unsigned portIndex);
  // The output of exactly the input's name: where several carry it and the
  // service tells their devices, the first of the input's own device that
  // opens, else the first that opens; failing that, the one output of the
  // input's own device that no input of it shares a name with.
  void OpenMatchingOutput();
  // With a handler, queues the long-message buffer; then starts input.
  void StartInput();
  // Events of this port the port layer received but could not keep.
  uint64_t LostInputEvents() { return service.LostInputEvents(inputHandle); }

  // The input port's index, as Identify was given it.
  unsigned inputIndex = 0;
  port::InputHandle inputHandle = nullptr;
  port::OutputHandle outputHandle = nullptr;
  port::MidiHeader inputHeader;
  bool outputOpen = false;
  // Held by each send to this device's output, which the main thread (the
  // handler's first request) and the input thread (replies) may both make.
  std::mutex sendLock;

  port::MidiService& service;

 private:
  void QueueInputBuffer();
  bool OpenOutputOfSameDevice(const std::vector<unsigned>& sameName);
  void OpenOnlyOutputOfSameDevice();

  std::unique_ptr<uint8_t[]> inputBuffer;
};
