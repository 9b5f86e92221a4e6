// A controller that answers every request many times over, back to back,
// faster than the host can deal with the answers: a stuck firmware loop, or
// a MIDI merger that echoes. Built over a faithful model: each event the
// model sends reaches the host copies times.
#pragma once

#include "testkit/controllers/reply_rewriter.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

class ReplyFloodController final : public ReplyRewriter {
 public:
  ReplyFloodController(std::shared_ptr<VirtualController> inner, int copies)
      : ReplyRewriter(std::move(inner)), copies(copies) {}

 protected:
  void Rewrite(ControllerEvent event, ControllerLink& link) override;

 private:
  int copies;
};

} // namespace testkit
