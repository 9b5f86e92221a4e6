// The winmm layer passes winmm's own answers through. Run where winmm has no
// MIDI driver (Wine without its sound driver), so each answer is known.
#include "midi/port/winmm/winmm_service.h"

#include <gtest/gtest.h>

namespace {

void IgnoreEvent(port::InputHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t) {}

TEST(WinmmService, WithoutADriverEveryCallGivesWinmmsCode) {
  port::winmm::WinmmService service;
  if (midiInGetNumDevs() != 0 || midiOutGetNumDevs() != 0) GTEST_SKIP() << "this machine has MIDI ports";
  EXPECT_EQ(service.InputCount(), 0u);
  EXPECT_EQ(service.OutputCount(), 0u);
  std::string name = "unchanged";
  EXPECT_EQ(service.InputName(0, name), port::kBadDeviceId);
  EXPECT_EQ(service.OutputName(0, name), port::kBadDeviceId);
  EXPECT_EQ(name, "unchanged");
  port::InputHandle input = nullptr;
  EXPECT_EQ(service.OpenInput(0, IgnoreEvent, 0, input), port::kBadDeviceId);
  EXPECT_EQ(input, nullptr);
  port::OutputHandle output = nullptr;
  EXPECT_EQ(service.OpenOutput(0, output), port::kBadDeviceId);
  EXPECT_EQ(service.StartInput(nullptr), port::kInvalidHandle);
  EXPECT_EQ(service.StopInput(nullptr), port::kInvalidHandle);
  port::MidiHeader header;
  EXPECT_EQ(service.UnprepareInputBuffer(nullptr, header), port::kInvalidHandle);
  EXPECT_EQ(service.PrepareOutput(nullptr, header), port::kInvalidHandle);
  EXPECT_EQ(header.layerState, nullptr) << "a failed prepare keeps nothing";
  service.Shutdown();
}

} // namespace
