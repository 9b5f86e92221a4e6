// RtMidi's errors as the port layer's result codes.
//
// RtMidi reports a failure by printing it to stderr and throwing, unless an
// error callback is set, in which case it calls the callback and carries on.
// The layer sets an ErrorSink as the callback of every RtMidi object it
// creates, so that nothing is printed behind the tool's back and a failed call
// becomes a result code the device layer prints and goes past. Constructors
// cannot have a callback yet; their exceptions are caught and mapped the same
// way.
//
// Mapping (RtMidiError::Type -> result):
//   INVALID_DEVICE, NO_DEVICES_FOUND          -> 2  kBadDeviceId
//   MEMORY_ERROR                              -> 7  kNoMem
//   INVALID_PARAMETER                         -> 11 kInvalParam
//   INVALID_USE                               -> 5  kInvalidHandle
//   WARNING, UNSPECIFIED, DRIVER_ERROR,
//   SYSTEM_ERROR, THREAD_ERROR                -> 1  kError
//   DEBUG_WARNING                             -> not a failure
// A WARNING counts as a failure: RtMidi reports with it, among others, a
// port that cannot be found, a lost JACK server and an ALSA send that failed.
//
// Threads: RtMidi may call the callback on its own threads (the ALSA input
// thread), so the sink keeps only an atomic.
#pragma once

#include <atomic>
#include <string>

#include <RtMidi.h>

#include "midi/port/port.h"

namespace port::rtmidi {

[[nodiscard]] port::Result ResultFromRtMidiError(RtMidiError::Type type);

class ErrorSink {
 public:
  // RtMidi's error callback; userData is the ErrorSink.
  static void Callback(RtMidiError::Type type, const std::string& text, void* userData);

  // Forgets earlier errors, before a call whose outcome is wanted.
  void Clear() { first.store(kNone, std::memory_order_relaxed); }
  // The first failure since Clear, as a result code; kNoError for none.
  [[nodiscard]] port::Result Result() const;

 private:
  static constexpr int kNone = -1;
  std::atomic<int> first{kNone};
};

} // namespace port::rtmidi
