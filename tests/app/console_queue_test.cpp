// The console's own thread: text in the log's order, a stuck console that
// holds up nobody, text left out beyond the bound and the console told so,
// flushes when due and at the end.
#include "app/console_queue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;

// A console that can be made to stop taking output, as a pipe nobody reads
// or a selection in a Windows console window does.
class HeldConsole final : public app::logsink::ConsoleWriter {
 public:
  void Write(const char* text, size_t length) override {
    std::unique_lock<std::mutex> guard(lock);
    ++writes;
    changed.notify_all();
    changed.wait(guard, [this] { return !held; });
    written.append(text, length);
    unflushed = true;
  }
  void Flush(bool all) override {
    std::lock_guard<std::mutex> guard(lock);
    ++(all ? flushedAll : flushedDue);
    unflushed = false;
    changed.notify_all();
  }
  bool HasUnflushed() const override {
    std::lock_guard<std::mutex> guard(lock);
    return unflushed && keepsText;
  }
  void Hold() {
    std::lock_guard<std::mutex> guard(lock);
    held = true;
  }
  void Release() {
    std::lock_guard<std::mutex> guard(lock);
    held = false;
    changed.notify_all();
  }
  // Waits for the console's thread to be inside a write.
  void WaitForWrites(int count) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this, count] { return writes >= count; });
  }
  void WaitForDueFlush() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return flushedDue > 0; });
  }
  std::string Written() {
    std::lock_guard<std::mutex> guard(lock);
    return written;
  }

  bool keepsText = false; // set before use: text waits for a due flush
  int flushedAll = 0;

 private:
  mutable std::mutex lock;
  std::condition_variable changed;
  bool held = false;
  bool unflushed = false;
  int writes = 0;
  int flushedDue = 0;
  std::string written;
};

TEST(ConsoleQueue, TextFromManyThreadsArrivesWholeInTheOrderItWasQueued) {
  HeldConsole console;
  std::mutex order; // the caller's lock, as the log sink's
  app::logsink::ConsoleQueue queue(order, &console, 1 << 20, milliseconds(100));
  std::vector<std::thread> threads;
  threads.reserve(4);
  std::string expected;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int line = 0; line < 500; ++line) {
        const std::string text = "thread " + std::to_string(t) + " line " + std::to_string(line) + "\n";
        std::lock_guard<std::mutex> guard(order);
        queue.PushLocked(text.data(), text.size());
        expected += text;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(queue.Drain(milliseconds(60000)));
  EXPECT_EQ(console.Written(), expected);
  EXPECT_GE(console.flushedAll, 1);
  EXPECT_EQ(queue.LinesLeftOut(), 0u);
}

TEST(ConsoleQueue, AStuckConsoleHoldsUpNobodyAndIsToldWhatItMissed) {
  HeldConsole console;
  std::mutex lock;
  app::logsink::ConsoleQueue queue(lock, &console, 32, milliseconds(100));
  console.Hold();
  queue.Push("first\n", 6);
  console.WaitForWrites(1); // the console's thread is stuck in this write
  // Up to the bound the text waits; beyond it, it is left out. None of
  // these calls waits for the console.
  queue.Push("second line\n", 12);
  queue.Push("third line\n", 11);
  queue.Push("fourth line\n", 12); // 35 bytes: over the bound
  queue.Push("fifth ", 6);
  queue.Push("line\n", 5);
  EXPECT_FALSE(queue.Drain(milliseconds(1))) << "the console has taken nothing";
  EXPECT_EQ(queue.LinesLeftOut(), 2u);

  console.Release();
  ASSERT_TRUE(queue.Drain(milliseconds(60000)));
  queue.Push("sixth\n", 6);
  ASSERT_TRUE(queue.Drain(milliseconds(60000)));
  EXPECT_EQ(console.Written(),
            "first\nsecond line\nthird line\n"
            "(2 lines left out here: the console was not taking output)\nsixth\n");
  EXPECT_EQ(queue.LinesLeftOut(), 2u);
}

TEST(ConsoleQueue, UnflushedTextIsFlushedWhenDueWithoutMoreText) {
  HeldConsole console;
  console.keepsText = true;
  std::mutex lock;
  app::logsink::ConsoleQueue queue(lock, &console, 1 << 20, milliseconds(1));
  queue.Push("quiet run\n", 10);
  console.WaitForDueFlush(); // no more text comes, yet the flush does
  EXPECT_EQ(console.Written(), "quiet run\n");
}

TEST(ConsoleQueue, ANewWriterGetsOnlyWhatIsQueuedAfterItTookOver) {
  HeldConsole before;
  HeldConsole after;
  std::mutex lock;
  app::logsink::ConsoleQueue queue(lock, &before, 1 << 20, milliseconds(100));
  queue.Push("old\n", 4);
  queue.SetWriter(&after);
  queue.Push("new\n", 4);
  ASSERT_TRUE(queue.Drain(milliseconds(60000)));
  EXPECT_EQ(before.Written(), "old\n");
  EXPECT_EQ(after.Written(), "new\n");
}

} // namespace
