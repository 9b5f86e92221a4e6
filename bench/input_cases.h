// The input path's cases, each beside its limit: the same log texts
// formatted and written by LimitWriter and nothing else. Used by the timed
// benchmarks and by input-path-count, which counts their instructions.
//
// The callback is called directly, as the port layer's thread would, on a
// device record over QuietService; the console is whatever standard output
// is (both programs redirect it to /dev/null), written by the sink's own
// writer. One Call() is one note, one long message, or one long message in
// kEvents packets.
//
// Threads: a case belongs to the thread that calls it.
#pragma once

#include <array>
#include <cstring>
#include <memory>

#include "bench/bench_support.h"
#include "handlers/nano_kontrol.h"
#include "handlers/xtouch_mini.h"
#include "midi/device.h"
#include "midi/input.h"
#include "midi/manager.h"
#include "midi/port/simulated/protocol_tables.h"

namespace bench {

constexpr uint32_t PacketWord(uint8_t status, uint8_t data1, uint8_t data2) {
  return static_cast<uint32_t>(status) | (static_cast<uint32_t>(data1) << 8) | (static_cast<uint32_t>(data2) << 16);
}

// One device record as the manager leaves it once input runs: its worker
// already started (the first message's thread start is a one-off, not a
// per-event cost), its handler attached.
class Device {
 public:
  explicit Device(std::unique_ptr<CMIDIDeviceHandler> withHandler) : handler(std::move(withHandler)) {
    record.workerStarted = true;
    handler->device = &record;
    record.handler = handler.get();
    app::logsink::BeginCapture();
  }
  ~Device() { record.handler = nullptr; }

  void Event(uint32_t message, uintptr_t param1 = 0) {
    MidiInProc(record.inputHandle, message, reinterpret_cast<uintptr_t>(&record), param1, 0);
  }

  QuietService service;
  CMIDIManagerWin manager{service};
  CMIDIDeviceWin record{manager, service};
  std::unique_ptr<CMIDIDeviceHandler> handler;
  uint64_t captured = 0;
};

// --- a note: the "got MIDI" line, decoding, the X-TOUCH MINI's OnNote ---

class NoteInput {
 public:
  static constexpr uint64_t kEvents = 1;
  void Call() {
    device.Event(port::kEventData, PacketWord(0x90, note, 0x64));
    note = static_cast<uint8_t>((note + 1) & 0x3F);
    TrimCapture(device.captured);
  }
  bool Ok() const { return true; }

 private:
  Device device{std::make_unique<CXTouchMini>()};
  uint8_t note = 0;
};

class NoteLimit {
 public:
  static constexpr uint64_t kEvents = 1;
  void Call() {
    limit.Printf("got MIDI: %X %X %X\n", 0x90, note, 0x64);
    note = static_cast<uint8_t>((note + 1) & 0x3F);
    limit.Trim(captured);
  }
  bool Ok() const { return true; }

 private:
  LimitWriter limit;
  uint8_t note = 0;
  uint64_t captured = 0;
};

// --- a 402-byte long message: the nanoKONTROL2's scene, compared and found good ---

class LongMessageInput {
 public:
  static constexpr uint64_t kEvents = 1;
  LongMessageInput() {
    std::memcpy(buffer.data(), port::sim::protocol::kNanoKontrolScene.data(),
                port::sim::protocol::kNanoKontrolScene.size());
    port::MidiHeader& header = device.record.inputHeader;
    header.lpData = buffer.data();
    header.dwBufferLength = static_cast<uint32_t>(buffer.size());
    header.dwBytesRecorded = static_cast<uint32_t>(port::sim::protocol::kNanoKontrolScene.size());
  }
  ~LongMessageInput() { device.record.inputHeader.lpData = nullptr; }
  void Call() {
    // Each time the dump it asked for: the comparison runs every time.
    Nano().state = CKorgNanoControl::AwaitingScene;
    device.Event(port::kEventLongData, reinterpret_cast<uintptr_t>(&device.record.inputHeader));
    TrimCapture(device.captured);
  }
  bool Ok() { return Nano().state == CKorgNanoControl::Idle; }

 private:
  CKorgNanoControl& Nano() { return *static_cast<CKorgNanoControl*>(device.handler.get()); }
  Device device{std::make_unique<CKorgNanoControl>()};
  std::array<uint8_t, 512> buffer{};
};

class LongMessageLimit {
 public:
  static constexpr uint64_t kEvents = 1;
  void Call() {
    limit.LineAndHexDump("SysEx message received:", port::sim::protocol::kNanoKontrolScene.data(),
                         static_cast<uint16_t>(port::sim::protocol::kNanoKontrolScene.size()));
    limit.Printf("current settings are good!\n");
    limit.Trim(captured);
  }
  bool Ok() const { return true; }

 private:
  LimitWriter limit;
  uint64_t captured = 0;
};

// --- packet assembly: the same scene cut into 134 short-message packets ---

constexpr uint64_t kScenePackets = port::sim::protocol::kNanoKontrolScene.size() / 3;
static_assert(kScenePackets * 3 == port::sim::protocol::kNanoKontrolScene.size(), "the scene fills its last packet");

class PacketsInput {
 public:
  static constexpr uint64_t kEvents = kScenePackets;
  void Call() {
    Nano().state = CKorgNanoControl::AwaitingScene;
    for (uint64_t packet = 0; packet < kScenePackets; ++packet) {
      const uint8_t* bytes = port::sim::protocol::kNanoKontrolScene.data() + 3 * packet;
      device.Event(port::kEventData, PacketWord(bytes[0], bytes[1], bytes[2]));
    }
    TrimCapture(device.captured, kScenePackets);
  }
  bool Ok() { return Nano().state == CKorgNanoControl::Idle; }

 private:
  CKorgNanoControl& Nano() { return *static_cast<CKorgNanoControl*>(device.handler.get()); }
  Device device{std::make_unique<CKorgNanoControl>()};
};

class PacketsLimit {
 public:
  static constexpr uint64_t kEvents = kScenePackets;
  void Call() {
    for (uint64_t packet = 0; packet < kScenePackets; ++packet) {
      const uint8_t* bytes = port::sim::protocol::kNanoKontrolScene.data() + 3 * packet;
      limit.Printf("got MIDI: %X %X %X\n", bytes[0], bytes[1], bytes[2]);
    }
    limit.LineAndHexDump("SysEx message received:", port::sim::protocol::kNanoKontrolScene.data(),
                         static_cast<uint16_t>(port::sim::protocol::kNanoKontrolScene.size()));
    limit.Printf("current settings are good!\n");
    limit.Trim(captured, kScenePackets);
  }
  bool Ok() const { return true; }

 private:
  LimitWriter limit;
  uint64_t captured = 0;
};

} // namespace bench
