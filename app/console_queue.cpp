#include "app/console_queue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

namespace app {

namespace logsink {

namespace {

constexpr std::chrono::milliseconds kGatherTime{1};

// memchr, not a loop over each byte: a console left behind by a flood
// counts every line it does not get, at the flood's pace.
uint64_t LineEnds(const char* text, size_t length) {
  uint64_t count = 0;
  for (const char* end = text + length;;) {
    const void* found = std::memchr(text, '\n', static_cast<size_t>(end - text));
    if (found == nullptr) return count;
    ++count;
    text = static_cast<const char*>(found) + 1;
  }
}

} // namespace

ConsoleQueue::ConsoleQueue(std::mutex& lock, ConsoleWriter* writer, size_t limit, std::chrono::nanoseconds flushDelay)
    : limit(limit), flushDelay(flushDelay), lock(lock), writer(writer) {}

ConsoleQueue::~ConsoleQueue() {
  {
    std::lock_guard<std::mutex> guard(lock);
    ending = true;
    textQueued.notify_one();
  }
  if (thread.joinable()) thread.join();
}

bool ConsoleQueue::StartLocked() {
  if (started) return !noThread;
  started = true;
  try {
    thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    noThread = true;
  }
  return !noThread;
}

void ConsoleQueue::WriteLocked(const char* text, size_t length) {
  writer->Write(text, length);
}

void ConsoleQueue::Push(const char* text, size_t length) {
  std::lock_guard<std::mutex> guard(lock);
  PushLocked(text, length);
}

void ConsoleQueue::PushLocked(const char* text, size_t length) {
  const TextPiece piece{text, length};
  PushLocked(&piece, 1);
}

void ConsoleQueue::PushLocked(const TextPiece* pieces, size_t count) {
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length += pieces[i].length;
  if (length == 0) return;
  if (!StartLocked()) {
    for (size_t i = 0; i < count; ++i) {
      if (pieces[i].length > 0) WriteLocked(pieces[i].text, pieces[i].length);
    }
    return;
  }
  // Once text is left out, the console takes text again only when it has
  // made room for a good part of the bound, and at the start of a line.
  const size_t room = leavingOut ? limit / 2 : limit;
  if (pending.size() + length > room || (leavingOut && !leftOutEndsLine)) {
    // The console has taken nothing for a while: this text is for the
    // report only. Counted in line ends, at least one for what was cut;
    // counted only here, so that text the console takes costs no count.
    leavingOut = true;
    for (size_t i = 0; i < count; ++i) {
      if (pieces[i].length == 0) continue;
      leftOutSinceRoom += LineEnds(pieces[i].text, pieces[i].length);
      leftOutEndsLine = pieces[i].text[pieces[i].length - 1] == '\n';
    }
    return;
  }
  if (leavingOut) {
    const uint64_t lines = std::max<uint64_t>(leftOutSinceRoom, 1);
    leftOutInAll += lines;
    char note[96];
    const int noteLength =
        std::snprintf(note, sizeof note, "(%llu lines left out here: the console was not taking output)\n",
                      static_cast<unsigned long long>(lines));
    if (noteLength > 0) pending.append(note, static_cast<size_t>(noteLength));
    leavingOut = false;
    leftOutSinceRoom = 0;
  }
  for (size_t i = 0; i < count; ++i) pending.append(pieces[i].text, pieces[i].length);
  // A busy writer finds the text when it comes back for more; waking it
  // would cost a system call a message. So it is woken once when it waits,
  // and once more when a quarter of the bound has gathered meanwhile.
  if (writerWaiting || (writerGathering && pending.size() >= limit / 4)) {
    writerWaiting = false;
    writerGathering = false;
    textQueued.notify_one();
  }
}

void ConsoleQueue::Run() {
  std::string batch;
  std::unique_lock<std::mutex> guard(lock);
  for (;;) {
    writerWaiting = true;
    const auto work = [this] { return ending || !pending.empty() || drainsAsked > drainsDone; };
    if (writer->HasUnflushed()) {
      // Text that waits for its flush is flushed when its time is up, even
      // if nothing more comes.
      textQueued.wait_for(guard, flushDelay, work);
    } else {
      textQueued.wait(guard, work);
    }
    writerWaiting = false;
    if (ending) return;
    // Woken by the first text after a quiet spell: let more gather before
    // writing. Meanwhile nobody wakes this thread again, which would cost
    // every logging thread a system call a line; a person watching the
    // console does not see the millisecond.
    if (drainsAsked == drainsDone && pending.size() < limit / 4) {
      writerGathering = true;
      textQueued.wait_for(guard, kGatherTime,
                          [this] { return ending || drainsAsked > drainsDone || pending.size() >= limit / 4; });
      writerGathering = false;
      if (ending) return;
    }
    batch.swap(pending);
    ConsoleWriter* target = writer;
    const uint64_t drains = drainsAsked;
    writing = true;
    guard.unlock();
    // The console may take its time here; nobody else waits for it.
    if (!batch.empty()) target->Write(batch.data(), batch.size());
    target->Flush(drains > drainsDone);
    batch.clear();
    guard.lock();
    writing = false;
    if (pending.empty()) drainsDone = drains;
    written.notify_all();
  }
}

void ConsoleQueue::SetWriter(ConsoleWriter* newWriter) {
  std::unique_lock<std::mutex> guard(lock);
  if (started && !noThread) {
    const uint64_t ticket = ++drainsAsked;
    textQueued.notify_one();
    written.wait(guard, [this, ticket] { return drainsDone >= ticket && pending.empty() && !writing; });
  }
  writer = newWriter;
}

bool ConsoleQueue::Drain(std::chrono::milliseconds patience) {
  std::unique_lock<std::mutex> guard(lock);
  if (!started || noThread) {
    writer->Flush(true);
    return true;
  }
  const uint64_t ticket = ++drainsAsked;
  textQueued.notify_one();
  return written.wait_for(guard, patience,
                          [this, ticket] { return drainsDone >= ticket && pending.empty() && !writing; });
}

uint64_t ConsoleQueue::LinesLeftOut() {
  std::lock_guard<std::mutex> guard(lock);
  return leftOutInAll + (leavingOut ? std::max<uint64_t>(leftOutSinceRoom, 1) : 0);
}

} // namespace logsink

} // namespace app
