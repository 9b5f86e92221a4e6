// A controller whose cable is pulled right after it has answered a given
// number of times: its last answer is already on its way and still comes
// in, but whatever the host sends from then on fails, and its input port
// reports itself closed.
//
// Threads: as ReplyRewriter.
#pragma once

#include "testkit/controllers/reply_rewriter.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

class UnpluggingController final : public ReplyRewriter {
 public:
  UnpluggingController(std::shared_ptr<VirtualController> inner, int answersBeforeUnplug)
      : ReplyRewriter(std::move(inner)), answersLeft(answersBeforeUnplug) {}

 private:
  void Rewrite(ControllerEvent event, ControllerLink& link) override;

  int answersLeft; // under the rewriter's lock
};

} // namespace testkit
