#include "testkit/fake_winmm/callback_scope.h"

#include <string>

#include "testkit/fake_winmm/records.h"

namespace fake_winmm {

namespace {

thread_local int callbackDepth = 0;

} // namespace

CallbackScope::CallbackScope() {
  ++callbackDepth;
}

CallbackScope::~CallbackScope() {
  --callbackDepth;
}

void CheckNotInCallback(const char* function) {
  if (callbackDepth > 0) RecordViolation(std::string(function) + " called from inside the driver callback");
}

} // namespace fake_winmm
