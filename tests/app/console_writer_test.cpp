// When console text reaches a file: at once on a terminal, within the flush
// delay otherwise.
#include "app/console_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace {

uint64_t fakeNow = 0;
uint64_t FakeClock() {
  return fakeNow;
}

constexpr uint64_t kMillisecond = 1'000'000;

// A file the writer writes to; its size on disk is what has been flushed.
class WrittenFile {
 public:
  // A name of its own: ctest runs the tests of this file side by side, each
  // in a process of its own.
  WrittenFile()
      : path(std::filesystem::temp_directory_path() /
             ("console-writer-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++count))) {
    stream = std::fopen(path.string().c_str(), "wb");
  }
  ~WrittenFile() {
    if (stream != nullptr) std::fclose(stream);
    std::filesystem::remove(path);
  }
  std::FILE* Stream() { return stream; }
  uintmax_t Flushed() const { return std::filesystem::file_size(path); }

 private:
  static inline int count = 0;
  std::filesystem::path path;
  std::FILE* stream = nullptr;
};

TEST(ConsoleWriter, OnATerminalEveryWriteIsFlushedAtOnce) {
  WrittenFile file;
  ASSERT_NE(file.Stream(), nullptr);
  fakeNow = 0;
  app::logsink::StreamWriter writer(file.Stream(), true, FakeClock);
  writer.Write("got MIDI: 90 3C 64\n", 19);
  EXPECT_EQ(file.Flushed(), 19u);
  writer.Write("ab", 2);
  EXPECT_EQ(file.Flushed(), 21u);
}

TEST(ConsoleWriter, IntoAFileTextWaitsAtMostTheFlushDelay) {
  WrittenFile file;
  ASSERT_NE(file.Stream(), nullptr);
  fakeNow = 1000 * kMillisecond;
  app::logsink::StreamWriter writer(file.Stream(), false, FakeClock);
  writer.Write("one\n", 4);
  fakeNow += 60 * kMillisecond;
  writer.Write("two\n", 4);
  writer.Flush(false);
  EXPECT_EQ(file.Flushed(), 0u) << "the oldest text has waited 60 ms";

  // The delay counts from the oldest unflushed text, not the latest; a
  // flood's writer notices it within a few dozen lines.
  fakeNow += 40 * kMillisecond;
  writer.Write("three\n", 6);
  for (int line = 0; line < 32 && file.Flushed() == 0; ++line) writer.Write("x\n", 2);
  ASSERT_GT(file.Flushed(), 14u);
  writer.Flush(true);
  const uintmax_t flushed = file.Flushed();

  // Flushed by the run's periodic look when nothing more is written.
  writer.Write("four\n", 5);
  fakeNow += 99 * kMillisecond;
  writer.Flush(false);
  EXPECT_EQ(file.Flushed(), flushed);
  fakeNow += 1 * kMillisecond;
  writer.Flush(false);
  EXPECT_EQ(file.Flushed(), flushed + 5);

  // And everything at the end of the run, however young.
  writer.Write("five\n", 5);
  writer.Flush(true);
  EXPECT_EQ(file.Flushed(), flushed + 10);
}

} // namespace
