// A controller in front of another: the inner one, a faithful model of a
// controller family, decides what to answer; the rewriter changes what
// actually reaches the host. Misbehaving controllers are built this way
// from well-behaved ones, so they misbehave exactly where the real device
// would have answered.
//
// Threads: the host calls one operation at a time; the inner controller may
// send from other threads too (a surface played by a test), so rewriting is
// serialised by the rewriter's own lock.
#pragma once

#include <memory>
#include <mutex>

#include "midi/port/simulated/virtual_controller.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

class ReplyRewriter : public VirtualController {
 public:
  explicit ReplyRewriter(std::shared_ptr<VirtualController> inner);
  ~ReplyRewriter() override;
  void OnInputStarted(ControllerLink& link) override;
  void OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) override;

 protected:
  // One event the inner controller sends; whatever replaces it goes to the
  // host through link. Called under the rewriter's lock.
  virtual void Rewrite(ControllerEvent event, ControllerLink& link) = 0;

 private:
  class InnerLink;
  std::shared_ptr<VirtualController> inner;
  std::unique_ptr<InnerLink> innerLink;
  std::mutex lock;
};

} // namespace testkit
