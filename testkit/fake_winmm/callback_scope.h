// Whether the calling thread is inside the program's driver callback, where
// winmm allows no multimedia call.
#pragma once

namespace fake_winmm {

// Marks the thread as inside the callback for the object's lifetime.
class CallbackScope {
 public:
  CallbackScope();
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

// Records a breach when the thread is inside the callback.
void CheckNotInCallback(const char* function);

} // namespace fake_winmm
