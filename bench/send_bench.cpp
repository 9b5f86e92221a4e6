// A long send through the manager over the simulated service: the 402-byte
// nanoKONTROL2 scene, prepared, sent and released, as a handler sends it.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_support.h"
#include "midi/device.h"
#include "midi/manager.h"
#include "midi/port/simulated/protocol_tables.h"
#include "midi/port/simulated/simulated_service.h"

namespace {

// The service keeps a copy of every message sent, so the bench starts over
// with a fresh service now and then, outside the timing.
constexpr int64_t kSendsPerService = 4096;

struct SendBench {
  SendBench() {
    service.AddDevice("Bench Synth", nullptr);
    manager.Start();
    device = static_cast<CMIDIDeviceWin*>(manager.devices.at(0));
  }
  ~SendBench() { manager.Stop(); }

  port::sim::SimulatedService service;
  CMIDIManagerWin manager{service};
  CMIDIDeviceWin* device = nullptr;
};

void BM_SendSysEx402(benchmark::State& state) {
  app::logsink::BeginCapture();
  std::unique_ptr<SendBench> bench = std::make_unique<SendBench>();
  if (!bench->device->outputOpen) {
    state.SkipWithError("the output port did not open");
    return;
  }
  int64_t sends = 0;
  for (auto _ : state) {
    bench->manager.SendSysEx(port::sim::protocol::kNanoKontrolScene.data(),
                             static_cast<uint16_t>(port::sim::protocol::kNanoKontrolScene.size()), bench->device);
    if (++sends == kSendsPerService) {
      state.PauseTiming();
      sends = 0;
      bench.reset();
      bench = std::make_unique<SendBench>();
      app::logsink::BeginCapture();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * port::sim::protocol::kNanoKontrolScene.size()));
}
BENCHMARK(BM_SendSysEx402);

} // namespace
