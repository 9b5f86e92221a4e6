// Test support: a handler and a listener that write every call they get
// into one shared journal, so tests see who heard what, in which order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "handlers/handler.h"
#include "midi/listener.h"

class Journal {
 public:
  void Add(std::string entry) {
    std::lock_guard<std::mutex> guard(lock);
    entries.push_back(std::move(entry));
  }
  std::vector<std::string> Entries() {
    std::lock_guard<std::mutex> guard(lock);
    return entries;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(lock);
    entries.clear();
  }

 private:
  std::mutex lock;
  std::vector<std::string> entries;
};

inline std::string Join(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text += " " + std::to_string(value);
  return text;
}

class RecordingHandler final : public CMIDIDeviceHandler {
 public:
  explicit RecordingHandler(Journal& journal) : journal(journal) {}
  void Start() override { journal.Add("handler Start"); }
  void OnSysEx(const uint8_t* bytes, uint16_t length) override {
    journal.Add("handler OnSysEx" + Join({length}));
    sysex.emplace_back(bytes, bytes + length);
  }
  uint32_t GetSysExBufferSize() override { return bufferSize; }
  void OnNote(uint8_t note) override { journal.Add("handler OnNote" + Join({note})); }
  void OnControlChange(uint8_t controller, uint8_t value) override {
    journal.Add("handler OnControlChange" + Join({controller, value}));
  }

  uint32_t bufferSize = 512;
  std::vector<std::vector<uint8_t>> sysex; // touched on the input thread only

 private:
  Journal& journal;
};

class RecordingListener final : public CMIDIListener {
 public:
  explicit RecordingListener(Journal& journal) : journal(journal) {}
  void OnControlChange(CMIDIDevice*, uint8_t channel, uint8_t controller, uint8_t value) override {
    journal.Add("listener OnControlChange" + Join({channel, controller, value}));
  }
  void OnNoteOn(CMIDIDevice*, uint8_t channel, uint8_t note, uint8_t velocity) override {
    journal.Add("listener OnNoteOn" + Join({channel, note, velocity}));
  }
  void OnNoteOff(CMIDIDevice*, uint8_t channel, uint8_t note, uint8_t velocity) override {
    journal.Add("listener OnNoteOff" + Join({channel, note, velocity}));
  }
  void OnPitchBend(CMIDIDevice*, uint8_t channel, uint16_t value) override {
    journal.Add("listener OnPitchBend" + Join({channel, value}));
  }
  void OnDevicesChanged(const std::vector<CMIDIDevice*>& devices) override {
    journal.Add("listener OnDevicesChanged" + Join({static_cast<int>(devices.size())}));
  }

 private:
  Journal& journal;
};
