// CXTouchMini::MapEvents on any list of events, compared with a plain
// reference of its rules.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "handlers/xtouch_mini.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

uint32_t Word32(FuzzInput& input) {
  return static_cast<uint32_t>(input.Word()) | (static_cast<uint32_t>(input.Word()) << 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  CXTouchMini handler;
  handler.lowerRangeActive = (input.Byte() & 1) != 0;
  std::vector<MIDIEvent> events;
  while (!input.Empty() && events.size() < 256) {
    MIDIEvent event;
    event.kind = static_cast<int32_t>(Word32(input));
    event.channel = input.Byte();
    // Numbers near the rule boundaries are the interesting ones.
    event.number = (input.Byte() & 0x80) ? Word32(input) : input.Byte() % 64;
    event.value = static_cast<int32_t>(Word32(input));
    events.push_back(event);
  }
  // The rules, written out plainly as an independent reference.
  std::vector<MIDIEvent> lower = {{1, 0, 0, 0}};
  std::vector<MIDIEvent> upper = {{1, 0, 1, 0}};
  for (MIDIEvent event : events) {
    if (event.kind == 0) {
      if (event.number <= 8) lower.push_back(event);
      if (event.number >= 11) upper.push_back(event);
    } else if (event.number >= 8 && event.number <= 23) {
      event.number -= 8;
      lower.push_back(event);
    } else if (event.number >= 32 && event.number <= 47) {
      event.number -= 32;
      upper.push_back(event);
    }
  }
  std::vector<MIDIEvent> expected;
  const bool lowerFirst = !handler.lowerRangeActive || upper.size() < 2;
  const std::vector<MIDIEvent>& first = lowerFirst ? lower : upper;
  expected.insert(expected.end(), first.begin(), first.end());
  if (!handler.lowerRangeActive) expected.insert(expected.end(), upper.begin(), upper.end());
  if (handler.lowerRangeActive && !lowerFirst) expected.insert(expected.end(), lower.begin(), lower.end());

  handler.MapEvents(events);
  Require(events == expected, "the events are mapped by the X-TOUCH MINI's rules");
  return 0;
}
