// One input port of the RtMidi layer: what its messages become for the
// device layer's callback. The test's thread stands in for the layer's
// thread and calls Pump itself.
#include "midi/port/shared/input_port.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace {

using port::shared::InputPort;
using Bytes = std::vector<uint8_t>;

struct Event {
  uint32_t message;
  uintptr_t param1;
  Bytes longBytes; // kEventLongData: the recorded bytes
};

struct Bench {
  Bench() : port(Record, reinterpret_cast<uintptr_t>(this), wakeup) {}

  static void Record(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
    auto* bench = reinterpret_cast<Bench*>(context);
    Event event{message, param1, {}};
    if (message == port::kEventLongData) {
      auto* header = reinterpret_cast<port::MidiHeader*>(param1);
      event.longBytes.assign(header->lpData, header->lpData + header->dwBytesRecorded);
    }
    bench->events.push_back(event);
    if (bench->onEvent) bench->onEvent(event);
  }

  void Receive(const Bytes& bytes) { port.Receive(bytes.data(), bytes.size()); }
  void QueueBuffer(uint32_t size) {
    storage.assign(size, 0);
    header.lpData = storage.data();
    header.dwBufferLength = size;
    ASSERT_EQ(port.PrepareBuffer(header), port::kNoError);
    ASSERT_EQ(port.AddBuffer(header), port::kNoError);
  }
  // Any moment will do: nothing the port delivers depends on the time.
  InputPort::Clock::time_point Later() { return InputPort::Clock::now() + std::chrono::seconds(10); }
  std::vector<uint32_t> Messages() {
    std::vector<uint32_t> messages;
    for (const Event& event : events) messages.push_back(event.message);
    return messages;
  }

  port::shared::Wakeup wakeup;
  InputPort port;
  Bytes storage;
  port::MidiHeader header;
  std::vector<Event> events;
  std::function<void(const Event&)> onEvent;
};

TEST(InputPort, ShortMessagesBecomeDataEventsWithTheWinmmWord) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.Receive({0x90, 0x3C, 0x64});
  bench.Receive({0xF8}); // timing clock
  bench.Receive({0xFE}); // active sensing
  bench.Receive({0xC0, 0x05});
  bench.Receive({0x90, 0x3C, 0x64, 0x3E, 0x64});       // two in one event, running status
  bench.Receive({0x3C});                               // no status
  bench.Receive({0x80, 0x3C, 0x00, 0xF0, 0x01, 0xF7}); // a SysEx packed behind a note
  bench.port.Pump(bench.Later());

  const std::vector<std::pair<uint32_t, uintptr_t>> expected = {
      {port::kEventData, 0x643C90}, {port::kEventData, 0xF8},     {port::kEventData, 0xFE},
      {port::kEventData, 0x05C0},   {port::kEventData, 0x643C90}, {port::kEventData, 0x643E90},
      {port::kEventError, 0x3C},    {port::kEventData, 0x3C80},   {port::kEventError, 0xF701F0},
  };
  ASSERT_EQ(bench.events.size(), expected.size());
  for (size_t at = 0; at < expected.size(); ++at) {
    EXPECT_EQ(bench.events[at].message, expected[at].first) << at;
    EXPECT_EQ(bench.events[at].param1, expected[at].second) << at;
  }
}

TEST(InputPort, MessagesBeforeTheStartOrAfterAStopAreLost) {
  Bench bench;
  // The reply to a request sent too early, there before the start: lost
  // even though the start comes before the layer's thread looks.
  bench.Receive({0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0xF7});
  bench.Receive({0x90, 0x01, 0x01});
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.QueueBuffer(512);
  bench.port.Pump(bench.Later());
  EXPECT_TRUE(bench.events.empty());

  bench.Receive({0x90, 0x02, 0x02});
  ASSERT_EQ(bench.port.Stop(), port::kNoError);
  bench.port.Pump(bench.Later()); // queued while started, looked at after the stop
  bench.Receive({0x90, 0x03, 0x03});
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.Receive({0x90, 0x04, 0x04});
  bench.port.Pump(bench.Later());
  ASSERT_EQ(bench.events.size(), 1u);
  EXPECT_EQ(bench.events[0].param1, 0x040490u);
}

TEST(InputPort, SysExFillsTheQueuedBufferAndIsReportedAsLongData) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.QueueBuffer(512);
  const Bytes reply = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02, 0x42, 0xF7};
  bench.Receive(reply);
  bench.port.Pump(bench.Later());
  ASSERT_EQ(bench.Messages(), std::vector<uint32_t>{port::kEventLongData});
  EXPECT_EQ(bench.events[0].param1, reinterpret_cast<uintptr_t>(&bench.header));
  EXPECT_EQ(bench.events[0].longBytes, reply);
  EXPECT_EQ(bench.header.dwFlags & (port::kHeaderDone | port::kHeaderInQueue), port::kHeaderDone);
}

