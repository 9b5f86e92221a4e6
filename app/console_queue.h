// The console's side of the log sink: text queued in the log's order and
// written by a thread of its own.
//
// A console may stall: a pipe nobody reads, or a Windows console window in
// which the user has selected text (QuickEdit holds all output until a key
// is pressed). No logging thread, no input callback and no step of the
// report may wait for it, so Push only copies the text into a queue and
// wakes the writer thread; the console then lags, but the capture and the
// report do not. The queue is bounded: while the console takes nothing,
// text beyond kConsoleQueueLimit is left out of the console (the capture
// keeps it), and once half the bound is free again, at the start of a
// line, the console is told how many lines it missed:
//   "(%llu lines left out here: the console was not taking output)\n"
//
// Threads: Push, SetWriter and Drain from any thread. The queue's lock may
// be the caller's: the log sink gives its own, and queues with PushLocked
// while it holds it, which keeps the console's order the log's at the cost
// of one lock a line.
// The writer thread alone calls the ConsoleWriter. If that thread cannot be
// started, Push writes at once on the caller's thread, as before.
//
// Lifetime: the log sink's queue and its thread live until the process
// ends; the thread never holds anything a process exit waits for, except
// inside a console write that does not return (see Drain). A queue that is
// destroyed (in tests) ends its thread first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "app/log_sink.h"

namespace app {

namespace logsink {

constexpr size_t kConsoleQueueLimit = size_t{1} << 20; // 1 MB of text

// One part of a text that is handed over in parts.
struct TextPiece {
  const char* text;
  size_t length;
};

class ConsoleQueue {
 public:
  // writer: where text goes until SetWriter says otherwise; flushDelay:
  // how often a writer with unflushed text is asked to flush what is due.
  // lock: the mutex that guards the queue; the writer thread holds it only
  // to take the queued text.
  ConsoleQueue(std::mutex& lock, ConsoleWriter* writer, size_t limit, std::chrono::nanoseconds flushDelay);
  ~ConsoleQueue();
  ConsoleQueue(const ConsoleQueue&) = delete;
  ConsoleQueue& operator=(const ConsoleQueue&) = delete;

  // Queues text for the console; never waits for the console itself.
  void Push(const char* text, size_t length);
  // The same, with the queue's lock already held.
  void PushLocked(const char* text, size_t length);
  // One text given in pieces, with the lock held: kept or left out whole.
  void PushLocked(const TextPiece* pieces, size_t count);
  // Sends text to writer from now on, once everything queued before has
  // gone to the old one.
  void SetWriter(ConsoleWriter* writer);
  // Waits at most patience until everything queued so far is written and
  // flushed. False when the console did not take it in time: then a write
  // may be stuck inside the console, and exiting the process normally (which
  // flushes standard output) would wait for it too.
  bool Drain(std::chrono::milliseconds patience);
  // Lines left out of the console so far, over the whole run.
  uint64_t LinesLeftOut();

 private:
  void Run();
  bool StartLocked();
  void WriteLocked(const char* text, size_t length);

  const size_t limit;
  const std::chrono::nanoseconds flushDelay;
  std::mutex& lock;
  std::condition_variable textQueued; // the writer thread waits here
  std::condition_variable written;    // Drain and SetWriter wait here
  ConsoleWriter* writer;
  std::string pending;
  uint64_t leftOutSinceRoom = 0; // lines dropped since the queue last took text
  bool leavingOut = false;
  bool leftOutEndsLine = false; // the last text left out ended its line
  uint64_t leftOutInAll = 0;
  bool writing = false;
  uint64_t drainsAsked = 0;
  uint64_t drainsDone = 0;
  bool started = false;
  bool noThread = false;        // the thread could not be started: write at once
  bool writerWaiting = false;   // waits for text: the next Push wakes it
  bool writerGathering = false; // lets text gather: woken only once a lot has
  bool ending = false;
  std::thread thread;
};

} // namespace logsink

} // namespace app
