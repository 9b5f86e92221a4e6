// Cost per event of the input callback, each beside its limit: the same log
// texts formatted and written by LimitWriter and nothing else.
//
// The callback is called directly, as the port layer's thread would, on a
// device record over QuietService. The console is standard output, which
// bench_main has redirected to /dev/null, so the sink's own writer runs.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>

#include "bench/bench_support.h"
#include "handlers/nano_kontrol.h"
#include "handlers/xtouch_mini.h"
#include "midi/device.h"
#include "midi/input.h"
#include "midi/manager.h"

namespace {

constexpr uint32_t NoteWord(uint8_t status, uint8_t note, uint8_t velocity) {
  return static_cast<uint32_t>(status) | (static_cast<uint32_t>(note) << 8) | (static_cast<uint32_t>(velocity) << 16);
}

// One device record as the manager leaves it once input runs: its worker
// already started (the first message's thread start is a one-off, not a
// per-event cost), its handler attached.
struct Device {
  explicit Device(std::unique_ptr<CMIDIDeviceHandler> withHandler) : handler(std::move(withHandler)) {
    record.workerStarted = true;
    handler->device = &record;
    record.handler = handler.get();
  }
  ~Device() { record.handler = nullptr; }

  void Event(uint32_t message, uintptr_t param1 = 0) {
    MidiInProc(record.inputHandle, message, reinterpret_cast<uintptr_t>(&record), param1, 0);
  }

  bench::QuietService service;
  CMIDIManagerWin manager{service};
  CMIDIDeviceWin record{manager, service};
  std::unique_ptr<CMIDIDeviceHandler> handler;
};

// --- a note: the "got MIDI" line, decoding, the X-TOUCH MINI's OnNote ---

void BM_InputNote(benchmark::State& state) {
  Device device(std::make_unique<CXTouchMini>());
  logsink::BeginCapture();
  uint64_t events = 0;
  uint8_t note = 0;
  for (auto _ : state) {
    device.Event(port::kEventData, NoteWord(0x90, note, 0x64));
    note = static_cast<uint8_t>((note + 1) & 0x3F);
    bench::TrimCapture(events);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_InputNote);

void BM_LimitNote(benchmark::State& state) {
  bench::LimitWriter limit;
  uint64_t events = 0;
  uint8_t note = 0;
  for (auto _ : state) {
    limit.Printf("got MIDI: %X %X %X\n", 0x90, note, 0x64);
    note = static_cast<uint8_t>((note + 1) & 0x3F);
    limit.Trim(events);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LimitNote);

// --- a 402-byte long message: the nanoKONTROL2's scene, compared and found good ---

void BM_InputLongMessage402(benchmark::State& state) {
  Device device(std::make_unique<CKorgNanoControl>());
  auto* nano = static_cast<CKorgNanoControl*>(device.handler.get());
  std::array<uint8_t, 512> buffer{};
  std::memcpy(buffer.data(), kNanoSceneImage.data(), kNanoSceneImage.size());
  device.record.inputHeader.lpData = buffer.data();
  device.record.inputHeader.dwBufferLength = static_cast<uint32_t>(buffer.size());
  device.record.inputHeader.dwBytesRecorded = static_cast<uint32_t>(kNanoSceneImage.size());
  logsink::BeginCapture();
  uint64_t events = 0;
  for (auto _ : state) {
    // Each time the dump it asked for: the comparison runs every time.
    nano->state = CKorgNanoControl::AwaitingScene;
    device.Event(port::kEventLongData, reinterpret_cast<uintptr_t>(&device.record.inputHeader));
    bench::TrimCapture(events);
  }
  if (nano->state != CKorgNanoControl::Idle) state.SkipWithError("the scene was not found good");
  device.record.inputHeader.lpData = nullptr;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_InputLongMessage402);

void BM_LimitLongMessage402(benchmark::State& state) {
  bench::LimitWriter limit;
  uint64_t events = 0;
  for (auto _ : state) {
    limit.Printf("%s", "SysEx message received:");
    limit.EndLine();
    limit.HexDump(kNanoSceneImage.data(), static_cast<uint16_t>(kNanoSceneImage.size()));
    limit.Printf("current settings are good!\n");
    limit.Trim(events);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LimitLongMessage402);

// --- packet assembly: the same scene cut into 134 short-message packets ---

constexpr size_t kPackets = kNanoSceneImage.size() / 3;
static_assert(kPackets * 3 == kNanoSceneImage.size(), "the scene fills its last packet");

uint32_t PacketWord(size_t packet) {
  const uint8_t* bytes = kNanoSceneImage.data() + 3 * packet;
  return NoteWord(bytes[0], bytes[1], bytes[2]);
}

void BM_InputPackets402(benchmark::State& state) {
  Device device(std::make_unique<CKorgNanoControl>());
  auto* nano = static_cast<CKorgNanoControl*>(device.handler.get());
  logsink::BeginCapture();
  uint64_t events = 0;
  for (auto _ : state) {
    nano->state = CKorgNanoControl::AwaitingScene;
    for (size_t packet = 0; packet < kPackets; ++packet) device.Event(port::kEventData, PacketWord(packet));
    bench::TrimCapture(events, kPackets);
  }
  if (nano->state != CKorgNanoControl::Idle) state.SkipWithError("the assembled scene was not found good");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPackets));
}
BENCHMARK(BM_InputPackets402);

void BM_LimitPackets402(benchmark::State& state) {
  bench::LimitWriter limit;
  uint64_t events = 0;
  for (auto _ : state) {
    for (size_t packet = 0; packet < kPackets; ++packet) {
      const uint8_t* bytes = kNanoSceneImage.data() + 3 * packet;
      limit.Printf("got MIDI: %X %X %X\n", bytes[0], bytes[1], bytes[2]);
    }
    limit.Printf("%s", "SysEx message received:");
    limit.EndLine();
    limit.HexDump(kNanoSceneImage.data(), static_cast<uint16_t>(kNanoSceneImage.size()));
    limit.Printf("current settings are good!\n");
    limit.Trim(events, kPackets);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPackets));
}
BENCHMARK(BM_LimitPackets402);

} // namespace
