// Memory that a MIDI service may still read after the tool has given up on it.
//
// When a port refuses to give a buffer back (a send still playing, an input
// buffer still queued), freeing the buffer would let the service read or write
// freed memory. Such buffers are handed here and kept for the rest of the
// process. They stay reachable, so leak checkers do not report them.
#pragma once

#include <cstddef>
#include <memory>

void RetainWhilePortHolds(std::shared_ptr<void> block);

// How many blocks are retained; for tests.
size_t RetainedBlockCount();
