#include "app/log_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/console_capture.h"

namespace {

TEST(LogSink, LongMessageReachesConsoleWholeAndReportCutTo1023) {
  ConsoleCapture console;
  const std::string text(2000, 'a');
  app::LogPrintf("%s", text.c_str());
  EXPECT_EQ(console.Text(), text);
  EXPECT_EQ(app::logsink::CaptureContents(), std::string(1023, 'a'));
}

TEST(LogSink, LineEndsDifferBetweenConsoleAndReport) {
  ConsoleCapture console;
  app::LogPrintf("%s", "SysEx message received:");
  app::LogEndLine();
  app::LogPrintf("MIM_OPEN\n");
  app::ConsolePrintf("MMSYSERR %d", 65);
  EXPECT_EQ(console.Text(), "SysEx message received:\nMIM_OPEN\nMMSYSERR 65");
  EXPECT_EQ(app::logsink::CaptureContents(), "SysEx message received:\r\nMIM_OPEN\n");
}

TEST(LogSink, HexDumpFormatsEveryByteAndEmptyDump) {
  ConsoleCapture console;
  const uint8_t bytes[] = {0xF0, 0x7E, 0x0A, 0xF7};
  app::LogHexDump(bytes, sizeof bytes);
  app::LogHexDump(bytes, 0);
  EXPECT_EQ(app::logsink::CaptureContents(), "{ 0xF0, 0x7E, 0x0A, 0xF7,};\r\n{};\r\n");
  EXPECT_EQ(console.Text(), "{ 0xF0, 0x7E, 0x0A, 0xF7,};\n{};\n");
}

TEST(LogSink, LinesAndDumpsInOnePieceAreTheSeparateCallsBytesAndStayWhole) {
  const uint8_t bytes[] = {0xF0, 0x7E, 0x0A, 0xF7};
  const std::string longText(2000, 'a');
  std::string apartConsole;
  std::string apart;
  {
    ConsoleCapture console;
    app::LogPrintf("%s", "Got identity response");
    app::LogEndLine();
    app::LogPrintf("%s", longText.c_str());
    app::LogEndLine();
    app::LogPrintf("%s", "SysEx message received:");
    app::LogEndLine();
    app::LogHexDump(bytes, sizeof bytes);
    apartConsole = console.Text();
    apart = app::logsink::CaptureContents();
  }
  ConsoleCapture console;
  app::LogLine("Got identity response");
  app::LogLine(longText.c_str());
  app::LogLineAndHexDump("SysEx message received:", bytes, sizeof bytes);
  EXPECT_EQ(console.Text(), apartConsole);
  EXPECT_EQ(app::logsink::CaptureContents(), apart);

  // Another thread's text never comes between a line and its end, nor
  // between a heading and its dump.
  app::logsink::BeginCapture();
  std::thread other([] {
    for (int i = 0; i < 2000; ++i) app::LogPrintf("MIM_OPEN\n");
  });
  for (int i = 0; i < 2000; ++i) {
    app::LogLine("Got identity response");
    app::LogLineAndHexDump("SysEx message received:", bytes, sizeof bytes);
  }
  other.join();
  const std::string capture = app::logsink::CaptureContents();
  const std::string line = "Got identity response\r\n";
  const std::string dump = "SysEx message received:\r\n{ 0xF0, 0x7E, 0x0A, 0xF7,};\r\n";
  size_t whole = 0;
  for (size_t at = capture.find("Got"); at != std::string::npos; at = capture.find("Got", at + 1)) {
    ASSERT_EQ(capture.compare(at, line.size(), line), 0) << "at " << at;
    ++whole;
  }
  for (size_t at = capture.find("SysEx"); at != std::string::npos; at = capture.find("SysEx", at + 1)) {
    ASSERT_EQ(capture.compare(at, dump.size(), dump), 0) << "at " << at;
    ++whole;
  }
  EXPECT_EQ(whole, 4000u);
}

// Every length from none to the longest a delivery can have, against the
// dump as one LogPrintf per byte would write it.
TEST(LogSink, HexDumpOfAnyLengthMatchesOnePrintfPerByte) {
  for (const uint32_t length : {0u, 1u, 402u, 65535u}) {
    ConsoleCapture console;
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    std::string expected = "{";
    char item[8];
    for (const uint8_t byte : bytes) {
      std::snprintf(item, sizeof item, " 0x%02X,", byte);
      expected += item;
    }
    expected += "};";
    app::LogHexDump(bytes.data(), static_cast<uint16_t>(length));
    EXPECT_EQ(app::logsink::CaptureContents(), expected + "\r\n") << length;
    EXPECT_EQ(console.Text(), expected + "\n") << length;
  }
}

// A capture of several megabytes, with texts of many lengths landing across
// the boundaries of its storage, comes back byte for byte, also when a new
// capture reuses the storage of a larger one; taking it leaves an empty
// capture that goes on collecting.
TEST(LogSink, LargeCaptureComesBackWholeAndTakingItStartsAnEmptyOne) {
  ConsoleCapture console;
  const auto logAbout = [](size_t bytes, int seed) {
    std::string expected;
    for (int i = seed; expected.size() < bytes; ++i) {
      const std::string text = "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 977), 'a' + i % 26);
      app::LogPrintf("%s", text.c_str());
      app::LogEndLine();
      expected += text + "\r\n";
    }
    return expected;
  };
  EXPECT_TRUE(app::logsink::CaptureContents() == logAbout(3u * 1024 * 1024 + 7, 0));
  app::logsink::BeginCapture();
  EXPECT_EQ(app::logsink::CaptureContents(), "");
  const std::string expected = logAbout(1024 * 1024 + 3, 5);
  EXPECT_TRUE(app::logsink::CaptureContents() == expected);
  const app::ReportText taken = app::logsink::TakeCapture();
  EXPECT_EQ(taken.Size(), expected.size());
  EXPECT_TRUE(taken.Joined() == expected);
  EXPECT_EQ(app::logsink::CaptureContents(), "");
  app::LogPrintf("after\n");
  EXPECT_EQ(app::logsink::TakeCapture().Joined(), "after\n");
}

uint64_t fakeNow = 0;
uint64_t FakeClock() {
  return fakeNow;
}

TEST(LogSink, StopwatchArmsOnFirstCallThenReportsRunAndInterval) {
  ConsoleCapture console;
  app::logsink::SetStopwatchClock(FakeClock);
  fakeNow = 7000000000ull;
  app::LogStopwatch();
  EXPECT_EQ(app::logsink::CaptureContents(), "");
  fakeNow += 1500000000ull;
  app::LogStopwatch();
  fakeNow += 250000000ull;
  app::LogStopwatch();
  app::logsink::SetStopwatchClock(nullptr);
  EXPECT_EQ(app::logsink::CaptureContents(),
            "Run Time: 1.500000  Interval Time: 1.500000\r\n"
            "Run Time: 1.750000  Interval Time: 0.250000\r\n");
  EXPECT_EQ(console.Text(),
            "Run Time: 1.500000  Interval Time: 1.500000\n"
            "Run Time: 1.750000  Interval Time: 0.250000\n");
}

TEST(LogSink, BeginCaptureEmptiesBufferAndRearmsStopwatch) {
  ConsoleCapture console;
  app::LogStopwatch();
  app::LogPrintf("old\n");
  app::logsink::BeginCapture();
  app::LogStopwatch(); // armed again: prints nothing
  EXPECT_EQ(app::logsink::CaptureContents(), "");
}

// Eight threads log at once: every message arrives exactly once and whole,
// each thread's messages in its own order, and console and report agree.
TEST(LogSink, ConcurrentLoggersLoseAndSplitNothing) {
  ConsoleCapture console;
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &go] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kLines; ++i) app::LogPrintf("thread %d line %d of a message long enough to tear\n", t, i);
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();

  const std::string capture = app::logsink::CaptureContents();
  EXPECT_EQ(console.Text(), capture);
  std::istringstream lines(capture);
  std::string line;
  std::map<int, int> nextLine;
  int count = 0;
  while (std::getline(lines, line)) {
    int thread = -1;
    int index = -1;
    char tail[64] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d of a message long enough to %63s", &thread, &index, tail), 3)
        << line;
    ASSERT_STREQ(tail, "tear");
    ASSERT_EQ(index, nextLine[thread]) << "thread " << thread << " out of order";
    ++nextLine[thread];
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

} // namespace