TEST(InputPort, LongSysExContinuesInEachBufferGivenBack) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.QueueBuffer(4);
  // As the device layer does: the buffer goes back from inside the callback.
  bench.onEvent = [&bench](const Event& event) {
    if (event.message == port::kEventLongData) {
      EXPECT_EQ(bench.port.AddBuffer(bench.header), port::kNoError);
    }
  };
  bench.Receive({0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7});
  bench.Receive({0x90, 0x3C, 0x64});
  bench.port.Pump(bench.Later());
  ASSERT_EQ(bench.events.size(), 4u);
  EXPECT_EQ(bench.events[0].longBytes, (Bytes{0xF0, 1, 2, 3}));
  EXPECT_EQ(bench.events[1].longBytes, (Bytes{4, 5, 6, 7}));
  EXPECT_EQ(bench.events[2].longBytes, (Bytes{8, 0xF7}));
  EXPECT_EQ(bench.events[3].message, port::kEventData);
  EXPECT_EQ(bench.port.DroppedLongMessages(), 0u);
}

TEST(InputPort, SysExWithoutABufferIsDroppedAndTheRestFlows) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.Receive({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  bench.Receive({0x90, 0x3C, 0x64});
  bench.port.Pump(bench.Later());
  EXPECT_EQ(bench.Messages(), std::vector<uint32_t>{port::kEventData});
  EXPECT_EQ(bench.port.DroppedLongMessages(), 1u);

  // A buffer that is not given back: the rest of a longer message is lost.
  bench.QueueBuffer(4);
  bench.Receive({0xF0, 1, 2, 3, 4, 5, 0xF7});
  bench.port.Pump(bench.Later());
  ASSERT_EQ(bench.events.size(), 2u);
  EXPECT_EQ(bench.events[1].longBytes, (Bytes{0xF0, 1, 2, 3}));
  EXPECT_EQ(bench.port.DroppedLongMessages(), 2u);
}

TEST(InputPort, StopGivesTheQueuedBufferBackSoItCanBeReleased) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.QueueBuffer(512);
  EXPECT_EQ(bench.port.UnprepareBuffer(bench.header), port::kStillPlaying);
  EXPECT_EQ(bench.port.Stop(), port::kNoError);
  EXPECT_EQ(bench.port.UnprepareBuffer(bench.header), port::kNoError);
  EXPECT_EQ(bench.header.dwFlags & (port::kHeaderPrepared | port::kHeaderInQueue), 0u);
  EXPECT_EQ(bench.port.AddBuffer(bench.header), port::kUnprepared);
}

TEST(InputPort, ABufferBeingFilledIsNotReleasedFromAnotherThread) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.QueueBuffer(512);
  std::mutex lock;
  std::condition_variable changed;
  bool inCallback = false;
  bool release = false;
  port::Result fromInside = port::kError;
  bench.onEvent = [&](const Event&) {
    std::unique_lock<std::mutex> guard(lock);
    inCallback = true;
    changed.notify_all();
    changed.wait(guard, [&] { return release; });
    fromInside = bench.port.UnprepareBuffer(bench.header);
  };
  bench.Receive({0xF0, 0x01, 0xF7});
  std::thread layer([&bench] { bench.port.Pump(bench.Later()); });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return inCallback; });
  }
  EXPECT_EQ(bench.port.UnprepareBuffer(bench.header), port::kStillPlaying);
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  changed.notify_all();
  layer.join();
  EXPECT_EQ(fromInside, port::kNoError); // the callback itself is done with it
}

TEST(InputPort, StopAndDetachFromInsideACallbackDoNotWaitForThemselves) {
  Bench bench;
  ASSERT_EQ(bench.port.Start(), port::kNoError);
  bench.onEvent = [&bench](const Event&) {
    ASSERT_EQ(bench.port.Stop(), port::kNoError);
    bench.port.Detach();
  };
  bench.Receive({0x90, 0x3C, 0x64, 0x3D, 0x64});
  bench.port.Pump(bench.Later());
  EXPECT_EQ(bench.events.size(), 1u); // the second note came after the stop
  EXPECT_EQ(bench.port.Start(), port::kInvalidHandle) << "a detached port stays stopped";
  bench.Receive({0x90, 0x3C, 0x64});
  bench.port.Pump(bench.Later());
  EXPECT_EQ(bench.events.size(), 1u);
}

TEST(InputPort, OpenIsDeliveredOnTheCallersThread) {
  Bench bench;
  std::thread::id seen;
  bench.onEvent = [&seen](const Event&) { seen = std::this_thread::get_id(); };
  bench.port.DeliverOpen();
  ASSERT_EQ(bench.Messages(), std::vector<uint32_t>{port::kEventOpen});
  EXPECT_EQ(seen, std::this_thread::get_id());
}

} // namespace
