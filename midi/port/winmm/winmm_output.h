// The output half of the winmm layer: midiOut* one to one, keeping winmm's
// result codes. Ports are opened without a callback; a send is prepared,
// sent and released by its caller, who retries as it sees fit.
//
// Threads: any thread may send; each send uses its own header, so the calls
// share no state here.
//
// Ownership: each prepared header has a MIDIHDR of the layer's own, the one
// winmm sees, pointing at the caller's bytes. It is freed only once winmm has
// released it; a header whose release is refused keeps its MIDIHDR for as
// long as the caller keeps trying (and for good, when the caller gives up).
#pragma once

#include <string>

#include "midi/port/port.h"

namespace port::winmm {

class WinmmOutput final {
 public:
  unsigned Count();
  [[nodiscard]] Result Name(unsigned index, std::string& name);
  [[nodiscard]] Result Open(unsigned index, OutputHandle& handle);
  [[nodiscard]] Result Prepare(OutputHandle handle, MidiHeader& header);
  [[nodiscard]] Result Send(OutputHandle handle, MidiHeader& header);
  [[nodiscard]] Result Unprepare(OutputHandle handle, MidiHeader& header);
};

} // namespace port::winmm
