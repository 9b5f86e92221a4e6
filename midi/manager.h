// The device manager: the one owner of the MIDI devices of a run.
//
// Threads: the main thread calls Start, DescribeDevices and Stop. The input
// thread of the port layer calls DecodeShortMessage and, through the
// handlers, SendSysEx. Activity workers call NotifyDevicesChanged. listLock
// guards devices and listeners in AttachDevice, DescribeDevices,
// NotifyDevicesChanged and Stop; it is a plain mutex, so nothing that runs
// under it (a handler's Start above all) may call those again.
//
// Ownership: the manager owns every record and handler it has attached; they
// live until the manager is destroyed. The destructor first stops the port
// layer's event delivery and ends the activity workers, so that no thread can
// reach a record, a list or the lock once they are gone.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/activity_worker.h"
#include "midi/port/port.h"

class CMIDIDevice;
class CMIDIDeviceWin;
class CMIDIDeviceHandler;
class CMIDIListener;

class CMIDIManager {
 public:
  CMIDIManager();
  CMIDIManager(const CMIDIManager&) = delete;
  CMIDIManager& operator=(const CMIDIManager&) = delete;

  virtual void SendSysEx(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) = 0;
  virtual void SendSysExForward(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) = 0;
  virtual ~CMIDIManager();
  virtual void Start() = 0;
  virtual void Stop() = 0;

  // Lists the record and links it with its handler; false for a record
  // whose port could not be read ('Z'), which the caller then destroys.
  bool AttachDevice(CMIDIDevice* device);
  // Runs the handler's Start under listLock, once the device's input is
  // started and its buffer queued, so that the first request's answer can
  // be received however fast it comes.
  void StartDialogue(CMIDIDevice* device);
  // The summary of the report: one line per listed device.
  void DescribeDevices(std::string& text);
  // Logs "%llu MIDI events lost on \"%s\".\n" for each listed device whose
  // port layer could not keep everything the service delivered.
  void LogLostEvents();
  // The same two for a run that has to end while a call may still hold
  // listLock: each waits for the lock at most `patience`, then reads the
  // attached devices from a record of its own instead. True when the lock
  // was had.
  bool DescribeDevicesWithin(std::string& text, std::chrono::milliseconds patience);
  bool LogLostEventsWithin(std::chrono::milliseconds patience);
  // Decodes one short-message packet of three bytes from the device;
  // defined with the input path (input.cpp).
  void DecodeShortMessage(const uint8_t* packet, CMIDIDevice* device);
  // Starts one activity worker and returns without waiting for it; false
  // when it could not be started.
  bool StartActivityWorker();
  // The activity worker's body: after its pause, tells the listeners about
  // the device list.
  void NotifyDevicesChanged();

  std::vector<CMIDIDevice*> devices;
  std::mutex listLock;
  // Read without the lock by the decoder: change it only while no input runs.
  std::vector<CMIDIListener*> listeners;
  bool started = false;

  ActivityWorkers& Workers() { return workers; }

 protected:
  // Empties the list (and the record of attached devices); under listLock.
  void ForgetDevicesLocked();
  // Takes ownership of a record and of the handler attach gave it.
  void Adopt(std::unique_ptr<CMIDIDevice> record);
  // Ends the workers and frees what the manager owns; called by the
  // platform manager's destructor once event delivery has stopped.
  void ReleaseOwned();

 private:
  // The devices attached since the last Stop, as `devices` lists them; under
  // attachedLock, which nothing holds across a call to the port layer.
  std::vector<CMIDIDevice*> AttachedDevices();
  // listLock within patience, or not at all.
  bool TryListLock(std::chrono::milliseconds patience);

  std::mutex attachedLock;
  std::vector<CMIDIDevice*> attached;
  ActivityWorkers workers;
  std::vector<std::unique_ptr<CMIDIDevice>> ownedRecords;
  std::vector<std::unique_ptr<CMIDIDeviceHandler>> ownedHandlers;
};

// The manager over a port::MidiService.
class CMIDIManagerWin : public CMIDIManager {
 public:
  explicit CMIDIManagerWin(port::MidiService& midiService) : service(midiService) {}
  ~CMIDIManagerWin() override;

  void SendSysEx(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) override;
  void SendSysExForward(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) override;
  void Start() override;
  void Stop() override;

 private:
  port::MidiService& service;
};

// The process-wide manager over the platform's MIDI service, created on first use.
CMIDIManager* GetInstance();
