// The simulated service's own promises, which every other test relies on.
#include "midi/port/simulated/simulated_service.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

using sim::ControllerEvent;

struct Received {
  std::mutex lock;
  std::vector<uint32_t> words;
  std::vector<uint32_t> messages;
};

void Record(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
  auto* received = reinterpret_cast<Received*>(context);
  std::lock_guard<std::mutex> guard(received->lock);
  received->messages.push_back(message);
  if (message == port::kEventData) received->words.push_back(static_cast<uint32_t>(param1));
}

TEST(SimulatedService, StreamPlaysInOrderWithConstantQueue) {
  sim::SimulatedService service;
  const unsigned input = service.AddInput("Flood");
  constexpr uint32_t kEvents = 20000;
  uint32_t produced = 0;
  service.AddStream(input, [&produced](ControllerEvent& next) {
    if (produced == kEvents) return false;
    next = ControllerEvent::ShortMessage(0x90, produced & 0x7F, (produced >> 7) & 0x7F, std::chrono::microseconds(1));
    ++produced;
    return true;
  });
  Received received;
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(input, Record, reinterpret_cast<uintptr_t>(&received), handle), 0u);
  ASSERT_EQ(service.StartInput(handle), 0u);
  service.WaitUntilIdle();
  std::lock_guard<std::mutex> guard(received.lock);
  ASSERT_EQ(received.words.size(), kEvents);
  for (uint32_t i = 0; i < kEvents; ++i) {
    ASSERT_EQ(received.words[i], sim::ShortWord(0x90, i & 0x7F, (i >> 7) & 0x7F)) << i;
  }
}

TEST(SimulatedService, InputBeforeTheStartAndAfterTheStopIsLost) {
  sim::SimulatedService service;
  const unsigned input = service.AddInput("Port");
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 1, 1)); // before the open
  service.WaitUntilIdle();
  Received received;
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(input, Record, reinterpret_cast<uintptr_t>(&received), handle), 0u);
  // Open, not started: lost even though the start follows at once, before
  // the service's own thread has looked at the event.
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 2, 2));
  ASSERT_EQ(service.StartInput(handle), 0u);
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 3, 3));
  service.WaitUntilIdle();
  ASSERT_EQ(service.StopInput(handle), 0u);
  service.Inject(input, ControllerEvent::ShortMessage(0x90, 4, 4));
  service.WaitUntilIdle();
  std::lock_guard<std::mutex> guard(received.lock);
  EXPECT_EQ(received.messages, (std::vector<uint32_t>{port::kEventOpen, port::kEventData}));
  EXPECT_EQ(received.words, (std::vector<uint32_t>{sim::ShortWord(0x90, 3, 3)}));
  EXPECT_EQ(service.Input(input).droppedWhileStopped, 3);
}

TEST(SimulatedService, PortsOpenOnceAndHeadersFollowWinmmRules) {
  sim::SimulatedService service;
  const unsigned input = service.AddInput("Port");
  service.AddOutput("Port");
  Received received;
  port::InputHandle handle = nullptr;
  ASSERT_EQ(service.OpenInput(input, Record, reinterpret_cast<uintptr_t>(&received), handle), 0u);
  port::InputHandle again = nullptr;
  EXPECT_EQ(service.OpenInput(input, Record, 0, again), port::kAllocated);
  port::OutputHandle output = nullptr;
  ASSERT_EQ(service.OpenOutput(0, output), 0u);
  EXPECT_EQ(service.OpenOutput(0, output), port::kAllocated);
  EXPECT_EQ(service.OpenOutput(1, output), port::kBadDeviceId);
  std::string name;
  EXPECT_EQ(service.InputName(1, name), port::kBadDeviceId);

  uint8_t bytes[16] = {};
  port::MidiHeader header;
  header.lpData = bytes;
  header.dwBufferLength = sizeof bytes;
  EXPECT_EQ(service.AddInputBuffer(handle, header), port::kUnprepared);
  ASSERT_EQ(service.PrepareInputBuffer(handle, header), 0u);
  ASSERT_EQ(service.AddInputBuffer(handle, header), 0u);
  EXPECT_EQ(service.AddInputBuffer(handle, header), port::kStillPlaying);
  // A running port keeps its queued buffer; a stopped one hands it back.
  ASSERT_EQ(service.StartInput(handle), 0u);
  EXPECT_EQ(service.UnprepareInputBuffer(handle, header), port::kStillPlaying);
  ASSERT_EQ(service.StopInput(handle), 0u);
  EXPECT_EQ(service.UnprepareInputBuffer(handle, header), port::kNoError);
  EXPECT_EQ(header.dwFlags & (port::kHeaderInQueue | port::kHeaderPrepared), 0u);
  EXPECT_EQ(service.AddInputBuffer(handle, header), port::kUnprepared);

  port::MidiHeader send;
  send.lpData = bytes;
  send.dwBufferLength = 3;
  EXPECT_EQ(service.SendLong(output, send), port::kUnprepared);
  EXPECT_EQ(service.UnprepareInputBuffer(nullptr, header), port::kInvalidHandle);
}

} // namespace
