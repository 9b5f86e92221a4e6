#include "testkit/controllers/reply_flood_controller.h"

namespace testkit {

using namespace port::sim;

void ReplyFloodController::Rewrite(ControllerEvent event, ControllerLink& link) {
  for (int copy = 0; copy < copies; ++copy) {
    ControllerEvent again = event;
    if (copy > 0) again.delay = {}; // the copies follow at once
    link.Send(std::move(again));
  }
}

} // namespace testkit
