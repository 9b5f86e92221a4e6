#include "midi/held_buffers.h"

#include <mutex>
#include <vector>

namespace {

struct Retained {
  std::mutex lock;
  std::vector<std::shared_ptr<void>> blocks;
};

Retained& TheRetained() {
  // Never destroyed: a port may read the blocks until the process is gone.
  static Retained* retained = new Retained;
  return *retained;
}

} // namespace

void RetainWhilePortHolds(std::shared_ptr<void> block) {
  Retained& retained = TheRetained();
  std::lock_guard<std::mutex> guard(retained.lock);
  retained.blocks.push_back(std::move(block));
}

size_t RetainedBlockCount() {
  Retained& retained = TheRetained();
  std::lock_guard<std::mutex> guard(retained.lock);
  return retained.blocks.size();
}
