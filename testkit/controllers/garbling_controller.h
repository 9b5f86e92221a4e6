// A controller that answers every request, but wrongly: with garbage in
// place of each reply, or with the reply cut short or stretched (a
// firmware that drops bytes, or pads). Built over a faithful model,
// so it answers exactly when and what the real device would, and spoils it.
//
// Garbage is a burst of events of every kind the host knows: short messages
// with any status (a System Exclusive start among them), long messages of
// any length and any bytes, broken short and long messages, and stray port
// events (opened, closed, more data, codes nobody knows). It comes from a
// fixed seed, so a run can be repeated.
#pragma once

#include <cstdint>

#include "testkit/controllers/reply_rewriter.h"

namespace testkit {

// The kit is built on the simulated service and speaks its language.
using namespace port::sim;

class GarblingController final : public ReplyRewriter {
 public:
  enum class Garble {
    Garbage,   // each reply becomes a burst of random events
    Truncated, // each long reply loses the second half of its bytes but keeps its F7
    Stretched, // each long reply grows by half, data bytes 01 before its F7
  };
  GarblingController(std::shared_ptr<VirtualController> inner, Garble garble, uint32_t seed = 1)
      : ReplyRewriter(std::move(inner)), garble(garble), state(seed == 0 ? 1 : seed) {}

  static constexpr int kGarbageBurst = 24; // events in place of each reply

 protected:
  void Rewrite(ControllerEvent event, ControllerLink& link) override;

 private:
  uint32_t Random(); // xorshift32
  ControllerEvent GarbageEvent();

  Garble garble;
  uint32_t state;
};

} // namespace testkit
